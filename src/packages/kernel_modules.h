// Whether the NVIDIA driver has its kernel module for the kernels that boot.
//
// The module is built on the machine: the dkms trigger of an nvidiaN-dkms
// package builds it for every kernel whose headers are installed, skips the
// others, and exits 0 even when a build fails, so xbps reports success
// either way. The `dkms` package brings only the default series' headers
// (linux-headers), so a machine on linux-lts or a pinned series gets none
// for its own kernel unless they are asked for.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "packages/xbps.h"
#include "process/log_sink.h"

namespace kelmora {

// An installed kernel package ("linux6.6"), whose version is the kernel's
// release ("6.6.63_1").
struct Kernel {
    std::string package;
    std::string release;
    bool headers = false;  // "<package>-headers" is installed
    bool operator==(const Kernel&) const = default;
};

// True for "linux<major>.<minor>"; the meta packages (linux, linux-lts,
// linux-mainline, linux-headers, ...) are not kernels.
bool is_kernel_package(std::string_view name);

// <0, 0, >0 as release `a` is older than, the same as, or newer than `b`,
// comparing the numbers in "6.12.7_1" one by one.
int compare_releases(std::string_view a, std::string_view b);

// The installed kernels in `pkgvers`, newest first: the newest is the one
// that starts next by default.
std::vector<Kernel> installed_kernels(const std::vector<std::string>& pkgvers);

// "<package>-headers" of every kernel whose headers are missing.
std::vector<std::string> missing_headers(const std::vector<Kernel>& kernels);

// What the module check found.
struct ModuleCheck {
    bool no_kernel = false;  // no kernel package: nothing could be checked
    // The newest kernel, or the running one when it is installed, without the
    // module: the driver will not load.
    std::vector<Kernel> missing;
    // Older kernels that do not run now, without the module.
    std::vector<Kernel> missing_older;
    bool ok() const { return missing.empty(); }
};

// Pure: the verdict for `kernels` (newest first), the running release and the
// releases that have the module.
ModuleCheck judge_modules(const std::vector<Kernel>& kernels, std::string_view running,
                          const std::vector<std::string>& with_module);

// Reads the running kernel and the modules below `root` for the installed
// kernels in `pkgvers`.
ModuleCheck check_nvidia_modules(const std::filesystem::path& root,
                                 const std::vector<std::string>& pkgvers);

// The installed NVIDIA generation ("nvidia580"), empty for none.
std::string installed_generation(const std::vector<std::string>& pkgvers);

// The log lines of a check after an install or a repair of `generation`;
// true unless the driver will not load (a missing module for the newest or
// the running kernel).
// The build log it names is DKMS's, under the module name that the
// generation's dkms.conf below `root` declares.
bool report_module_check(const ModuleCheck& check, const std::vector<std::string>& pkgvers,
                         std::string_view generation, const LogSink& log,
                         const std::filesystem::path& root = "/");

// The DKMS module name of the sources of `version` below `root`
// (usr/src/NAME-VERSION/dkms.conf, its PACKAGE_NAME): the generations do not
// all call theirs "nvidia" (nvidia470 and nvidia390 use their own names).
// "nvidia" when none can be read.
std::string dkms_module_name(const std::filesystem::path& root, std::string_view version);

// The modprobe configuration files below `root` (usr/lib/modprobe.d, where
// packages put theirs, and etc/modprobe.d, the administrator's) that still
// blacklist nouveau, named as on the machine ("/etc/modprobe.d/x.conf"), in
// that order. Read as untrusted input: what is not a small regular file is
// skipped.
std::vector<std::string> nouveau_blacklists(const std::filesystem::path& root);

}  // namespace kelmora
