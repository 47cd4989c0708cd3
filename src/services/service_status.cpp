#include "services/service_status.h"

#include "process/process.h"

namespace kelmora {

ServiceState probe_service(const std::string& installed_path, const std::string& enabled_path) {
    if (!path_exists(installed_path)) return ServiceState::NotInstalled;
    return path_exists(enabled_path) ? ServiceState::Active : ServiceState::Inactive;
}

ServiceStates probe_services(const std::filesystem::path& root) {
    const auto at = [&](const char* path) { return (root / path).string(); };
    return {probe_service(at("usr/bin/cupsd"), at("var/service/cupsd")),
            probe_service(at("usr/bin/scanimage"), at("var/service/saned"))};
}

}  // namespace kelmora
