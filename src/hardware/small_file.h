// Reading the machine's small text files (sysfs attributes, efivars, procfs)
// as untrusted input: a FIFO, a device node, a directory or a huge file below
// a test root (or a strange /sys) must never block or flood the program.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace kelmora {

// How many bytes are read by default; every attribute used here is a short line.
inline constexpr std::size_t small_file_limit = 256;

// The content of a regular file of at most `limit` bytes; none for anything
// else (missing, not a regular file, larger, unreadable).
std::optional<std::string> read_small_file(const std::filesystem::path& path,
                                           std::size_t limit = small_file_limit);

}  // namespace kelmora
