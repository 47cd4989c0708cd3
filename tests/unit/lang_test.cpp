#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "i18n/lang.h"
#include "test_support.h"

namespace kelmora {
namespace {

using test::read_file;
using test::TempDir;
using test::write_file;

EnvLookup env(std::map<std::string, std::string> vars) {
    return [vars](const char* name) -> std::optional<std::string> {
        auto it = vars.find(name);
        if (it == vars.end()) return std::nullopt;
        return it->second;
    };
}

TEST(Lang, IndexConversionFallsBackToEnglish) {
    EXPECT_EQ(lang_from_index(0), Lang::En);
    EXPECT_EQ(lang_from_index(1), Lang::De);
    EXPECT_EQ(lang_from_index(2), Lang::Es);
    EXPECT_EQ(lang_from_index(3), Lang::Fr);
    for (int i : {-1, 4, 255, -1000}) EXPECT_EQ(lang_from_index(i), Lang::En) << i;
}

TEST(Lang, FileContentParsing) {
    const std::pair<std::string, std::optional<Lang>> cases[] = {
        {"de", Lang::De},
        {"DE\n", Lang::De},
        {"  fr  ", Lang::Fr},
        {"Es", Lang::Es},
        {"\xC2\xA0"
         "de\xE2\x80\x83",
         Lang::De},  // Unicode white space
        {"en", Lang::En},
        {"de_DE", Lang::En},
        {"", Lang::En},
        {"d e", Lang::En},
        {std::string(1 << 20, ' '), Lang::En},
        {std::string("de\0", 3), Lang::En},
        {"\xFF"
         "de",
         std::nullopt},  // not UTF-8: unreadable
    };
    for (const auto& [content, expected] : cases)
        EXPECT_EQ(parse_lang_file(content), expected) << "'" << content.substr(0, 20) << "'";
}

TEST(Lang, DetectionOrderAndPrefixes) {
    const std::pair<std::map<std::string, std::string>, Lang> cases[] = {
        {{{"LANG", "de_DE.UTF-8"}}, Lang::De},
        {{{"LANG", "fr"}}, Lang::Fr},
        {{{"LANG", "C"}, {"LC_ALL", "fr_FR.UTF-8"}}, Lang::En},  // LANG consulted first
        {{{"LANG", ""}, {"LC_ALL", "de_DE.UTF-8"}}, Lang::En},   // empty LANG counts as found
        {{{"LC_MESSAGES", "es_ES.UTF-8"}}, Lang::Es},
        {{{"LC_ALL", "de_AT"}, {"LC_MESSAGES", "es_ES"}}, Lang::De},
        {{{"LANG", "DE_de"}}, Lang::En},  // case-sensitive
        {{{"LANG", "POSIX"}}, Lang::En},
        {{{"LANG", "d"}}, Lang::En},
        {{{"LANG", "\xFF\xFE"}, {"LC_ALL", "fr_FR"}}, Lang::Fr},  // not UTF-8: passed over
        {{{"LANG", std::string(100000, 'x')}}, Lang::En},
        {{}, Lang::En},
    };
    for (const auto& [vars, expected] : cases) EXPECT_EQ(detect_lang_from(env(vars)), expected);
}

TEST(Lang, ConfigLocation) {
    EXPECT_EQ(config_location_from(env({{"HOME", "/home/u"}})).dir, "/home/u/.config/kelmora");
    EXPECT_FALSE(config_location_from(env({{"HOME", "/home/u"}})).shared_fallback);
    EXPECT_EQ(config_location_from(env({{"HOME", ""}})).dir, ".config/kelmora");
    for (const auto& vars : {std::map<std::string, std::string>{}, {{"HOME", "/h\xFF"}}}) {
        const ConfigLocation where = config_location_from(env(vars));
        EXPECT_EQ(where.dir, "/tmp/.config/kelmora");
        EXPECT_TRUE(where.shared_fallback);
    }
}

class LangFile : public ::testing::Test {
  protected:
    TempDir tmp;
    ConfigLocation where{tmp / "cfg" / "kelmora", false};
    std::filesystem::path file = where.dir / "lang";
    void store(const std::string& content) {
        std::filesystem::create_directories(where.dir);
        write_file(file, content);
    }
};

TEST_F(LangFile, FirstStartStoresExactlyTheDetectedCode) {
    EXPECT_EQ(load_lang_at(where, env({{"LANG", "de_DE.UTF-8"}})), Lang::De);
    EXPECT_EQ(read_file(file), "de");
    std::filesystem::remove(file);
    EXPECT_EQ(load_lang_at(where, env({})), Lang::En);
    EXPECT_EQ(read_file(file), "en");
}

TEST_F(LangFile, StoredChoiceWinsAndIsNotRewritten) {
    for (const std::string content : {"DE\n", "de_DE", "", "  fr  "}) {
        store(content);
        load_lang_at(where, env({{"LANG", "es_ES"}}));
        EXPECT_EQ(read_file(file), content);
    }
    store(" fr ");
    EXPECT_EQ(load_lang_at(where, env({{"LANG", "es_ES"}})), Lang::Fr);
}

TEST_F(LangFile, UnreadableFilesAreReplacedOrLeftAloneWithoutBlocking) {
    store("\xFF\xFE");
    EXPECT_EQ(load_lang_at(where, env({{"LANG", "es_ES"}})), Lang::Es);
    EXPECT_EQ(read_file(file), "es");

    // A FIFO without a writer would block a plain read; it counts as unreadable.
    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(load_lang_at(where, env({{"LANG", "fr_FR"}})), Lang::Fr);
    EXPECT_TRUE(std::filesystem::is_fifo(file));

    // A link to an endless device must neither hang nor exhaust memory.
    std::filesystem::remove(file);
    std::filesystem::create_symlink("/dev/zero", file);
    EXPECT_EQ(load_lang_at(where, env({{"LANG", "de"}})), Lang::De);

    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    EXPECT_EQ(load_lang_at(where, env({{"LANG", "de"}})), Lang::De);
    EXPECT_TRUE(std::filesystem::is_directory(file));
}

TEST_F(LangFile, WriteErrorsAreDropped) {
    // The config "directory" is a file: nothing can be created, nothing fails loudly.
    std::filesystem::create_directories(where.dir.parent_path());
    write_file(where.dir, "x");
    EXPECT_EQ(load_lang_at(where, env({{"LANG", "fr"}})), Lang::Fr);
    EXPECT_EQ(read_file(where.dir), "x");
}

TEST_F(LangFile, FileModeHonoursTheUmask) {
    const mode_t old = ::umask(022);
    write_lang_file(where.dir, Lang::Es, false);
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(read_file(file), "es");
    write_lang_file(where.dir, Lang::De, false);  // truncates
    EXPECT_EQ(read_file(file), "de");
}

TEST_F(LangFile, SharedFallbackIgnoresFilesOfOtherUsersAndLinks) {
    ConfigLocation shared{where.dir, true};
    std::filesystem::create_directories(shared.dir);
    std::filesystem::create_symlink(tmp / "planted", file);
    write_file(tmp / "planted", "fr");
    EXPECT_EQ(load_lang_at(shared, env({{"LANG", "de"}})), Lang::De);
    EXPECT_EQ(read_file(tmp / "planted"), "fr");  // the link was not followed for writing
    std::filesystem::remove(file);

    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
    store("fr");
    ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
    EXPECT_EQ(load_lang_at(shared, env({{"LANG", "es"}})), Lang::Es);
    EXPECT_EQ(read_file(file), "fr");
    EXPECT_EQ(load_lang_at(where, env({{"LANG", "es"}})), Lang::Fr);  // in HOME it is trusted
}

}  // namespace
}  // namespace kelmora
