#include "printing/discovery.h"

#include "printing/discovery_output.h"
#include "process/process.h"

namespace kelmora {

DiscoveryResult discover_network_devices(std::chrono::milliseconds limit) {
    DiscoveryResult results;
    if (auto out = capture_output({"driverless"}, limit)) {
        add_driverless_entries(out->out, results.entries);
        results.printers = merge_found_printers(printers_from_driverless(out->out), {});
    }
    // Display text only (see printers_from_driverless).
    if (auto out = capture_output({"avahi-browse", "-t", "-r", "_ipp._tcp"}, limit))
        add_avahi_entries(out->out, results.entries);
    // eSCL and WSD scanners, which sane-airscan ("Set up SANE") drives.
    if (auto out = capture_output({"airscan-discover"}, limit))
        results.scanners = scanners_from_airscan(out->out);
    return results;
}

}  // namespace kelmora
