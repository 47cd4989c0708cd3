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

namespace {

constexpr std::size_t entry_limit = 256;

std::string first_line(const std::filesystem::path& file) {
    std::string text = read_small_file(file).value_or("");
    text = text.substr(0, text.find('\n'));
    return plain(text, 64);
}

bool plain_name(std::string_view name) {
    return !name.empty() && name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    });
}

// The entries of a directory (names only), sorted, at most entry_limit.
std::vector<std::string> entries(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(dir, error);
    for (; !error && it != std::filesystem::directory_iterator() && names.size() < entry_limit;
         it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::vector<WirelessDevice> read_wireless(const std::filesystem::path& root) {
    std::vector<WirelessDevice> found;
    for (PciFunction& pci : read_pci_functions(root, 0x0280, 8))
        found.push_back({std::move(pci), false, {}});
    for (const std::string& interface : entries(root / "sys/class/net")) {
        const auto dir = root / "sys/class/net" / interface;
        std::error_code error;
        if (!plain_name(interface) || !std::filesystem::exists(dir / "phy80211", error)) continue;
        const auto device = std::filesystem::canonical(dir / "device", error);
        if (error || device.string().find("/usb") == std::string::npos) continue;
        WirelessDevice usb;
        usb.usb = true;
        usb.interface = interface;
        const auto driver = std::filesystem::read_symlink(dir / "device/driver", error);
        if (!error && plain_name(driver.filename().string()))
            usb.pci.driver = driver.filename().string();
        found.push_back(std::move(usb));
    }
    return found;
}

bool wl_serves(std::uint16_t vendor, std::uint16_t device) {
    constexpr std::uint16_t devices[] = {0x4311, 0x4312, 0x4313, 0x4315, 0x4727, 0x4328,
                                         0x4329, 0x432a, 0x432b, 0x432c, 0x432d, 0x4331,
                                         0x4353, 0x4357, 0x4358, 0x4359, 0x4365, 0x43a0};
    return vendor == 0x14e4 &&
           std::find(std::begin(devices), std::end(devices), device) != std::end(devices);
}

std::vector<RadioSwitch> read_radio_switches(const std::filesystem::path& root) {
    std::vector<RadioSwitch> found;
    for (const std::string& entry : entries(root / "sys/class/rfkill")) {
        if (!entry.starts_with("rfkill")) continue;
        const std::string index = entry.substr(6);
        if (index.empty() || index.size() > 4 ||
            !std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const auto dir = root / "sys/class/rfkill" / entry;
        RadioSwitch radio{index, first_line(dir / "name"), first_line(dir / "type"), false, false};
        radio.soft = first_line(dir / "soft") == "1";
        radio.hard = first_line(dir / "hard") == "1";
        found.push_back(std::move(radio));
    }
    return found;
}

std::vector<BluetoothAdapter> read_bluetooth(const std::filesystem::path& root) {
    std::vector<BluetoothAdapter> adapters;
    const auto radios = read_radio_switches(root);
    for (const std::string& name : entries(root / "sys/class/bluetooth")) {
        // hciN; hci0:1 and the like are connections, not adapters.
        if (!name.starts_with("hci") || name.size() < 4 || !plain_name(name) ||
            name.find(':') != std::string::npos)
            continue;
        BluetoothAdapter adapter{name, std::nullopt};
        // The adapter's own switch is below it (hci0/rfkillN).
        for (const std::string& sub : entries(root / "sys/class/bluetooth" / name))
            for (const RadioSwitch& r : radios)
                if (sub == "rfkill" + r.index) adapter.radio = r;
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

std::vector<PciFunction> read_sound_cards(const std::filesystem::path& root) {
    return read_pci_functions(root, 0x0403, 8);
}

bool is_sof_driver(std::string_view driver) {
    return driver.starts_with("sof-audio-pci");
}

bool sof_firmware_present(const std::filesystem::path& root) {
    for (const std::string& name : entries(root / "usr/lib/firmware/intel"))
        if (name.starts_with("sof")) return true;
    return false;
}

}  // namespace kelmora
