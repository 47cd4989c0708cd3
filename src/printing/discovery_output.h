// What the discovery tools print, turned into result entries (no GTK).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelmora {

// Decodes raw tool output (lossy UTF-8) and splits it into lines.
std::vector<std::string> output_lines(std::string_view raw);

// Every entry is plain single-line text (see plain_display_text): no network
// name can make a line in the log that reads like one of ours.
// "IPP (Driverless): " + every line that is not blank.
void add_driverless_entries(std::string_view raw_stdout, std::vector<std::string>& entries);
// "Avahi IPP: " + every line containing "hostname" or "address".
void add_avahi_entries(std::string_view raw_stdout, std::vector<std::string>& entries);

}  // namespace kelmora
