// The running kernel and the NVIDIA kernel modules on disk, read below a root
// directory like the rest of the machine. uname() cannot be pointed at a test
// root; <root>/proc/sys/kernel/osrelease can.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kelmora {

// True for a release that can name a directory: letters, digits, ".", "_",
// "+", "-", not starting with "." and at most 64 characters.
bool plausible_release(std::string_view release);

// The running kernel's release ("6.6.63_1"); empty when it cannot be read.
std::string running_kernel_release(const std::filesystem::path& root);

// True when nvidia.ko (or .ko.gz, .ko.xz, .ko.zst) is a regular file anywhere
// below <root>/usr/lib/modules/<release>/. Links are never followed (a
// kernel's "build" link leads into its headers), and the walk is bounded in
// depth and entries.
bool has_nvidia_module(const std::filesystem::path& root, std::string_view release);
// The same for any module ("wl" for wl.ko and its compressed forms).
bool has_kernel_module(const std::filesystem::path& root, std::string_view release,
                       std::string_view module);

}  // namespace kelmora
