#include <gtest/gtest.h>

#include <set>

#include "i18n/catalogue.h"

namespace kelmora {
namespace {

constexpr Lang all_langs[] = {Lang::En, Lang::De, Lang::Es, Lang::Fr};

TEST(Catalogue, EveryKeyHasFourNonEmptyTextsAndAWellFormedKey) {
    std::set<std::string_view> keys;
    for (const auto& entry : catalogue) {
        EXPECT_TRUE(keys.insert(entry.key).second) << "duplicate key " << entry.key;
        EXPECT_GE(entry.key.size(), 6u) << entry.key;
        EXPECT_LE(entry.key.size(), 17u) << entry.key;
        for (char c : entry.key)
            EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_');
        for (Lang lang : all_langs) {
            EXPECT_FALSE(get_text(lang, entry.key).empty()) << entry.key;
            EXPECT_EQ(get_text(lang, entry.key), entry.text[static_cast<int>(lang)]);
        }
    }
    EXPECT_EQ(keys.size(), catalogue.size());
}

TEST(Catalogue, FrameTitlesBeginWithExactlyOneSpace) {
    for (const char* key : {"nv_title", "amd_title", "intel_title", "pr_srv_title", "pr_drv_title",
                            "scan_srv_title", "scan_apps_title"})
        for (Lang lang : all_langs) {
            const std::string_view t = get_text(lang, key);
            ASSERT_GE(t.size(), 2u);
            EXPECT_EQ(t[0], ' ') << key;
            EXPECT_NE(t[1], ' ') << key;
        }
}

TEST(Catalogue, BytesThatAreEasyToGetWrong) {
    EXPECT_EQ(get_text(Lang::Fr, "lang_select"), "Langue :");
    EXPECT_EQ(get_text(Lang::Fr, "lang_select").size(), 8u);
    EXPECT_EQ(get_text(Lang::Es, "tab_scanner"), "Esc\xC3\xA1ner");  // precomposed á
    for (Lang lang : {Lang::En, Lang::De, Lang::Fr})
        EXPECT_EQ(get_text(lang, "tab_scanner"), "Scanner");
    EXPECT_EQ(get_text(Lang::De, "nv_opt_older"), "\xC3\x84lterer Treiber (nvidia470)");
    for (Lang lang : all_langs) {
        EXPECT_EQ(get_text(lang, "nv_title"), " NVIDIA GeForce");
        EXPECT_EQ(get_text(lang, "amd_title"), " AMD Radeon");
        EXPECT_EQ(get_text(lang, "intel_title"), " Intel HD/UHD/Arc");
        EXPECT_NE(get_text(lang, "chk_brother_scan4").find("[nonfree]"), std::string_view::npos);
    }
}

TEST(Catalogue, LookupIsExactWithNoFallback) {
    for (const char* key : {"Nv_btn", "nv_opt", "nv_btn ", " nv_btn", "", "status", "unknown_key"})
        for (Lang lang : all_langs) EXPECT_TRUE(get_text(lang, key).empty()) << "'" << key << "'";
    // An embedded NUL makes a different key, not a prefix match.
    EXPECT_TRUE(get_text(Lang::En, std::string_view("nv_btn\0x", 8)).empty());
}

TEST(Catalogue, TextsWithoutKeysFollowTheLanguage) {
    EXPECT_EQ(window_title_text(Lang::En), "Void Linux System Setup");
    EXPECT_EQ(window_title_text(Lang::De), "Void Linux System-Setup");
    EXPECT_EQ(not_installed_text(Lang::Fr), "Non install\xC3\xA9");
    EXPECT_EQ(polkit_button_text(Lang::De), "Sicherheitsregel (Polkit) f\xC3\xBCr App einrichten");
    EXPECT_EQ(print_drivers_button_text(Lang::Fr),
              "Installer les pilotes d'imprimante s\xC3\xA9lectionn\xC3\xA9s");
    EXPECT_EQ(scan_components_button_text(Lang::Es), "Instalar paquetes de escaneo seleccionados");
}

}  // namespace
}  // namespace kelmora
