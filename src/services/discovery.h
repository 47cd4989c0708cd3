// Listing the driverless network printers and scanners that "driverless" and
// "avahi-browse" report. Both run as the user, one after the other.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "services/discovery_output.h"
#include "tasks/ui_message.h"
#include "ui/app_widgets.h"

namespace kelmora {

// Worker body; ends with exactly one ScanResults.
void discover_network_devices(const UiSender& sender);

// The "clicked" handler of btn_scan_network.
void on_scan_network(const AppWidgetsRef& widgets, const UiSender& sender);

}  // namespace kelmora
