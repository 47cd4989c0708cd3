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

#include "hardware/graphics.h"
#include "packages/nvidia_config.h"
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
// True when they build a kernel module on the machine (an NVIDIA generation,
// a -dkms package such as broadcom-wl-dkms): they need the kernels' headers.
bool builds_kernel_module(const PackageList& packages);

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
    // A generation with GBM runs without kernel mode setting, and the user
    // did not ask for that: Wayland desktops cannot use the card; Repair mends it.
    bool modeset_off = false;
    // A laptop's NVIDIA GPU: its runtime power state ("suspended" while idle).
    std::string nvidia_power = {};
};
InstalledGraphics installed_graphics(const InstalledPackages& installed);

enum class StepKind {
    Repositories,
    SelfUpdate,
    PoolCheck,
    Remove,
    Install,
    Configure,
    Rebuild,
    Initramfs,  // xbps-reconfigure -f of a kernel: its initramfs made again
};
struct PlanStep {
    StepKind kind;
    // The command after "pkexec"; for PoolCheck the packages to look up; for
    // Configure the helper's request (nvidia_config_request).
    std::vector<std::string> args;
    // What the running step names: the generation a Remove step takes away.
    std::string subject = {};
    NvidiaConfig config = {};  // what a Configure step writes
};

// kelmora's NVIDIA files: what an install wants them to say, what they say.
struct NvidiaFiles {
    NvidiaConfig wanted;
    NvidiaConfig current;
};

// The generation `packages` install ("nvidia580"); empty when none.
std::string generation_of(const PackageList& packages);

// What kelmora's files should say for `generation` on `hardware`: mode
// setting for a generation with GBM unless the user set it (either way)
// themselves; on a laptop with two GPUs whose NVIDIA one is Turing or newer,
// runtime power management, and for Turing the driver option it needs (the
// driver's default covers Ampere and newer).
NvidiaConfig wanted_nvidia_config(std::string_view generation, const GraphicsHardware& hardware,
                                  bool user_modeset);
struct InstallPlan {
    std::vector<PlanStep> steps;
    std::vector<std::string> removed;  // what the Remove step takes away
};

// The steps for installing `packages` on a system with `installed` packages
// and the repository packages `missing_repositories` not yet enabled. An
// install that builds a kernel module (builds_kernel_module) also installs
// `kernel_headers` in the same transaction: xbps unpacks every package before
// it configures any, so the dkms trigger finds the headers.
// kelmora's NVIDIA files, when `files` wants them to say something new, are
// written before the install, so that the -dkms package's initramfs trigger
// takes the modprobe options in; where that package is installed already,
// "xbps-reconfigure -f" of it runs its triggers again after the install.
InstallPlan plan_install(const PackageList& packages, const InstalledPackages& installed,
                         const PackageList& missing_repositories,
                         const std::vector<std::string>& kernel_headers = {},
                         const std::optional<NvidiaFiles>& files = std::nullopt);

// The way back to the open driver (nouveau and Mesa): what it needs and is
// missing (mesa-dri, mesa-vulkan-nouveau, and xf86-video-nouveau where
// xorg-server is installed) first, then the removal of every installed member
// of every NVIDIA generation. No Remove step when none is installed; kelmora's
// NVIDIA files go last, when there are any (`current`).
InstallPlan plan_open_driver(const InstalledPackages& installed, const NvidiaConfig& current = {});

// Processor microcode: intel-ucode (nonfree, its repository first) installs
// no trigger, so the initramfs of every installed kernel is made again
// ("xbps-reconfigure -f linuxX.Y" runs the initramfs hook); AMD's microcode is
// linux-firmware-amd, whose install regenerates it. `kernels` are the
// installed kernel packages; without one the plan cannot make an initramfs:
// `no_kernel` says so and the plan is empty.
struct MicrocodePlan {
    InstallPlan plan;
    bool no_kernel = false;
};
MicrocodePlan plan_microcode(std::string_view package, const InstalledPackages& installed,
                             const PackageList& missing_repositories,
                             const std::vector<std::string>& kernels);

}  // namespace kelmora
