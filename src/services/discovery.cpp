#include "services/discovery.h"

#include "services/printer_queue.h"
#include "tasks/busy_state.h"
#include "tasks/process.h"

namespace kelmora {

void discover_network_devices(const UiSender& sender, std::chrono::milliseconds limit) {
    ScanResults results;
    std::vector<FoundPrinter> by_driverless, by_avahi;
    if (auto out = capture_output({"driverless"}, limit)) {
        add_driverless_entries(out->out, results.entries);
        by_driverless = printers_from_driverless(out->out);
    }
    if (auto out = capture_output({"avahi-browse", "-t", "-r", "_ipp._tcp"}, limit)) {
        add_avahi_entries(out->out, results.entries);
        by_avahi = printers_from_avahi(out->out);
    }
    results.printers = merge_found_printers(by_driverless, by_avahi);
    // eSCL and WSD scanners, which sane-airscan ("Set up SANE") drives.
    if (auto out = capture_output({"airscan-discover"}, limit))
        results.scanners = scanners_from_airscan(out->out);
    report_machine_state(sender);
    sender.send(std::move(results));
}

void on_scan_network(const AppWidgetsRef& widgets, const UiSender& sender) {
    // Sent before the worker exists, so it always precedes the result block.
    sender.send(Line{"Scanning network for printers via AirScan & CUPS..."});
    start_task(*widgets, [sender] { discover_network_devices(sender); });
}

}  // namespace kelmora
