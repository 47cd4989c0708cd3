// The privileged steps of one click, over tables of system states.
#include <gtest/gtest.h>

#include <algorithm>

#include "packages/install_plan.h"
#include "packages/kernel_modules.h"
#include "packages/packages.h"
#include "packages/repositories.h"
#include "test_support.h"

namespace kelmora {
namespace {

using Args = std::vector<std::string>;
using Kinds = std::vector<StepKind>;

Kinds kinds(const InstallPlan& plan) {
    Kinds k;
    for (const PlanStep& step : plan.steps) k.push_back(step.kind);
    return k;
}

TEST(InstallPlan, AnotherInstalledGenerationIsRemovedOnlyAfterTheHarmlessSteps) {
    const InstalledPackages current = {"xbps",
                                       "nvidia",
                                       "nvidia-libs",
                                       "nvidia-dkms",
                                       "nvidia-gtklibs",
                                       "nvidia-firmware",
                                       "nvidia-libs-32bit",
                                       "nvidia-vaapi-driver",
                                       "nvidia-container-toolkit",
                                       "mesa-dri"};
    const PackageList repos = {"void-repo-nonfree"};
    struct Case {
        const char* name;
        PackageList packages;
        InstalledPackages installed;
        PackageList missing;
        Kinds steps;
        std::vector<std::string> removed;
    } cases[] = {
        {"nothing installed", nvidia_packages(3), {"xbps"}, {}, {StepKind::Install}, {}},
        {"repositories missing",
         nvidia_packages(3),
         {"xbps"},
         repos,
         {StepKind::Repositories, StepKind::Install},
         {}},
        {"same generation again", nvidia_packages(0), current, {}, {StepKind::Install}, {}},
        {"current to 580",
         nvidia_packages(3),
         current,
         repos,
         {StepKind::Repositories, StepKind::SelfUpdate, StepKind::PoolCheck, StepKind::Remove,
          StepKind::Install},
         // Never the packages whose names merely begin alike.
         {"nvidia", "nvidia-libs", "nvidia-libs-32bit", "nvidia-dkms", "nvidia-gtklibs",
          "nvidia-firmware"}},
        {"390 to current",
         nvidia_packages(0),
         {"nvidia390", "nvidia390-libs", "nvidia390-opencl"},
         {},
         {StepKind::SelfUpdate, StepKind::PoolCheck, StepKind::Remove, StepKind::Install},
         {"nvidia390", "nvidia390-libs", "nvidia390-opencl"}},
        {"two generations half installed",
         nvidia_packages(1),
         {"nvidia-libs", "nvidia580-dkms", "nvidia470"},
         {},
         {StepKind::SelfUpdate, StepKind::PoolCheck, StepKind::Remove, StepKind::Install},
         {"nvidia-libs", "nvidia580-dkms"}},
        {"AMD beside an NVIDIA driver", amd_packages(), current, {}, {StepKind::Install}, {}},
    };
    for (const Case& c : cases) {
        const InstallPlan plan = plan_install(c.packages, c.installed, c.missing);
        EXPECT_EQ(kinds(plan), c.steps) << c.name;
        EXPECT_EQ(plan.removed, c.removed) << c.name;
        EXPECT_EQ(plan.steps.back().args, xbps_install_args(c.packages)) << c.name;
        for (const PlanStep& step : plan.steps) {
            if (step.kind == StepKind::Remove) {
                Args remove = {"xbps-remove", "-Ry"};
                remove.insert(remove.end(), c.removed.begin(), c.removed.end());
                EXPECT_EQ(step.args, remove) << c.name;
            }
            if (step.kind == StepKind::SelfUpdate) {
                EXPECT_EQ(step.args, (Args{"xbps-install", "-Syu", "xbps"}));
            }
            if (step.kind == StepKind::PoolCheck) {
                EXPECT_EQ(step.args, Args(c.packages.begin(), c.packages.end())) << c.name;
            }
        }
    }
}

TEST(InstallPlan, WhatThePageCallsInstalled) {
    InstalledPackages installed = {"nvidia580-libs", "nvidia-vaapi-driver", "mesa-dri"};
    EXPECT_EQ(installed_graphics(installed).nvidia, Args{"nvidia580"});
    EXPECT_FALSE(installed_graphics(installed).amd);
    for (std::string_view p : amd_packages()) installed.emplace_back(p);
    installed.erase(std::find(installed.begin(), installed.end(), "void-repo-multilib"));
    EXPECT_TRUE(installed_graphics(installed).amd);  // repository packages aside
    EXPECT_FALSE(installed_graphics(installed).intel);
    EXPECT_FALSE(package_set_installed({"void-repo-multilib"}, {"void-repo-multilib"}));
}

TEST(Kernels, OnlyVersionedSeriesAreKernelsNewestFirstWithTheirHeaders) {
    // Meta packages and look-alikes are not kernels; releases compare as numbers
    // (6.12 is newer than 6.6); a release that cannot name a directory is dropped.
    const std::vector<std::string> pkgvers = {
        "linux-6.12_1",          "linux-lts-6.6_1",      "linux-headers-6.12_1",
        "linux6.6-6.6.63_1",     "linux6.12-6.12.7_1",   "linux6.12-headers-6.12.7_1",
        "linux-firmware-2024_1", "linux6.1-6.1.119_1",   "linux6.-6.0_1",
        "linux5.x-5.0_1",        "linux6.9-../../etc_1", "xbps-0.60_1"};
    const std::vector<Kernel> kernels = installed_kernels(pkgvers);
    EXPECT_EQ(kernels, (std::vector<Kernel>{{"linux6.12", "6.12.7_1", true},
                                            {"linux6.6", "6.6.63_1", false},
                                            {"linux6.1", "6.1.119_1", false}}));
    EXPECT_EQ(missing_headers(kernels), (Args{"linux6.6-headers", "linux6.1-headers"}));
    EXPECT_LT(compare_releases("6.6.63_1", "6.6.63_2"), 0);
    EXPECT_EQ(compare_releases("6.12.7_1", "6.12.7_1"), 0);
    EXPECT_GT(compare_releases("6.12.10_1", "6.12.9_3"), 0);
}

TEST(InstallPlan, KernelHeadersJoinTheInstallOfAGenerationOnly) {
    const Args headers = {"linux6.6-headers"};
    // Same transaction, after the packages; never for other sets, never twice.
    EXPECT_EQ(plan_install(nvidia_packages(3), {"xbps"}, {}, headers).steps.back().args.back(),
              "linux6.6-headers");
    EXPECT_EQ(plan_install(amd_packages(), {"xbps"}, {}, headers).steps.back().args,
              xbps_install_args(amd_packages()));
    // broadcom-wl-dkms builds its module as the NVIDIA driver does: nonfree
    // first, then the package with the headers in one transaction.
    const InstallPlan wl =
        plan_install({"broadcom-wl-dkms"}, {"xbps"}, {"void-repo-nonfree"}, headers);
    ASSERT_EQ(wl.steps.size(), 2u);
    EXPECT_EQ(wl.steps[0].args, (Args{"xbps-install", "-Syf", "void-repo-nonfree"}));
    EXPECT_EQ(wl.steps[1].args,
              (Args{"xbps-install", "-Su", "-y", "broadcom-wl-dkms", "linux6.6-headers"}));
    const InstallPlan twice = plan_install(nvidia_packages(0), {"nvidia390"}, {},
                                           {"linux6.6-headers", "linux6.6-headers"});
    EXPECT_EQ(std::count(twice.steps.back().args.begin(), twice.steps.back().args.end(),
                         "linux6.6-headers"),
              1);
    const PackageList current = nvidia_packages(0);
    for (const PlanStep& step : twice.steps) {
        if (step.kind == StepKind::PoolCheck) {
            EXPECT_EQ(step.args,
                      Args(current.begin(), current.end()));  // headers are checked before
        }
    }
}

// intel-ucode installs no trigger: nonfree first, the package, then the
// initramfs of every installed kernel again; no kernel, no plan.
TEST(InstallPlan, MicrocodeComesFromNonfreeAndRemakesEveryInitramfs) {
    const MicrocodePlan intel = plan_microcode("intel-ucode", {"xbps", "linux6.18", "linux6.12"},
                                               {"void-repo-nonfree"}, {"linux6.18", "linux6.12"});
    ASSERT_FALSE(intel.no_kernel);
    std::vector<Args> commands;
    for (const PlanStep& step : intel.plan.steps) commands.push_back(step.args);
    EXPECT_EQ(commands, (std::vector<Args>{{"xbps-install", "-Syf", "void-repo-nonfree"},
                                           xbps_install_args({"intel-ucode"}),
                                           {"xbps-reconfigure", "-f", "linux6.18"},
                                           {"xbps-reconfigure", "-f", "linux6.12"}}));
    EXPECT_EQ(repository_of("intel-ucode"), Repository::Nonfree);
    EXPECT_EQ(repository_of("broadcom-wl-dkms"), Repository::Nonfree);
    // AMD's comes from main, and its install makes the initramfs itself.
    const MicrocodePlan amd = plan_microcode("linux-firmware-amd", {"xbps"}, {}, {"linux6.18"});
    ASSERT_EQ(amd.plan.steps.size(), 1u);
    EXPECT_EQ(amd.plan.steps[0].kind, StepKind::Install);
    EXPECT_TRUE(plan_microcode("intel-ucode", {"xbps"}, {}, {}).no_kernel);
    EXPECT_TRUE(plan_microcode("intel-ucode", {"xbps"}, {}, {}).plan.steps.empty());
}

TEST(ModuleCheck, TheKernelThatStartsOrRunsFailsAnOlderOneWarns) {
    const std::vector<Kernel> two = {{"linux6.12", "6.12.7_1", true},
                                     {"linux6.6", "6.6.63_1", true}};
    struct Case {
        const char* name;
        std::vector<Kernel> kernels;
        const char* running;
        Args with_module;
        Args missing, older;
        bool no_kernel;
    } cases[] = {
        {"all built", two, "6.6.63_1", {"6.12.7_1", "6.6.63_1"}, {}, {}, false},
        {"newest without", two, "6.6.63_1", {"6.6.63_1"}, {"6.12.7_1"}, {}, false},
        {"running older without", two, "6.6.63_1", {"6.12.7_1"}, {"6.6.63_1"}, {}, false},
        {"older not running without", two, "6.12.7_1", {"6.12.7_1"}, {}, {"6.6.63_1"}, false},
        {"running a custom kernel", two, "6.13.0-custom", {"6.12.7_1"}, {}, {"6.6.63_1"}, false},
        {"no kernel package", {}, "6.1.0-13-amd64", {}, {}, {}, true},
    };
    const auto releases = [](const std::vector<Kernel>& ks) {
        Args r;
        for (const Kernel& k : ks) r.push_back(k.release);
        return r;
    };
    for (const Case& c : cases) {
        const ModuleCheck check = judge_modules(c.kernels, c.running, c.with_module);
        EXPECT_EQ(releases(check.missing), c.missing) << c.name;
        EXPECT_EQ(releases(check.missing_older), c.older) << c.name;
        EXPECT_EQ(check.no_kernel, c.no_kernel) << c.name;
        EXPECT_EQ(check.ok(), c.missing.empty()) << c.name;
    }
}

// The way back to nouveau: what the open driver lacks comes first (a refused
// install leaves the NVIDIA driver), then every installed member of every
// generation goes, and the running line names the generations.
TEST(InstallPlan, TheOpenDriverComesBeforeEveryGenerationGoes) {
    const InstalledPackages n470 = {"xbps", "nvidia470", "nvidia470-libs", "nvidia470-dkms",
                                    "nvidia470-libs-32bit"};
    const auto with = [](InstalledPackages base, std::initializer_list<std::string> more) {
        base.insert(base.end(), more);
        return base;
    };
    const Args remove470 = {"xbps-remove",    "-Ry",           "nvidia470", "nvidia470-libs-32bit",
                            "nvidia470-dkms", "nvidia470-libs"};
    const struct {
        const char* name;
        InstalledPackages installed;
        std::vector<Args> steps;
        std::string subject;  // of the Remove step
    } cases[] = {
        {"no Mesa yet (xorg-minimal or Wayland)",
         n470,
         {{"xbps-install", "-Su", "-y", "mesa-dri", "mesa-vulkan-nouveau"}, remove470},
         "nvidia470"},
        {"Mesa already there",
         with(n470, {"mesa-dri", "mesa-vulkan-nouveau"}),
         {remove470},
         "nvidia470"},
        {"Xorg: nouveau's own Xorg driver too",
         with(n470, {"xorg-server", "mesa-dri"}),
         {{"xbps-install", "-Su", "-y", "mesa-vulkan-nouveau", "xf86-video-nouveau"}, remove470},
         "nvidia470"},
        {"two generations' leftovers",
         {"mesa-dri", "mesa-vulkan-nouveau", "nvidia-libs", "nvidia390-dkms"},
         {{"xbps-remove", "-Ry", "nvidia-libs", "nvidia390-dkms"}},
         "nvidia, nvidia390"},
        {"no generation: nothing to remove",
         {"xbps"},
         {{"xbps-install", "-Su", "-y", "mesa-dri", "mesa-vulkan-nouveau"}},
         ""},
    };
    for (const auto& c : cases) {
        const InstallPlan plan = plan_open_driver(c.installed);
        std::vector<Args> steps;
        for (const PlanStep& step : plan.steps) {
            Args args = step.args;
            // The members go in generation order; compare them as a set.
            if (step.kind == StepKind::Remove) std::sort(args.begin() + 2, args.end());
            steps.push_back(args);
            if (step.kind == StepKind::Remove) {
                EXPECT_EQ(step.subject, c.subject) << c.name;
            }
        }
        std::vector<Args> expected = c.steps;
        for (Args& args : expected)
            if (args[0] == "xbps-remove") std::sort(args.begin() + 2, args.end());
        EXPECT_EQ(steps, expected) << c.name;
    }
}

// The build log the page points at is DKMS's, under the name the
// generation's own dkms.conf declares; what cannot be read is "nvidia".
TEST(ModuleCheck, TheBuildLogIsNamedAfterTheModuleNameOfTheInstalledSources) {
    const struct {
        const char* what;
        const char* dir;  // below usr/src
        const char* conf;
        std::string name;
    } cases[] = {
        {"nvidia470's own name", "nvidia470-470.256.02", "PACKAGE_NAME=\"nvidia470\"\n",
         "nvidia470"},
        {"the current generation", "nvidia-595.45.04", "AUTOINSTALL=yes\nPACKAGE_NAME=\"nvidia\"\n",
         "nvidia"},
        {"no sources", nullptr, nullptr, "nvidia"},
        {"another version's sources", "nvidia470-470.1", "PACKAGE_NAME=\"nvidia470\"\n", "nvidia"},
        {"a name that is a path", "nvidia-470.256.02", "PACKAGE_NAME=\"../../etc\"\n", "nvidia"},
    };
    for (const auto& c : cases) {
        test::TempDir root;
        if (c.dir) test::write_file(root / "usr/src" / c.dir / "dkms.conf", c.conf);
        const std::string version = std::string(c.what) == std::string("the current generation")
                                        ? "595.45.04"
                                        : "470.256.02";
        EXPECT_EQ(dkms_module_name(root.path(), version), c.name) << c.what;
    }
}

}  // namespace
}  // namespace kelmora
