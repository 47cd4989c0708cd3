// What the environment, the language file and child processes can throw at us:
// nothing may crash, hang, lose or duplicate a line, or block the main thread.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "i18n/lang.h"
#include "packages/plan_runner.h"
#include "process/command.h"
#include "test_support.h"

namespace kelmora {
namespace {

using test::FakeTools;
using test::TempDir;

// The installer's lines after the "Starting:" line.
test::InstallRun install_with(FakeTools& fakes, const std::string& script) {
    fakes.add_script("xbps-install", script);
    test::InstallRun run = test::run_installer({"pkg"}, std::chrono::seconds(60));
    if (!run.lines.empty()) run.lines.erase(run.lines.begin());
    return run;
}

TEST(ChildOutput, AMillionShortLinesArriveOnceAndInOrderPerStream) {
    FakeTools fakes;
    const auto o = install_with(fakes, "seq 1 1000000 & seq 1 300000 >&2\nwait\n");
    EXPECT_TRUE(o.ok);
    long out = 0, err = 0;
    for (const auto& l : o.lines) {
        if (l.rfind("[Error] ", 0) == 0) {
            ASSERT_EQ(l, "[Error] " + std::to_string(++err));
        } else {
            ASSERT_EQ(l, std::to_string(++out));
        }
    }
    EXPECT_EQ(out, 1000000);
    EXPECT_EQ(err, 300000);
}

TEST(ChildOutput, OddLinesAreDeliveredWhole) {
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> lines;
        bool ok;
    } cases[] = {
        {"NUL bytes inside a line", "printf 'a\\000b\\n'\n", {std::string("a\0b", 3)}, true},
        {"carriage returns only", "printf 'a\\rb\\r'\n", {"a\rb\r"}, true},
        {"killed by SIGKILL mid-line", "printf 'partial'\nkill -9 $$\n", {"partial"}, false},
        {"invalid UTF-8 between lines", "printf 'x\\n\\377\\n\\300\\257\\ny'\n", {"x", "y"}, true},
        {"empty output, exit 3", "exit 3\n", {}, false},
    };
    for (const auto& c : cases) {
        FakeTools fakes;
        const auto o = install_with(fakes, c.script);
        EXPECT_EQ(o.lines, c.lines) << c.name;
        EXPECT_EQ(o.ok, c.ok) << c.name;
    }
}

TEST(ChildOutput, SixteenMebibyteLineWithoutNewline) {
    FakeTools fakes;
    std::filesystem::create_symlink("/usr/bin/head", fakes.bin() / "head2");
    const auto o = install_with(fakes, "head2 -c 16777216 /dev/zero | tr '\\000' a\n");
    ASSERT_EQ(o.lines.size(), 1u);
    EXPECT_EQ(o.lines[0].size(), 16777216u);
    EXPECT_EQ(o.lines[0].find_first_not_of('a'), std::string::npos);
}

// Runs `check` as an unprivileged user (root ignores file permissions).
bool unprivileged(const std::filesystem::path& dir, const std::function<bool()>& check) {
    if (::geteuid() != 0) return check();
    if (::chown(dir.c_str(), 65534, 65534) != 0) return false;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool ok =
            ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0 && check();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status == 0;
}

TEST(Environment, HomeVariantsNeverFailAndFallBackSoundly) {
    test::EnvGuard env;
    env.set("LANG", "fr_FR.UTF-8");
    env.set("LC_ALL", std::nullopt);
    env.set("LC_MESSAGES", std::nullopt);

    env.set("HOME", std::nullopt);
    EXPECT_EQ(get_config_path(), "/tmp/.config/kelmora");
    env.set("HOME", "/home/\xFF\xFE");
    EXPECT_EQ(get_config_path(), "/tmp/.config/kelmora");

    {  // empty: relative to the working directory
        TempDir cwd;
        const auto old = std::filesystem::current_path();
        std::filesystem::current_path(cwd.path());
        env.set("HOME", "");
        EXPECT_EQ(load_lang(), Lang::Fr);
        std::filesystem::current_path(old);
        EXPECT_EQ(test::read_file(cwd / ".config/kelmora/lang"), "fr");
    }
    {  // missing: created
        TempDir tmp;
        env.set("HOME", (tmp / "not/yet").string());
        EXPECT_EQ(load_lang(), Lang::Fr);
        EXPECT_EQ(test::read_file(tmp / "not/yet/.config/kelmora/lang"), "fr");
    }
    {  // a file: nothing can be stored, the detected language still applies
        TempDir tmp;
        test::write_file(tmp / "file", "x");
        env.set("HOME", (tmp / "file").string());
        EXPECT_EQ(load_lang(), Lang::Fr);
        save_lang(Lang::De);
        EXPECT_EQ(test::read_file(tmp / "file"), "x");
    }
    {  // read-only: detection every time, no error
        TempDir tmp;
        std::filesystem::create_directories(tmp / "ro");
        ::chmod((tmp / "ro").c_str(), 0555);
        env.set("HOME", (tmp / "ro").string());
        EXPECT_TRUE(unprivileged(tmp.path(), [&] {
            save_lang(Lang::De);
            return load_lang() == Lang::Fr && !std::filesystem::exists(tmp / "ro/.config");
        }));
    }
}

TEST(LanguageFile, HostileFilesGiveALanguageWithoutHangingOrRewritingText) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path& file)> make;
        Lang expected;
        std::optional<std::string> content_after;  // nullopt: not checked
    } cases[] = {
        {"empty", [](auto& f) { test::write_file(f, ""); }, Lang::En, ""},
        {"DE and a line feed", [](auto& f) { test::write_file(f, "DE\n"); }, Lang::De, "DE\n"},
        {"1 MiB of white space", [](auto& f) { test::write_file(f, std::string(1 << 20, ' ')); },
         Lang::En, std::string(1 << 20, ' ')},
        {"white space around es",
         [](auto& f) { test::write_file(f, std::string(1 << 20, '\n') + "es"); }, Lang::Es,
         std::nullopt},
        {"NUL bytes", [](auto& f) { test::write_file(f, std::string("de\0\0", 4)); }, Lang::En,
         std::nullopt},
        {"invalid UTF-8", [](auto& f) { test::write_file(f, "d\xE9"); }, Lang::Fr, "fr"},
        {"a directory", [](auto& f) { std::filesystem::create_directory(f); }, Lang::Fr,
         std::nullopt},
        {"a FIFO", [](auto& f) { ::mkfifo(f.c_str(), 0600); }, Lang::Fr, std::nullopt},
        {"a link to /dev/zero", [](auto& f) { std::filesystem::create_symlink("/dev/zero", f); },
         Lang::Fr, std::nullopt},
        {"a dangling link",
         [](auto& f) { std::filesystem::create_symlink(f.parent_path() / "gone", f); }, Lang::Fr,
         "fr"},
    };
    for (const auto& c : cases) {
        TempDir home;
        const ConfigLocation where{home / "cfg", false};
        std::filesystem::create_directories(where.dir);
        c.make(where.dir / "lang");
        EXPECT_EQ(load_lang_at(where,
                               [](const char* n) -> std::optional<std::string> {
                                   return std::string(n) == "LANG"
                                              ? std::optional<std::string>("fr_FR")
                                              : std::nullopt;
                               }),
                  c.expected)
            << c.name;
        if (c.content_after) {
            EXPECT_EQ(test::read_file(where.dir / "lang"), *c.content_after) << c.name;
        }
    }
}

TEST(LanguageFile, UnreadableFileAndReadOnlyDirectory) {
    TempDir home;
    const ConfigLocation where{home / "cfg", false};
    std::filesystem::create_directories(where.dir);
    test::write_file(where.dir / "lang", "de");
    ::chmod((where.dir / "lang").c_str(), 0);
    const auto fr = [](const char* n) -> std::optional<std::string> {
        return std::string(n) == "LANG" ? std::optional<std::string>("fr") : std::nullopt;
    };
    EXPECT_TRUE(unprivileged(home.path(), [&] {
        ::chown((where.dir).c_str(), 65534, 65534);
        return load_lang_at(where, fr) ==
               Lang::Fr;  // unreadable: detected; the write fails quietly
    }));
    TempDir ro;
    std::filesystem::create_directories(ro / "cfg");
    ::chmod((ro / "cfg").c_str(), 0555);
    EXPECT_TRUE(unprivileged(ro.path(), [&] {
        return load_lang_at({ro / "cfg", false}, fr) == Lang::Fr &&
               !std::filesystem::exists(ro / "cfg/lang");
    }));
}

}  // namespace
}  // namespace kelmora
