// The privileged steps of one click, over tables of system states.
#include <gtest/gtest.h>

#include "packages/install_plan.h"
#include "packages/packages.h"

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

}  // namespace
}  // namespace kelmora
