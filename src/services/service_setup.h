// Setting up the print and scan services: install their packages, then enable
// their runit services by linking them into /var/service/.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "packages/repositories.h"
#include "process/log_sink.h"

namespace kelmora {

// Constant data only: a worker may still use a recipe while the process exits.
struct ServiceRecipe {
    std::span<const std::string_view> packages;
    std::string_view progress_line;
    std::span<const std::string_view> service_dirs;

    PackageList package_list() const { return {packages.begin(), packages.end()}; }
};

inline constexpr std::array<std::string_view, 5> print_service_packages = {
    "cups", "cups-filters", "avahi", "nss-mdns", "avahi-utils"};
inline constexpr std::array<std::string_view, 2> print_service_dirs = {"/etc/sv/cupsd",
                                                                       "/etc/sv/avahi-daemon"};
inline constexpr std::array<std::string_view, 2> scan_service_packages = {"sane", "sane-airscan"};
inline constexpr std::array<std::string_view, 1> scan_service_dirs = {"/etc/sv/saned"};
// ipp-usb announces through Avahi: both run.
inline constexpr std::array<std::string_view, 1> ipp_usb_packages = {"ipp-usb"};
inline constexpr std::array<std::string_view, 2> ipp_usb_service_dirs = {"/etc/sv/avahi-daemon",
                                                                         "/etc/sv/ipp-usb"};

// Bluetooth: bluez, whose bluetoothd waits for the dbus service (the
// daemon's package, which bluez does not bring: a link to a missing service
// would leave bluetoothd waiting forever); PipeWire plays to Bluetooth
// devices through libspa-bluetooth.
inline constexpr std::array<std::string_view, 2> bluetooth_packages = {"bluez", "dbus"};
inline constexpr std::array<std::string_view, 3> bluetooth_pipewire_packages = {"bluez", "dbus",
                                                                                "libspa-bluetooth"};
inline constexpr std::array<std::string_view, 2> bluetooth_service_dirs = {"/etc/sv/dbus",
                                                                           "/etc/sv/bluetoothd"};

constexpr ServiceRecipe print_service_recipe() {
    return {print_service_packages, "Aktiviere Runit-Dienste (CUPS & Avahi)...",
            print_service_dirs};
}
constexpr ServiceRecipe scan_service_recipe() {
    return {scan_service_packages, "Aktiviere Runit-Dienst (saned)...", scan_service_dirs};
}

constexpr ServiceRecipe ipp_usb_service_recipe() {
    return {ipp_usb_packages, "Aktiviere Runit-Dienste (ipp-usb & Avahi)...", ipp_usb_service_dirs};
}

constexpr ServiceRecipe bluetooth_service_recipe(bool pipewire) {
    return {pipewire ? std::span<const std::string_view>(bluetooth_pipewire_packages)
                     : std::span<const std::string_view>(bluetooth_packages),
            "Aktiviere Runit-Dienste (dbus & bluetoothd)...", bluetooth_service_dirs};
}

// The log line for a service whose link was refused or failed.
std::string service_not_enabled_line(std::string_view service_dir);

// Installs the packages and, only when that succeeded, links each service with
// "pkexec ln -sf". True only when the installation and every link succeeded;
// the first link that fails is named in the log and ends the set-up; a
// dismissed authentication before anything changed is a cancel. Blocks.
TaskResult run_service_setup(const ServiceRecipe& recipe, const LogSink& log);

// The privileged request that adds `user` to `group` ("gpasswd -a USER
// GROUP"); the helper takes it only for the user pkexec runs it for, and
// only for the groups kelmora offers (scanner, bluetooth).
std::vector<std::string> join_group_request(const std::string& user, std::string_view group);
// Adds the user running kelmora to `group`; it counts from the next login.
TaskResult join_group(std::string_view group, const LogSink& log,
                      Activity activity = Activity::JoinGroup);

}  // namespace kelmora
