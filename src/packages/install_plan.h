// What one click on an install button asks of the system, computed up front:
// the privileged steps in order (plan_runner.h runs them). Pure.
//
// Switching NVIDIA generations needs more than the install: the generations
// declare conflicts with each other, and xbps refuses a transaction that
// would leave two installed (exit 11) before it downloads anything. So the
// steps that cannot harm come first (the repositories, xbps's self-update,
// which also syncs the repository data, and a look into the repository pool),
// then the removal of the installed generation, then the install.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "packages/repositories.h"
#include "packages/xbps.h"

namespace kelmora {

// The packages of one NVIDIA generation ("nvidia", "nvidia580", ...): the
// driver and its -libs, -libs-32bit, -dkms, -gtklibs, -opencl and -firmware.
std::vector<std::string> nvidia_generation_members(std::string_view generation);
// The generations, newest first.
inline constexpr std::string_view nvidia_generations[] = {"nvidia", "nvidia580", "nvidia470",
                                                          "nvidia390"};

// True when `packages` hold a member of an NVIDIA generation.
bool installs_nvidia_generation(const PackageList& packages);

// The installed members of every NVIDIA generation that `packages` does not
// install, in generation order.
std::vector<std::string> conflicting_generation_members(const PackageList& packages,
                                                        const InstalledPackages& installed);

// The generations with at least one installed member, and whether every
// package of a Mesa set (its repository packages aside) is installed.
std::vector<std::string> installed_nvidia_generations(const InstalledPackages& installed);
bool package_set_installed(const PackageList& set, const InstalledPackages& installed);

// The graphics drivers a system has installed.
struct InstalledGraphics {
    std::vector<std::string> nvidia;  // the generations with installed members
    bool amd = false;                 // every package of the AMD Mesa set
    bool intel = false;               // every package of the Intel Mesa set
    // With an NVIDIA generation installed: the releases of the installed
    // kernels that have no module for it (filled by the plan runner's query).
    std::vector<std::string> kernels_without_module;
};
InstalledGraphics installed_graphics(const InstalledPackages& installed);

enum class StepKind { Repositories, SelfUpdate, PoolCheck, Remove, Install };
struct PlanStep {
    StepKind kind;
    // The command after "pkexec"; for PoolCheck the packages to look up.
    std::vector<std::string> args;
    // What the running step names: the generation a Remove step takes away.
    std::string subject = {};
};
struct InstallPlan {
    std::vector<PlanStep> steps;
    std::vector<std::string> removed;  // what the Remove step takes away
};

// The steps for installing `packages` on a system with `installed` packages
// and the repository packages `missing_repositories` not yet enabled. An
// install that puts an NVIDIA generation on the machine also installs
// `kernel_headers` in the same transaction: xbps unpacks every package before
// it configures any, so the dkms trigger finds the headers.
InstallPlan plan_install(const PackageList& packages, const InstalledPackages& installed,
                         const PackageList& missing_repositories,
                         const std::vector<std::string>& kernel_headers = {});

// The way back to the open driver (nouveau and Mesa): what it needs and is
// missing (mesa-dri, mesa-vulkan-nouveau, and xf86-video-nouveau where
// xorg-server is installed) first, then the removal of every installed member
// of every NVIDIA generation. No Remove step when none is installed.
InstallPlan plan_open_driver(const InstalledPackages& installed);

}  // namespace kelmora
