#include "packages/machine_survey.h"

#include <algorithm>

#include "hardware/accounts.h"
#include "hardware/firmware.h"
#include "packages/firmware_packages.h"

namespace kelmora {
namespace {

bool has(const std::optional<std::vector<std::string>>& installed, std::string_view package) {
    return installed &&
           std::find(installed->begin(), installed->end(), package) != installed->end();
}

std::string pci_ids(const PciFunction& pci) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string ids;
    for (const std::uint16_t value : {pci.vendor, pci.device}) {
        if (!ids.empty()) ids += ':';
        for (int shift = 12; shift >= 0; shift -= 4) ids += digits[(value >> shift) & 0xf];
    }
    return ids;
}

std::string pci_name(const PciFunction& pci) {
    if (pci.device_name.empty()) return pci.vendor_name;
    return pci.vendor_name.empty() ? pci.device_name : pci.vendor_name + " " + pci.device_name;
}

// Whether runit starts the service: its link below var/service.
bool linked(const std::filesystem::path& root, std::string_view service) {
    std::error_code error;
    return std::filesystem::is_symlink(root / "var/service" / std::string(service), error);
}

MachineRow processor_row(const Processor& cpu,
                         const std::optional<std::vector<std::string>>& installed) {
    MachineRow row{DeviceState::OtherProcessor, cpu.model, {}, {}, cpu.microcode};
    if (cpu.vendor == "GenuineIntel") {
        row.state = has(installed, "intel-ucode") || !installed ? DeviceState::MicrocodeInstalled
                                                                : DeviceState::MicrocodeMissing;
        if (row.state == DeviceState::MicrocodeMissing) {
            row.action = MachineAction::InstallMicrocode;
            row.argument = "intel-ucode";
        }
    } else if (cpu.vendor == "AuthenticAMD") {
        row.state = has(installed, "linux-firmware-amd") || !installed
                        ? DeviceState::MicrocodeInstalled
                        : DeviceState::AmdMicrocodeMissing;
        if (row.state == DeviceState::AmdMicrocodeMissing) {
            row.action = MachineAction::InstallPackage;
            row.argument = "linux-firmware-amd";
        }
    }
    return row;
}

MachineRow wifi_row(const WirelessDevice& device,
                    const std::optional<std::vector<std::string>>& installed) {
    MachineRow row{DeviceState::Driven, pci_name(device.pci),
                   device.usb ? device.interface : pci_ids(device.pci), device.pci.driver};
    const bool wl_installed = has(installed, "broadcom-wl-dkms");
    if (device.pci.driver.empty()) {
        row.state = DeviceState::NoDriver;
        if (!device.usb && wl_serves(device.pci.vendor, device.pci.device) && installed) {
            // Installed and not bound: the module loads from the next start
            // (or it was not built; the install's check said so).
            row.state = wl_installed ? DeviceState::WlAfterRestart : DeviceState::WlMissing;
            row.action = wl_installed ? MachineAction::RemoveWl : MachineAction::InstallWl;
        }
        return row;
    }
    if (device.pci.driver == "wl" && wl_installed) {
        row.action = MachineAction::RemoveWl;  // the way back to the open drivers
        return row;
    }
    const std::string package = driver_firmware_package(device.pci.driver);
    if (!package.empty() && installed && !has(installed, package)) {
        row.state = DeviceState::FirmwareMissing;
        row.action = MachineAction::InstallPackage;
        row.argument = package;
    }
    return row;
}

void add_bluetooth(MachineSurvey& survey, const std::filesystem::path& root,
                   const std::optional<std::vector<std::string>>& installed,
                   const std::string& user, const std::vector<unsigned>& session) {
    const std::vector<BluetoothAdapter> adapters = read_bluetooth(root);
    for (const BluetoothAdapter& adapter : adapters) {
        MachineRow row{DeviceState::BluetoothOn, {}, adapter.name};
        if (adapter.radio && adapter.radio->hard) {
            row.state = DeviceState::RadioSwitchedOff;
        } else if (adapter.radio && adapter.radio->soft) {
            row.state = DeviceState::RadioBlocked;
            row.action = MachineAction::Unblock;
            row.argument = adapter.radio->index;
        }
        survey.bluetooth.push_back(std::move(row));
    }
    // Without an adapter there is nothing to set up; without xbps nothing to install.
    if (adapters.empty() || !installed) return;
    const bool pipewire = has(installed, "pipewire");
    if (!has(installed, "bluez") || !has(installed, "dbus") || !linked(root, "bluetoothd") ||
        !linked(root, "dbus") || (pipewire && !has(installed, "libspa-bluetooth"))) {
        survey.bluetooth.push_back({DeviceState::BluetoothNotSetUp,
                                    {},
                                    {},
                                    {},
                                    {},
                                    MachineAction::SetUpBluetooth,
                                    pipewire ? "libspa-bluetooth" : ""});
        return;
    }
    const GroupMembership group = group_membership(root, "bluetooth", user, session);
    if (!group.exists || group.in_session) return;
    if (group.listed)
        survey.bluetooth.push_back({DeviceState::BluetoothLogInAgain});
    else
        survey.bluetooth.push_back(
            {DeviceState::BluetoothNotInGroup, {}, {}, {}, {}, MachineAction::JoinBluetoothGroup});
}

}  // namespace

