// The graphics hardware of a machine: its display controllers (PCI class
// 0x03), the NVIDIA driver generation that fits each card, and whether
// Secure Boot is on. GTK-free; every reader takes the root directory it reads
// the machine through ("/" but in tests).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelmora {

inline constexpr std::uint16_t pci_vendor_nvidia = 0x10de;
inline constexpr std::uint16_t pci_vendor_amd = 0x1002;
inline constexpr std::uint16_t pci_vendor_intel = 0x8086;

struct DisplayController {
    std::string slot;  // the sysfs name, e.g. "0000:01:00.0"
    std::uint16_t vendor = 0;
    std::uint16_t device = 0;
    std::string vendor_name;             // from the PCI ID database; empty when unknown
    std::string device_name;             // e.g. "GP106 [GeForce GTX 1060 6GB]"; empty when unknown
    std::string driver;                  // the bound kernel driver; empty when unbound
    std::uint32_t pci_class = 0x030000;  // 0x030000 VGA, 0x030200 3D (a laptop's second GPU)
    bool boot_vga = false;               // the firmware's screen ran on it
};

// The NVIDIA generations the window offers, by their entry in its combo box.
enum class NvidiaDriver { Nvidia = 0, Nvidia470 = 1, Nvidia390 = 2, Nvidia580 = 3 };
std::string_view nvidia_driver_package(NvidiaDriver driver);

// NVIDIA GPU architectures, oldest first. Unknown is a chip the local
// database does not name: an old database lacks only the newest cards.
enum class NvidiaArch {
    PreFermi,
    Fermi,
    Kepler,
    Maxwell,
    Pascal,
    Volta,
    Turing,
    Ampere,
    Ada,
    Hopper,
    Blackwell,
    Unknown
};

// The architecture from the chip code that the PCI ID database puts in front
// of every NVIDIA GPU name since G80 ("GP106 [GeForce GTX 1060 6GB]").
NvidiaArch nvidia_arch(std::string_view device_name);
bool driver_supports(NvidiaDriver driver, NvidiaArch arch);
// The newest generation that drives `arch`; none for cards older than Fermi,
// which only Mesa (nouveau) drives.
std::optional<NvidiaDriver> recommended_driver(NvidiaArch arch);
std::optional<NvidiaDriver> recommended_driver(const DisplayController& card);

// The one generation recommended for every NVIDIA card among `cards`; none
// when there is no NVIDIA card, when one has no proprietary driver or when
// cards want different generations.
std::optional<NvidiaDriver> single_recommendation(const std::vector<DisplayController>& cards);

// The display controllers under <root>/sys/bus/pci/devices, in slot order,
// without names. Files that are missing, unreadable, oversized or garbage skip
// their device; nothing in the tree can end or block the program.
std::vector<DisplayController> read_display_controllers(const std::filesystem::path& root);

// Any PCI function read the same way: those whose class shifted right by
// `shift` bits is `wanted` (0x0280 >> 8: wireless; 0x0403 >> 8: audio).
using PciFunction = DisplayController;
std::vector<PciFunction> read_pci_functions(const std::filesystem::path& root, std::uint32_t wanted,
                                            int shift);

// Where libpci's PCI ID database is below `root`.
std::filesystem::path pci_ids_path(const std::filesystem::path& root);

// Fills in the names from the PCI ID database under `root` (libpci's own path
// below it); udev's hardware database is asked only when root is "/". An
// unreadable or corrupt database leaves the names empty.
void name_display_controllers(std::vector<DisplayController>& cards,
                              const std::filesystem::path& root);

// True when the firmware reports Secure Boot on; no efivars means off.
bool secure_boot_enabled(const std::filesystem::path& root);

// What the graphics page shows about the machine.
struct GraphicsHardware {
    std::vector<DisplayController> cards;
    bool secure_boot = false;
    bool laptop = false;  // the DMI chassis is a portable one
};
GraphicsHardware detect_graphics_hardware(const std::filesystem::path& root);

// True for a DMI chassis_type of a portable machine: 8 portable, 9 laptop,
// 10 notebook, 14 sub-notebook, 31 convertible, 32 detachable.
bool laptop_chassis(const std::filesystem::path& root);

// A laptop with two GPUs: an Intel or AMD one drives the screen (boot_vga),
// an NVIDIA one renders what is started on it (PRIME render offload).
struct HybridGraphics {
    DisplayController screen;
    DisplayController nvidia;
};
std::optional<HybridGraphics> hybrid_graphics(const GraphicsHardware& hardware);

// What the kernel says now: whether nvidia_drm runs with mode setting (none
// while it is not loaded), and a PCI device's runtime power state
// ("suspended", "active"; empty when unknown).
std::optional<bool> nvidia_modeset_active(const std::filesystem::path& root);
std::string runtime_status(const std::filesystem::path& root, const std::string& slot);

// True when the user set nvidia-drm's modeset (either way) in a modprobe file
// of their own (/etc/modprobe.d, /usr/lib/modprobe.d; `own_file` is kelmora's,
// which does not count) or on the kernel command line: their choice wins over
// kelmora's.
bool user_sets_modeset(const std::filesystem::path& root, std::string_view own_file);

// The packages each graphics button installs exist in 32-bit form, with the
// multilib repositories, and the NVIDIA drivers exist at all, only on x86_64
// with glibc. Void builds one package per architecture, so this is a fact of
// the build.
#if defined(__x86_64__) && defined(__GLIBC__)
inline constexpr bool multilib_system = true;
#else
inline constexpr bool multilib_system = false;
#endif

}  // namespace kelmora
