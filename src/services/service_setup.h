// Setting up the print and scan services: install their packages, then enable
// their runit services by linking them into /var/service/.
#pragma once

#include <array>
#include <span>
#include <string_view>

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

constexpr ServiceRecipe print_service_recipe() {
    return {print_service_packages, "Aktiviere Runit-Dienste (CUPS & Avahi)...",
            print_service_dirs};
}
constexpr ServiceRecipe scan_service_recipe() {
    return {scan_service_packages, "Aktiviere Runit-Dienst (saned)...", scan_service_dirs};
}

constexpr ServiceRecipe ipp_usb_service_recipe() {
    return {ipp_usb_packages, "Aktiviere Runit-Dienste (ipp-usb & Avahi)...",
            ipp_usb_service_dirs};
}

// The log line for a service whose link was refused or failed.
std::string service_not_enabled_line(std::string_view service_dir);

// Installs the packages and, only when that succeeded, links each service with
// "pkexec ln -sf". True only when the installation and every link succeeded;
// the first link that fails is named in the log and ends the set-up; a
// dismissed authentication before anything changed is a cancel. Blocks.
TaskResult run_service_setup(const ServiceRecipe& recipe, const LogSink& log);

}  // namespace kelmora