std::string driver_firmware_package(std::string_view driver) {
    if (driver == "brcmfmac") return "linux-firmware-broadcom";
    constexpr std::string_view network[] = {"iwlwifi", "ath10k", "ath11k", "ath12k", "mt76",
                                            "mt79",    "rtw88",  "rtw89",  "rtl8"};
    for (std::string_view prefix : network)
        if (driver.starts_with(prefix)) return "linux-firmware-network";
    return {};
}

MachineSurvey survey_machine(const std::filesystem::path& root,
                             const std::optional<std::vector<std::string>>& installed,
                             const std::string& user, const std::vector<unsigned>& session) {
    MachineSurvey survey;
    if (const auto cpu = read_processor(root))
        survey.processor.push_back(processor_row(*cpu, installed));
    std::vector<WirelessDevice> wireless = read_wireless(root);
    std::vector<PciFunction> cards;
    for (const WirelessDevice& d : wireless) cards.push_back(d.pci);
    if (!cards.empty()) name_display_controllers(cards, root);
    for (std::size_t i = 0; i < wireless.size(); ++i) {
        if (!wireless[i].usb) wireless[i].pci = cards[i];
        survey.wifi.push_back(wifi_row(wireless[i], installed));
    }
    add_bluetooth(survey, root, installed, user, session);
    std::vector<PciFunction> sound = read_sound_cards(root);
    if (!sound.empty()) name_display_controllers(sound, root);
    const bool sof_present = sof_firmware_present(root);
    for (const PciFunction& card : sound) {
        MachineRow row{card.driver.empty() ? DeviceState::NoDriver : DeviceState::Driven,
                       pci_name(card), pci_ids(card), card.driver};
        if (is_sof_driver(card.driver) && !sof_present && installed) {
            row.state = DeviceState::SofFirmwareMissing;
            row.action = MachineAction::InstallPackage;
            row.argument = "sof-firmware";
        }
        survey.sound.push_back(std::move(row));
    }
    return survey;
}

std::vector<MissingFirmware> missing_firmware(
    const std::filesystem::path& root, std::string_view kernel_log,
    const std::optional<std::vector<std::string>>& installed) {
    std::vector<MissingFirmware> missing;
    for (std::string& file : missing_firmware_from_log(kernel_log)) {
        std::string package = firmware_package(file);
        missing.push_back({std::move(file), std::move(package)});
    }
    recheck_missing_firmware(missing, root, installed);
    return missing;
}

void recheck_missing_firmware(std::vector<MissingFirmware>& missing,
                              const std::filesystem::path& root,
                              const std::optional<std::vector<std::string>>& installed) {
    std::erase_if(missing,
                  [&](const MissingFirmware& m) { return firmware_present(root, m.file); });
    for (MissingFirmware& m : missing) m.package_installed = has(installed, m.package);
}

}  // namespace kelmora
