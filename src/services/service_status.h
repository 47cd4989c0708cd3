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

// Probes both services under the window's root directory and sets
// pr_srv_status, then scan_srv_status.
void update_service_status(Lang lang, const AppWidgets& widgets);

}  // namespace kelmora
