// Listing the driverless network printers and scanners that "driverless" and
// "avahi-browse" report. Both run as the user, one after the other.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "services/discovery_output.h"
#include "tasks/ui_message.h"
#include "ui/app_widgets.h"

namespace kelmora {

// How long each discovery tool may run. driverless and avahi-browse -t
// normally finish within a few seconds; an unresponsive printer, or a process
// left holding their output open, must not keep the window busy for ever.
inline constexpr std::chrono::milliseconds discovery_tool_limit{20'000};

// Worker body; ends with exactly one ScanResults, with what the tools printed
// within `limit` each.
void discover_network_devices(const UiSender& sender,
                              std::chrono::milliseconds limit = discovery_tool_limit);

// The "clicked" handler of btn_scan_network.
void on_scan_network(const AppWidgetsRef& widgets, const UiSender& sender);

}  // namespace kelmora
