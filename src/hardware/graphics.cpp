#include "hardware/graphics.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <sstream>
#include <system_error>

#include "hardware/small_file.h"

namespace kelmora {
namespace {

namespace fs = std::filesystem;

// A real machine has a few dozen PCI functions; a tree with more entries than
// this is not read further.
constexpr std::size_t device_entry_limit = 4096;
// More display controllers than this are not one machine's.
constexpr std::size_t controller_limit = 16;

// "0x10de\n" and the like: hex with the 0x prefix, one optional newline.
template <class T>
std::optional<T> parse_hex_attribute(std::string_view text) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (text.size() < 3 || text.substr(0, 2) != "0x") return std::nullopt;
    text.remove_prefix(2);
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

template <class T>
std::optional<T> hex_attribute(const fs::path& path) {
    const auto text = read_small_file(path);
    return text ? parse_hex_attribute<T>(*text) : std::nullopt;
}

// The name of the driver the `driver` link points at, if it is a plain name.
std::string bound_driver(const fs::path& device_dir) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(device_dir / "driver", ec);
    if (ec) return {};
    std::string name = target.filename().string();
    const bool plain =
        !name.empty() && name.size() <= 64 && name != "." && name != ".." &&
        std::all_of(name.begin(), name.end(), [](unsigned char c) { return c > 0x20 && c < 0x7f; });
    return plain ? name : std::string();
}

struct ChipCode {
    std::string_view code;
    NvidiaArch arch;
};

// The letters in front of the first digit of the chip code. Checked against
// pci.ids: every NVIDIA display controller since G80 is named this way; Tesla
// (G8x, G9x, GT2xx), the chipset GPUs (MCP, C5x-C7x) and NV4x/G7x and older
// have no proprietary driver in Void.
constexpr std::array<ChipCode, 15> chip_codes = {{
    {"GF", NvidiaArch::Fermi},
    {"GK", NvidiaArch::Kepler},
    {"GM", NvidiaArch::Maxwell},
    {"GP", NvidiaArch::Pascal},
    {"GV", NvidiaArch::Volta},
    {"TU", NvidiaArch::Turing},
    {"GA", NvidiaArch::Ampere},
    {"AD", NvidiaArch::Ada},
    {"GH", NvidiaArch::Hopper},
    {"GB", NvidiaArch::Blackwell},
    {"G", NvidiaArch::PreFermi},
    {"GT", NvidiaArch::PreFermi},
    {"MCP", NvidiaArch::PreFermi},
    {"C", NvidiaArch::PreFermi},
    {"NV", NvidiaArch::PreFermi},
}};

struct DriverRange {
    NvidiaDriver driver;
    NvidiaArch oldest;
    NvidiaArch newest;
};

// Newest generation first. "nvidia" is the 595 driver with the open kernel
// modules (Turing and newer); 580 is the last for Maxwell, Pascal and Volta;
// 470 ends with Ampere and 390 with Pascal.
constexpr std::array<DriverRange, 4> driver_ranges = {{
    {NvidiaDriver::Nvidia, NvidiaArch::Turing, NvidiaArch::Unknown},
    {NvidiaDriver::Nvidia580, NvidiaArch::Maxwell, NvidiaArch::Blackwell},
    {NvidiaDriver::Nvidia470, NvidiaArch::Kepler, NvidiaArch::Ampere},
    {NvidiaDriver::Nvidia390, NvidiaArch::Fermi, NvidiaArch::Pascal},
}};

}  // namespace

std::string_view nvidia_driver_package(NvidiaDriver driver) {
    switch (driver) {
        case NvidiaDriver::Nvidia470:
            return "nvidia470";
        case NvidiaDriver::Nvidia390:
            return "nvidia390";
        case NvidiaDriver::Nvidia580:
            return "nvidia580";
        case NvidiaDriver::Nvidia:
            break;
    }
    return "nvidia";
}

NvidiaArch nvidia_arch(std::string_view device_name) {
    std::size_t letters = 0;
    while (letters < device_name.size() && device_name[letters] >= 'A' &&
           device_name[letters] <= 'Z')
        ++letters;
    const bool digit_follows =
        letters < device_name.size() && device_name[letters] >= '0' && device_name[letters] <= '9';
    if (letters == 0 || !digit_follows) return NvidiaArch::Unknown;
    const std::string_view code = device_name.substr(0, letters);
    for (const ChipCode& chip : chip_codes)
        if (chip.code == code) return chip.arch;
    return NvidiaArch::Unknown;
}

bool driver_supports(NvidiaDriver driver, NvidiaArch arch) {
    for (const DriverRange& range : driver_ranges)
        if (range.driver == driver) return arch >= range.oldest && arch <= range.newest;
    return false;
}

std::optional<NvidiaDriver> recommended_driver(NvidiaArch arch) {
    for (const DriverRange& range : driver_ranges)
        if (driver_supports(range.driver, arch)) return range.driver;
    return std::nullopt;
}

std::optional<NvidiaDriver> recommended_driver(const DisplayController& card) {
    if (card.vendor != pci_vendor_nvidia) return std::nullopt;
    return recommended_driver(nvidia_arch(card.device_name));
}

std::optional<NvidiaDriver> single_recommendation(const std::vector<DisplayController>& cards) {
    std::optional<NvidiaDriver> result;
    for (const DisplayController& card : cards) {
        if (card.vendor != pci_vendor_nvidia) continue;
        const auto driver = recommended_driver(card);
        if (!driver || (result && *result != *driver)) return std::nullopt;
        result = driver;
    }
    return result;
}

std::vector<DisplayController> read_display_controllers(const fs::path& root) {
    return read_pci_functions(root, 0x03, 16);
}

