#include <gtest/gtest.h>

#include "test_support.h"
#include "ui/status_lines.h"

namespace kelmora {
namespace {

const std::string grey = "<span foreground=\"#a1a1a1\">";
const std::string red = "<span foreground=\"#e01b24\" weight=\"bold\">\xE2\x97\x8B ";
const std::string green = "<span foreground=\"#2ec27e\" weight=\"bold\">\xE2\x97\x8F ";

TEST(ServiceStatus, MarkupPerStateAndLanguage) {
    // The prefixes are byte-exact: 27 bytes grey, 45 with a circle.
    EXPECT_EQ(status_markup(ServiceState::NotInstalled, Lang::En).find("Not installed"), 27u);
    EXPECT_EQ(status_markup(ServiceState::Inactive, Lang::En).find("Service inactive"), 45u);
    EXPECT_EQ(status_markup(ServiceState::Active, Lang::En).find("Service active"), 45u);
    EXPECT_EQ(status_markup(ServiceState::NotInstalled, Lang::Es), grey + "No instalado</span>");
    EXPECT_EQ(status_markup(ServiceState::Active, Lang::Fr), green + "Service actif</span>");
    EXPECT_EQ(status_markup(ServiceState::Active, Lang::De), green + "Dienst aktiv</span>");
    EXPECT_EQ(status_markup(ServiceState::Inactive, Lang::En), red + "Service inactive</span>");
    EXPECT_EQ(status_markup(ServiceState::NotInstalled, Lang::Fr),
              grey + "Non install\xC3\xA9</span>");
}

TEST(ServiceStatus, ProbeFollowsLinks) {
    test::TempDir tmp;
    const auto p = [&](const char* n) { return (tmp / n).string(); };
    test::write_file(tmp / "cupsd", "");
    std::filesystem::create_directory(tmp / "sv");
    std::filesystem::create_directory_symlink(tmp / "sv", tmp / "enabled");
    std::filesystem::create_directory_symlink(tmp / "gone", tmp / "dangling");

    EXPECT_EQ(probe_service(p("missing"), p("enabled")), ServiceState::NotInstalled);
    EXPECT_EQ(probe_service(p("cupsd"), p("absent")), ServiceState::Inactive);
    EXPECT_EQ(probe_service(p("cupsd"), p("dangling")), ServiceState::Inactive);
    EXPECT_EQ(probe_service(p("cupsd"), p("enabled")), ServiceState::Active);
    EXPECT_EQ(probe_service(p("cupsd/x"), p("enabled")), ServiceState::NotInstalled);  // ENOTDIR
}

}  // namespace
}  // namespace kelmora
