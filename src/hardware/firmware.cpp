#include "hardware/firmware.h"

#include <algorithm>
#include <sstream>
#include <system_error>

namespace kelmora {

bool firmware_name_allowed(std::string_view name) {
    if (name.empty() || name.size() > 200 || name.front() == '/' || name.back() == '/')
        return false;
    const bool chars = std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '+' || c == '-' || c == '/';
    });
    if (!chars) return false;
    for (std::size_t start = 0; start <= name.size();) {
        const auto slash = std::min(name.find('/', start), name.size());
        const std::string_view part = name.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = slash + 1;
    }
    return true;
}

std::vector<std::string> missing_firmware_from_log(std::string_view kernel_log) {
    constexpr std::string_view before = "Direct firmware load for ";
    constexpr std::string_view after = " failed with error -2";
    std::vector<std::string> files;
    std::istringstream lines{std::string(kernel_log.substr(0, 1 << 22))};
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find(before);
        if (at == std::string::npos) continue;
        const auto end = line.find(after, at + before.size());
        if (end == std::string::npos) continue;
        std::string name = line.substr(at + before.size(), end - at - before.size());
        if (!firmware_name_allowed(name)) continue;
        if (std::find(files.begin(), files.end(), name) == files.end() && files.size() < 100)
            files.push_back(std::move(name));
    }
    return files;
}

bool firmware_present(const std::filesystem::path& root, std::string_view name) {
    if (!firmware_name_allowed(name)) return false;
    const auto base = root / "usr/lib/firmware" / std::string(name);
    for (const char* ending : {"", ".zst", ".xz"}) {
        std::error_code error;
        if (std::filesystem::exists(base.string() + ending, error)) return true;
    }
    return false;
}

}  // namespace kelmora
