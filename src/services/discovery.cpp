#include "services/discovery.h"

#include "tasks/busy_state.h"
#include "tasks/process.h"

namespace kelmora {

void discover_network_devices(const UiSender& sender, std::chrono::milliseconds limit) {
    std::vector<std::string> entries;
    if (auto out = capture_output({"driverless"}, limit)) add_driverless_entries(out->out, entries);
    if (auto out = capture_output({"avahi-browse", "-t", "-r", "_ipp._tcp"}, limit))
        add_avahi_entries(out->out, entries);
    sender.send(ScanResults{std::move(entries)});
}

void on_scan_network(const AppWidgetsRef& widgets, const UiSender& sender) {
    // Sent before the worker exists, so it always precedes the result block.
    sender.send(Line{"Scanning network for printers via AirScan & CUPS..."});
    start_task(*widgets, [sender] { discover_network_devices(sender); });
}

}  // namespace kelmora
