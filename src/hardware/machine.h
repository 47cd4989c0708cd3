// The rest of a machine, read below a root that tests replace: the processor
// (/proc/cpuinfo) and the firmware files the kernel asked for and did not
// find ("Direct firmware load for FILE failed with error -2" in its log).
// Every value is untrusted text: shown plain, never run, never a path that
// leaves the firmware directory.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelmora {

struct Processor {
    std::string vendor;     // vendor_id: "GenuineIntel", "AuthenticAMD", …
    std::string model;      // model name, plain text
    std::string microcode;  // "0xf4"; empty where the kernel prints none (zero)
};
// The first processor's lines of a /proc/cpuinfo text; none without a vendor.
std::optional<Processor> processor_from_cpuinfo(std::string_view cpuinfo);
std::optional<Processor> read_processor(const std::filesystem::path& root);

// The files named by "Direct firmware load for FILE failed with error -2"
// lines (the firmware loader's words, drivers/base/firmware_loader/main.c),
// each once, in order; a name that is not a plain relative path of at most
// 200 bytes ([A-Za-z0-9._+-] and "/", no "..", no empty part) is dropped.
std::vector<std::string> missing_firmware_from_log(std::string_view kernel_log);
bool firmware_name_allowed(std::string_view name);
// True when `root`/usr/lib/firmware holds the file as it is, ".zst" or ".xz".
bool firmware_present(const std::filesystem::path& root, std::string_view name);

}  // namespace kelmora
