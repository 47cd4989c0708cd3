// Running an install plan: each privileged step in order, each with its
// "Starting:" line and its step report, stopping at the first that fails.
// Blocks; never called on the main thread.
#pragma once

#include <filesystem>
#include <optional>

#include "packages/install_plan.h"
#include "packages/kernel_modules.h"
#include "process/log_sink.h"

namespace kelmora {

// Runs the steps of `plan`, reporting them as steps `first` on of `count`.
// An install that fails after the removal adds a line naming the packages
// that bring a driver back. Succeeded when every step did; Cancelled when the
// authentication was dismissed before any step changed the system (after
// one did, it is a failure, and the log says what was changed).
TaskResult run_install_plan(const InstallPlan& plan, const LogSink& log, int first = 1,
                            int count = 0);

// The headers of the installed kernels that lack them, less those the
// repository pool no longer has (Void drops an end-of-life series): asking
// for one of those would fail the whole transaction. Each left out is
// named in the log with the `module` ("NVIDIA-Modul") it cannot build.
std::vector<std::string> headers_to_install(const std::vector<Kernel>& kernels, const LogSink& log,
                                            std::string_view module);

// What kelmora's NVIDIA files should say for `generation` on the machine
// below `root`, and what they say now.
NvidiaFiles nvidia_files(std::string_view generation, const std::filesystem::path& root);

// What installing `packages` takes: reads what the plan depends on (the
// installed packages and kernels when a driver generation is involved, the
// repositories enabled under `root`) and plans. Logs headers it must leave out.
InstallPlan prepare_install(const PackageList& packages, const LogSink& log,
                            const std::filesystem::path& root = "/");

// Installs `packages`: prepares and runs the plan. After an NVIDIA generation
// went on the machine, its kernel module is looked for below `root`.
// Succeeded only when every step succeeded and the driver can load with the
// kernel that starts.
TaskResult run_pkexec_xbps(const PackageList& packages, const LogSink& log,
                           const std::filesystem::path& root = "/");

// Builds the installed NVIDIA generation's module again: the missing kernel
// headers (those the pool has), then "xbps-reconfigure -f <generation>-dkms",
// which runs the dkms trigger again, then the same check as after an install.
TaskResult repair_nvidia_module(const LogSink& log, const std::filesystem::path& root = "/");

// Goes back from the installed NVIDIA generation(s) to the open driver: the
// plan of plan_open_driver, then a look below `root` for a modprobe file that
// still blacklists nouveau. Each such file is named in the log and in
// `blocking`, never changed: one the user wrote is theirs, and xbps keeps a
// package's file the user modified. Succeeded only when nothing blocks
// nouveau any more, so that it is used after a restart.
TaskResult use_open_driver(const LogSink& log, std::vector<std::string>& blocking,
                           const std::filesystem::path& root = "/");

// What is installed, summed up for the graphics page (kernels without the
// NVIDIA module looked for below `root`); none when xbps-query cannot tell.
std::optional<InstalledGraphics> query_installed_graphics(const std::filesystem::path& root);

}  // namespace kelmora