std::vector<PciFunction> read_pci_functions(const fs::path& root, std::uint32_t wanted, int shift) {
    std::vector<PciFunction> cards;
    std::error_code ec;
    fs::directory_iterator it(root / "sys/bus/pci/devices", ec);
    std::size_t seen = 0;
    for (; !ec && it != fs::directory_iterator() && seen < device_entry_limit;
         it.increment(ec), ++seen) {
        const fs::path dir = it->path();
        const auto pci_class = hex_attribute<std::uint32_t>(dir / "class");
        // Class 0x03: VGA, XGA, 3D and other display controllers. The audio
        // and USB functions of a graphics card carry other classes.
        if (!pci_class || (*pci_class >> shift) != wanted || *pci_class > 0xffffff) continue;
        const auto vendor = hex_attribute<std::uint16_t>(dir / "vendor");
        const auto device = hex_attribute<std::uint16_t>(dir / "device");
        if (!vendor || !device) continue;
        DisplayController card;
        card.slot = dir.filename().string();
        card.vendor = *vendor;
        card.device = *device;
        card.driver = bound_driver(dir);
        card.pci_class = *pci_class;
        if (const auto boot = read_small_file(dir / "boot_vga")) card.boot_vga = *boot == "1\n";
        cards.push_back(std::move(card));
        if (cards.size() == controller_limit) break;
    }
    std::sort(
        cards.begin(), cards.end(),
        [](const DisplayController& a, const DisplayController& b) { return a.slot < b.slot; });
    return cards;
}

bool secure_boot_enabled(const fs::path& root) {
    // Four bytes of attributes, then the one-byte value.
    const auto bytes = read_small_file(
        root / "sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-e3e5e6b3b2f4");
    return bytes && bytes->size() == 5 && (*bytes)[4] == 1;
}

GraphicsHardware detect_graphics_hardware(const fs::path& root) {
    GraphicsHardware hardware;
    hardware.cards = read_display_controllers(root);
    if (!hardware.cards.empty()) name_display_controllers(hardware.cards, root);
    hardware.secure_boot = secure_boot_enabled(root);
    hardware.laptop = laptop_chassis(root);
    return hardware;
}

bool laptop_chassis(const fs::path& root) {
    const auto text = read_small_file(root / "sys/class/dmi/id/chassis_type");
    if (!text) return false;
    for (const char* portable : {"8\n", "9\n", "10\n", "14\n", "31\n", "32\n"})
        if (*text == portable) return true;
    return false;
}

std::optional<HybridGraphics> hybrid_graphics(const GraphicsHardware& hardware) {
    if (!hardware.laptop || hardware.cards.size() < 2) return std::nullopt;
    const DisplayController* screen = nullptr;
    const DisplayController* nvidia = nullptr;
    for (const DisplayController& card : hardware.cards) {
        if (card.boot_vga && (card.vendor == pci_vendor_intel || card.vendor == pci_vendor_amd))
            screen = &card;
        if (card.vendor == pci_vendor_nvidia && !card.boot_vga && nvidia == nullptr) nvidia = &card;
    }
    if (screen == nullptr || nvidia == nullptr) return std::nullopt;
    return HybridGraphics{*screen, *nvidia};
}

std::optional<bool> nvidia_modeset_active(const fs::path& root) {
    const auto text = read_small_file(root / "sys/module/nvidia_drm/parameters/modeset");
    if (!text || text->empty()) return std::nullopt;
    if ((*text)[0] == 'Y') return true;
    if ((*text)[0] == 'N') return false;
    return std::nullopt;
}

std::string runtime_status(const fs::path& root, const std::string& slot) {
    if (slot.empty() || slot.find('/') != std::string::npos || slot[0] == '.') return {};
    auto text = read_small_file(root / "sys/bus/pci/devices" / slot / "power/runtime_status");
    if (!text) return {};
    while (!text->empty() && text->back() == '\n') text->pop_back();
    for (const char* known : {"active", "suspended", "suspending", "resuming", "unsupported"})
        if (*text == known) return *text;
    return {};
}

namespace {

// "nvidia-drm.modeset=1" and "nvidia_drm.modeset=0" alike: modprobe and the
// kernel treat "-" and "_" in module names as the same.
bool names_drm_modeset(std::string_view module, std::string_view option) {
    return (module == "nvidia-drm" || module == "nvidia_drm") && option.starts_with("modeset=");
}

}  // namespace

bool user_sets_modeset(const fs::path& root, std::string_view own_file) {
    if (const auto cmdline = read_small_file(root / "proc/cmdline", 4096)) {
        std::istringstream words(*cmdline);
        for (std::string word; words >> word;) {
            const auto dot = word.find('.');
            if (dot != std::string::npos &&
                names_drm_modeset(std::string_view(word).substr(0, dot),
                                  std::string_view(word).substr(dot + 1)))
                return true;
        }
    }
    const std::string ours = fs::path(std::string(own_file)).filename().string();
    for (const char* dir : {"etc/modprobe.d", "usr/lib/modprobe.d"}) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(root / dir, error)) {
            if (entry.path().extension() != ".conf") continue;
            if (std::string(dir) == "etc/modprobe.d" && entry.path().filename() == ours) continue;
            const auto text = read_small_file(entry.path(), 64 * 1024);
            if (!text) continue;
            std::istringstream lines(*text);
            for (std::string line; std::getline(lines, line);) {
                std::istringstream words(line.substr(0, line.find('#')));
                std::string command, module;
                if (!(words >> command >> module) || command != "options") continue;
                for (std::string option; words >> option;)
                    if (names_drm_modeset(module, option)) return true;
            }
        }
    }
    return false;
}

}  // namespace kelmora
