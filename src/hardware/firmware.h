// The firmware files the kernel asked for and did not find ("Direct firmware
// load for FILE failed with error -2" in its log), and whether they are there
// now. File names from the log are data: checked, shown plain, never a path
// that leaves the firmware directory. Pure, but for the presence check; the
// helper links it to filter the kernel log.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelmora {

// The files named by "Direct firmware load for FILE failed with error -2"
// lines (the firmware loader's words, drivers/base/firmware_loader/main.c),
// each once, in order; a name that is not a plain relative path of at most
// 200 bytes ([A-Za-z0-9._+-] and "/", no "..", no empty part) is dropped.
std::vector<std::string> missing_firmware_from_log(std::string_view kernel_log);
bool firmware_name_allowed(std::string_view name);
// True when `root`/usr/lib/firmware holds the file as it is, ".zst" or ".xz".
bool firmware_present(const std::filesystem::path& root, std::string_view name);

}  // namespace kelmora
