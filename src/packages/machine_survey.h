// The rest of the machine as the "This Computer" page shows it: each device
// with its state and the one thing to do next, read below a root that tests
// replace. Every name is the machine's own text: shown plain, never run.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "hardware/machine.h"

namespace kelmora {

// What a row's button does.
enum class MachineAction {
    None,
    InstallMicrocode,  // intel-ucode, then every kernel's initramfs again
    InstallPackage,    // `argument`: a firmware package
    InstallWl,         // broadcom-wl-dkms with the headers of every kernel
    RemoveWl,          // the way back: broadcom-wl-dkms removed
    Unblock,           // `argument`: the radio switch's index
    SetUpBluetooth,    // bluez, dbus and bluetoothd linked (libspa-bluetooth for PipeWire)
    JoinBluetoothGroup,
};

enum class DeviceState {
    MicrocodeMissing,    // Intel without intel-ucode
    MicrocodeInstalled,  // intel-ucode (or AMD's linux-firmware-amd) is there
    AmdMicrocodeMissing,
    OtherProcessor,  // neither maker: nothing to install
    Driven,          // a driver is in use (`driver`)
    NoDriver,
    WlMissing,         // a card that wl serves, and no driver
    WlAfterRestart,    // broadcom-wl-dkms is installed, not in use yet
    FirmwareMissing,   // the driver's firmware package (`argument`) is not installed
    RadioBlocked,      // soft blocked: Unblock lifts it
    RadioSwitchedOff,  // hard blocked: a switch or a key
    BluetoothOn,
    BluetoothNotSetUp,    // bluez, its service or PipeWire's part is missing
    BluetoothNotInGroup,  // the user is not in the group bluetooth
    BluetoothLogInAgain,  // listed, from the next login on
    SofFirmwareMissing,   // a SOF device without intel/sof*
};

struct MachineRow {
    DeviceState state;
    std::string name =
        {};                // the machine's words ("Intel(R) Core(TM) i7", a PCI name); may be empty
    std::string ids = {};  // "14e4:43a0" for a PCI device, the interface for USB, "hci0"
    std::string driver = {};  // the driver in use; empty for none
    std::string detail = {};  // the microcode revision ("0xf4")
    MachineAction action = MachineAction::None;
    std::string argument = {};  // the package, or the radio switch's index
};

struct MachineSurvey {
    std::vector<MachineRow> processor, wifi, bluetooth, sound;
};

// The firmware package a driver loads its files from ("iwlwifi" ->
// "linux-firmware-network"); empty for a driver that needs none we know of.
std::string driver_firmware_package(std::string_view driver);

// Reads the machine below `root`. `installed`: the package names (none when
// xbps cannot tell: then no row offers an install); `user` and `session`:
// who runs kelmora and the group IDs this session has.
MachineSurvey survey_machine(const std::filesystem::path& root,
                             const std::optional<std::vector<std::string>>& installed,
                             const std::string& user, const std::vector<unsigned>& session);

// A file the kernel asked for that is still missing, with its package.
struct MissingFirmware {
    std::string file;
    std::string package;
    // The package is installed and does not have it: Void does not ship the file.
    bool package_installed = false;
    bool operator==(const MissingFirmware&) const = default;
};
// The files of the firmware loader's lines in `kernel_log` that are still
// missing below `root`, each with whether its package is in `installed`.
std::vector<MissingFirmware> missing_firmware(
    const std::filesystem::path& root, std::string_view kernel_log,
    const std::optional<std::vector<std::string>>& installed = std::nullopt);
// The same list again: what is there now dropped, the packages looked up anew.
void recheck_missing_firmware(std::vector<MissingFirmware>& missing,
                              const std::filesystem::path& root,
                              const std::optional<std::vector<std::string>>& installed);

}  // namespace kelmora
