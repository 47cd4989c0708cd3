// The coloured status lines of the printing (CUPS) and scanning (SANE) services.
#pragma once

#include <string>

#include "i18n/lang.h"
#include "ui/app_widgets.h"

namespace kelmora {

enum class ServiceState { NotInstalled, Inactive, Active };

// Installed when `installed_path` exists, enabled when `enabled_path` exists;
// both tests follow symbolic links, and any error counts as absent.
ServiceState probe_service(const std::string& installed_path, const std::string& enabled_path);

// The Pango markup of a status line.
std::string status_markup(ServiceState state, Lang lang);

struct ServicePaths {
    std::string cups_installed = "/usr/bin/cupsd";
    std::string cups_enabled = "/var/service/cupsd";
    std::string sane_installed = "/usr/bin/scanimage";
    std::string sane_enabled = "/var/service/saned";
};

// Probes both services and sets pr_srv_status, then scan_srv_status.
void update_service_status(Lang lang, const AppWidgets& widgets,
                           const ServicePaths& paths = ServicePaths{});

}  // namespace kelmora
