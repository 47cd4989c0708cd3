// What the "This Computer" page's buttons run: the processor's microcode, the
// Broadcom driver and its way back, a radio's block lifted, and the kernel
// log read for the firmware it missed. Each step is privileged (through the
// helper where it is installed). Block; never called on the main thread.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "packages/machine_survey.h"
#include "process/log_sink.h"

namespace kelmora {

// intel-ucode (nonfree first), then every installed kernel's initramfs made
// again; with no kernel package there is no initramfs to make, and the task
// says so and fails before it installs anything.
TaskResult install_microcode(std::string_view package, const LogSink& log,
                             const std::filesystem::path& root = "/");

// broadcom-wl-dkms (nonfree first) with the headers of every installed kernel
// in one transaction, then the wl module looked for below `root` as the
// NVIDIA module is: succeeded only when the kernel that starts has it.
TaskResult install_wl_driver(const LogSink& log, const std::filesystem::path& root = "/");
// The way back: broadcom-wl-dkms removed (its blacklist of the open drivers goes with it).
TaskResult remove_wl_driver(const LogSink& log);

// "rfkill unblock INDEX" as root; `index` is a radio switch's decimal number.
TaskResult unblock_radio(const std::string& index, const LogSink& log);

// Reads the kernel log as root (the helper's firmware-log, else "pkexec
// dmesg"; its lines are not logged) and gives the files still missing below
// `root` with their packages.
TaskResult look_for_missing_firmware(std::vector<MissingFirmware>& found, const LogSink& log,
                                     const std::filesystem::path& root = "/");

}  // namespace kelmora
