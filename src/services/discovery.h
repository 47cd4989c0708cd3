// Listing the driverless network printers and scanners that "driverless" and
// "avahi-browse" report. Both run as the user, one after the other.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tasks/ui_message.h"
#include "ui/app_widgets.h"

namespace kelmora {

// Decodes raw tool output (lossy UTF-8) and splits it into lines.
std::vector<std::string> output_lines(std::string_view raw);

// "IPP (Driverless): " + every line that is not blank (kept as printed).
void add_driverless_entries(std::string_view raw_stdout, std::vector<std::string>& entries);
// "Avahi IPP: " + every line containing "hostname" or "address", trimmed.
void add_avahi_entries(std::string_view raw_stdout, std::vector<std::string>& entries);

// Worker body; ends with exactly one ScanResults.
void discover_network_devices(const UiSender& sender);

// The "clicked" handler of btn_scan_network.
void on_scan_network(const AppWidgetsRef& widgets, const UiSender& sender);

}  // namespace kelmora
