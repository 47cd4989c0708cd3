#include "hardware/machine.h"

#include <algorithm>
#include <sstream>
#include <system_error>

#include "hardware/small_file.h"
#include "i18n/utf8.h"

namespace kelmora {
namespace {

// "key\t: value" -> value, for the key wanted.
std::optional<std::string> field(std::string_view line, std::string_view key) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    if (name != key) return std::nullopt;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    return std::string(value);
}

// Printable ASCII only, at most `limit` bytes: what a row shows of it.
std::string plain(std::string_view text, std::size_t limit) {
    std::string out;
    for (char c : decode_utf8_lossy(text)) {
        if (out.size() == limit) break;
        const auto byte = static_cast<unsigned char>(c);
        out += byte < 0x20 || byte == 0x7f ? ' ' : c;
    }
    return out;
}

}  // namespace

std::optional<Processor> processor_from_cpuinfo(std::string_view cpuinfo) {
    Processor p;
    std::istringstream lines{std::string(cpuinfo.substr(0, 1 << 20))};
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() && !p.vendor.empty()) break;  // the first processor is enough
        if (auto v = field(line, "vendor_id"); v && p.vendor.empty()) p.vendor = plain(*v, 32);
        if (auto v = field(line, "model name"); v && p.model.empty()) p.model = plain(*v, 120);
        if (auto v = field(line, "microcode"); v && p.microcode.empty()) {
            const bool hex = v->size() > 2 && v->size() <= 18 && v->starts_with("0x") &&
                             std::all_of(v->begin() + 2, v->end(), [](char c) {
                                 return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
                                        (c >= 'A' && c <= 'F');
                             });
            if (hex) p.microcode = *v;
        }
    }
    if (p.vendor.empty()) return std::nullopt;
    return p;
}

std::optional<Processor> read_processor(const std::filesystem::path& root) {
    const auto text = read_small_file(root / "proc/cpuinfo", 1 << 20);
    return text ? processor_from_cpuinfo(*text) : std::nullopt;
}

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
