// The coloured status lines of the printing (CUPS) and scanning (SANE) services.
#pragma once

#include <string>

#include "i18n/lang.h"
#include "services/service_status.h"
#include "ui/app_widgets.h"

namespace kelmora {

// The Pango markup of a status line.
std::string status_markup(ServiceState state, Lang lang);

// Probes both services under the window's root directory and sets
// pr_srv_status, then scan_srv_status.
void update_service_status(Lang lang, const AppWidgets& widgets);

}  // namespace kelmora
