// Whether the printing (CUPS) and scanning (SANE) services are installed and
// enabled, read below a root directory.
#pragma once

#include <filesystem>
#include <string>

namespace kelmora {

enum class ServiceState { NotInstalled, Inactive, Active };

// Installed when `installed_path` exists, enabled when `enabled_path` exists;
// both tests follow symbolic links, and any error counts as absent.
ServiceState probe_service(const std::string& installed_path, const std::string& enabled_path);

struct ServiceStates {
    ServiceState printing;  // cupsd
    ServiceState scanning;  // saned
};
ServiceStates probe_services(const std::filesystem::path& root);

}  // namespace kelmora
