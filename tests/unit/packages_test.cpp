#include <gtest/gtest.h>

#include <algorithm>

#include <cerrno>

#include "packages/packages.h"
#include "packages/plan_runner.h"
#include "process/command.h"
#include "services/service_setup.h"

namespace kelmora {
namespace {

using L = PackageList;
const L repos = {"void-repo-multilib", "void-repo-multilib-nonfree", "void-repo-nonfree"};

L with_repos(L drivers) {
    L all = repos;
    all.insert(all.end(), drivers.begin(), drivers.end());
    return all;
}

TEST(Packages, NvidiaDriverPairFollowsTheActiveEntry) {
    EXPECT_EQ(nvidia_packages(0), with_repos({"nvidia", "nvidia-libs-32bit"}));
    EXPECT_EQ(nvidia_packages(1), with_repos({"nvidia470", "nvidia470-libs-32bit"}));
    EXPECT_EQ(nvidia_packages(2), with_repos({"nvidia390", "nvidia390-libs-32bit"}));
    EXPECT_EQ(nvidia_packages(3), with_repos({"nvidia580", "nvidia580-libs-32bit"}));
    for (int none : {-1, 4, 99}) EXPECT_EQ(nvidia_packages(none), nvidia_packages(0));
}

// Every set has its video decoding driver, and never names a package that
// Void does not build for the architecture (xbps would refuse the whole
// install): iHD on x86_64 only, i965 on x86 only.
TEST(Packages, GraphicsSetsBringVideoDecodingWhereVoidBuildsIt) {
    EXPECT_EQ(amd_packages(true),
              (L{"void-repo-multilib", "linux-firmware-amd", "mesa-dri", "vulkan-loader",
                 "mesa-vulkan-radeon", "xf86-video-amdgpu", "mesa-vaapi", "mesa-dri-32bit",
                 "vulkan-loader-32bit", "mesa-vulkan-radeon-32bit"}));
    EXPECT_EQ(intel_packages(true, CpuFamily::X86_64),
              (L{"void-repo-multilib", "linux-firmware-intel", "mesa-dri", "vulkan-loader",
                 "mesa-vulkan-intel", "intel-media-driver", "libva-intel-driver", "mesa-dri-32bit",
                 "vulkan-loader-32bit", "mesa-vulkan-intel-32bit"}));
    const struct {
        CpuFamily family;
        bool ihd, i965;
    } families[] = {{CpuFamily::X86_64, true, true},
                    {CpuFamily::I686, false, true},
                    {CpuFamily::Other, false, false}};
    for (const auto& f : families) {
        const L set = intel_packages(false, f.family);
        const auto has = [&set](std::string_view p) {
            return std::find(set.begin(), set.end(), p) != set.end();
        };
        EXPECT_EQ(has("intel-media-driver"), f.ihd) << static_cast<int>(f.family);
        EXPECT_EQ(has("libva-intel-driver"), f.i965) << static_cast<int>(f.family);
        EXPECT_FALSE(has("void-repo-multilib"));
    }
    EXPECT_EQ(amd_packages(false).back(), "mesa-vaapi");
}

TEST(Packages, CheckedBoxesAddTheirPackagesInWindowOrder) {
    EXPECT_EQ(print_driver_packages({false, false, false, false}), L{});
    EXPECT_EQ(print_driver_packages({false, false, false, true}),
              (L{"gutenprint", "foomatic-db", "foomatic-db-nonfree"}));
    EXPECT_EQ(print_driver_packages({true, true, true, true}),
              (L{"hplip", "brother-brlaser", "epson-inkjet-printer-escpr", "gutenprint",
                 "foomatic-db", "foomatic-db-nonfree"}));
    EXPECT_EQ(scanner_packages({false, false, false, false}), L{});
    EXPECT_EQ(scanner_packages({true, false, false, true}), (L{"brother-brscan4", "skanlite"}));
    EXPECT_EQ(scanner_packages({true, true, true, true}),
              (L{"brother-brscan4", "brother-brscan5", "simple-scan", "skanlite"}));
}

TEST(Packages, ServiceRecipes) {
    const auto dirs = [](const ServiceRecipe& r) {
        return std::vector<std::string_view>(r.service_dirs.begin(), r.service_dirs.end());
    };
    EXPECT_EQ(print_service_recipe().package_list(),
              (L{"cups", "cups-filters", "avahi", "nss-mdns", "avahi-utils"}));
    EXPECT_EQ(dirs(print_service_recipe()),
              (std::vector<std::string_view>{"/etc/sv/cupsd", "/etc/sv/avahi-daemon"}));
    EXPECT_EQ(scan_service_recipe().package_list(), (L{"sane", "sane-airscan"}));
    EXPECT_EQ(dirs(scan_service_recipe()), (std::vector<std::string_view>{"/etc/sv/saned"}));
}

TEST(Runner, StartingLineQuotesAndEscapes) {
    EXPECT_EQ(quoted_arg_list(xbps_install_args({"void-repo-multilib", "mesa-dri"})),
              R"(["xbps-install", "-Su", "-y", "void-repo-multilib", "mesa-dri"])");
    EXPECT_EQ(quoted_arg_list({"a\"b", "c\\d", ""}), R"(["a\"b", "c\\d", ""])");
    EXPECT_EQ(quoted_arg_list({}), "[]");
}

// Which pkexec failures mean that nothing ran because polkit could not ask
// (and what the window then does), read from pkexec's own messages.
TEST(Runner, PkexecFailuresThatMeanNoAgentOrNoPolkit) {
    const std::string no_agent =
        "Error executing command as another user: No authentication agent found.";
    const struct {
        const char* what;
        int start_error, status;
        std::vector<std::string> errors;
        PkexecProblem problem;
    } cases[] = {
        {"not on PATH", ENOENT, -1, {}, PkexecProblem::NoPkexec},
        {"not executable", EACCES, -1, {}, PkexecProblem::NoPkexec},
        {"no agent", 0, 127, {no_agent}, PkexecProblem::NoAgent},
        {"no terminal for its text agent",
         0,
         127,
         {"Error creating textual authentication agent: Error opening current controlling "
          "terminal for the process (`/dev/tty'): No such device or address (g-io-error-quark, 1)"},
         PkexecProblem::NoAgent},
        {"no system bus",
         0,
         127,
         {"Error getting authority: Error initializing authority: Could not connect: No such "
          "file or directory (g-io-error-quark, 1)"},
         PkexecProblem::NoAuthority},
        // The program itself may print the same words: only pkexec's 127 counts.
        {"the program said it and failed", 0, 1, {no_agent}, PkexecProblem::None},
        {"not authorized",
         0,
         127,
         {"Error executing command as another user: Not authorized"},
         PkexecProblem::None},
        {"a program that is missing",
         0,
         127,
         {"Cannot run program xbps-install: No such file or directory"},
         PkexecProblem::None},
        {"ran and succeeded", 0, 0, {}, PkexecProblem::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pkexec_problem(c.start_error, c.status, c.errors), c.problem) << c.what;
    CommandResult missing;
    missing.problem = PkexecProblem::NoPkexec;
    EXPECT_EQ(privileged_result(missing, false).kind, TaskResult::NoPkexec);
    CommandResult dismissed;
    dismissed.status = pkexec_dismissed_status;
    EXPECT_TRUE(privileged_result(dismissed, false).cancelled());
}

}  // namespace
}  // namespace kelmora
