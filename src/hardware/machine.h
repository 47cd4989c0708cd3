// The rest of a machine, read below a root that tests replace: the processor
// (/proc/cpuinfo), Wi-Fi, Bluetooth and its radio switches, sound cards.
// Every value is untrusted text: shown plain, never run.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hardware/firmware.h"
#include "hardware/graphics.h"

namespace kelmora {

struct Processor {
    std::string vendor;     // vendor_id: "GenuineIntel", "AuthenticAMD", …
    std::string model;      // model name, plain text
    std::string microcode;  // "0xf4"; empty where the kernel prints none (zero)
};
// The first processor's lines of a /proc/cpuinfo text; none without a vendor.
std::optional<Processor> processor_from_cpuinfo(std::string_view cpuinfo);
std::optional<Processor> read_processor(const std::filesystem::path& root);

// Wireless network controllers on PCI (class 0x0280), with the driver bound
// to each; USB adapters are the interfaces with a phy80211 below
// sys/class/net, by their device's driver.
struct WirelessDevice {
    PciFunction pci;  // slot, vendor, device and driver (USB: driver only)
    bool usb = false;
    std::string interface;  // "wlan0" for a USB adapter, plain text
};
std::vector<WirelessDevice> read_wireless(const std::filesystem::path& root);
// The Broadcom cards (14e4:DEVICE) that broadcom-wl-dkms's wl module serves.
bool wl_serves(std::uint16_t vendor, std::uint16_t device);

// A radio switch: sys/class/rfkill/rfkillN/{name,type,soft,hard}.
struct RadioSwitch {
    std::string index;  // "0" for rfkill0: what "rfkill unblock" takes
    std::string name;   // plain text
    std::string type;   // "wlan", "bluetooth", …
    bool soft = false;  // blocked by software: rfkill unblock lifts it
    bool hard = false;  // blocked by a switch or a key: only the user can lift it
};
std::vector<RadioSwitch> read_radio_switches(const std::filesystem::path& root);

// Bluetooth adapters (sys/class/bluetooth/hciN) with their radio switch.
struct BluetoothAdapter {
    std::string name;  // "hci0"
    std::optional<RadioSwitch> radio;
};
std::vector<BluetoothAdapter> read_bluetooth(const std::filesystem::path& root);

// Sound cards on PCI (class 0x0403); a SOF device's driver is
// "sof-audio-pci-…", which needs Intel's SOF firmware.
std::vector<PciFunction> read_sound_cards(const std::filesystem::path& root);
bool is_sof_driver(std::string_view driver);
// Whether <root>/usr/lib/firmware/intel holds SOF firmware (intel/sof*).
bool sof_firmware_present(const std::filesystem::path& root);

}  // namespace kelmora
