// Listing the driverless network printers and scanners that "driverless" and
// "avahi-browse" report. Both run as the user, one after the other.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "printing/printers.h"

namespace kelmora {

// How long each discovery tool may run. driverless and avahi-browse -t
// normally finish within a few seconds; an unresponsive printer, or a process
// left holding their output open, must not keep the window busy for ever.
inline constexpr std::chrono::milliseconds discovery_tool_limit{20'000};

// What one search found: `entries` is the log block; the rows are what the
// printer page lists.
struct DiscoveryResult {
    std::vector<std::string> entries;
    std::vector<FoundPrinter> printers;
    std::vector<FoundScanner> scanners;
};

// Runs the tools (blocking; never on the main thread), each for at most `limit`,
// and keeps what they printed until then.
DiscoveryResult discover_network_devices(std::chrono::milliseconds limit = discovery_tool_limit);

}  // namespace kelmora
