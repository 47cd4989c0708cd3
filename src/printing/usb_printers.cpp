#include "printing/usb_printers.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "i18n/utf8.h"
#include "hardware/small_file.h"
#include "process/process.h"

namespace kelmora {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t usb_printer_limit = 12;
constexpr std::chrono::milliseconds lpinfo_limit{20'000};

std::string attribute(const fs::path& dir, const char* name, std::size_t limit = 256) {
    auto text = read_small_file(dir / name, limit);
    if (!text) return {};
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
    return *text;
}

// Letters and digits only, lower case: "HP LaserJet-1020" -> "hplaserjet1020".
std::string folded(std::string_view text) {
    std::string out;
    for (char c : ascii_lower(text))
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) out += c;
    return out;
}

// "HP" + "HP LaserJet 1020" reads "HP LaserJet 1020", not "HP HP LaserJet 1020";
// HP's printers say "Hewlett-Packard" and "HP ..." (CUPS folds that too).
std::string make_and_model(std::string_view make, std::string_view model) {
    if (make.empty()) return std::string(model);
    if (model.empty()) return std::string(make);
    const std::string m = ascii_lower(model);
    if (m.starts_with(ascii_lower(make)) || (ascii_lower(make) == "hewlett-packard" && m.starts_with("hp ")))
        return std::string(model);
    return std::string(make) + " " + std::string(model);
}

bool hex_id(std::string_view text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

}  // namespace

std::vector<UsbPrinter> read_usb_printers(const fs::path& root) {
    const fs::path devices = root / "sys/bus/usb/devices";
    std::map<std::string, UsbPrinter> found;  // by device, in name order
    std::error_code error;
    for (fs::directory_iterator it(devices, error), end; !error && it != end;
         it.increment(error)) {
        const std::string entry = it->path().filename().string();
        const auto colon = entry.find(':');
        if (colon == std::string::npos || colon == 0) continue;  // a device, not an interface
        if (attribute(it->path(), "bInterfaceClass") != "07" ||
            attribute(it->path(), "bInterfaceSubClass") != "01")
            continue;
        const std::string protocol = attribute(it->path(), "bInterfaceProtocol");
        const std::string device = entry.substr(0, colon);
        if (!found.count(device) && found.size() >= usb_printer_limit) continue;
        UsbPrinter& printer = found[device];
        printer.device = device;
        if (protocol == "01" || protocol == "02" || protocol == "03") {
            printer.classic = true;
            // usblp's copy of the device ID; the first interface that has one.
            if (printer.device_id.empty()) {
                const std::string id = attribute(it->path(), "ieee1284_id", 1024);
                if (device_id_usable(id)) printer.device_id = id;
            }
        } else if (protocol == "04") {
            printer.ipp_usb = true;
        }
    }
    std::vector<UsbPrinter> printers;
    for (auto& [device, printer] : found) {
        if (!printer.classic && !printer.ipp_usb) continue;  // a kind nobody drives
        const fs::path dir = devices / device;
        printer.vendor_id = ascii_lower(attribute(dir, "idVendor"));
        printer.product_id = ascii_lower(attribute(dir, "idProduct"));
        if (!hex_id(printer.vendor_id)) printer.vendor_id.clear();
        if (!hex_id(printer.product_id)) printer.product_id.clear();
        const std::string serial = attribute(dir, "serial");
        if (printable(serial) && serial.size() <= 128) printer.serial = serial;
        const DeviceId id = parse_device_id(printer.device_id);
        printer.make = id.make.empty() ? attribute(dir, "manufacturer") : id.make;
        printer.model = id.model.empty() ? attribute(dir, "product") : id.model;
        printer.make = plain_display_text(printer.make, 60);
        printer.model = plain_display_text(printer.model, 60);
        printer.name = plain_display_text(make_and_model(printer.make, printer.model));
        if (printer.name.empty())
            printer.name = printer.vendor_id.empty() || printer.product_id.empty()
                               ? std::string("USB printer")
                               : "USB printer " + printer.vendor_id + ":" + printer.product_id;
        printers.push_back(std::move(printer));
    }
    return printers;
}

std::vector<DriverPackage> driver_packages_for(std::string_view make) {
    const std::string m = folded(make);
    if (m == "hp" || m.starts_with("hewlett")) return {{"hplip"}, {"hplip-plugin", true}};
    if (m.starts_with("brother")) return {{"brother-brlaser"}, {"foomatic-db"}};
    if (m.starts_with("epson") || m.starts_with("seikoepson"))
        return {{"epson-inkjet-printer-escpr"}, {"epson-inkjet-printer-escpr2", true}};
    if (m.starts_with("samsung") || m.starts_with("xerox")) return {{"splix"}, {"foomatic-db"}};
    return {{"gutenprint"}, {"foomatic-db"}};
}

std::optional<DriverPackage> next_driver_package(std::string_view make,
                                                 const std::vector<std::string>& installed) {
    for (const DriverPackage& p : driver_packages_for(make))
        if (std::find(installed.begin(), installed.end(), p.name) == installed.end()) return p;
    return std::nullopt;
}

std::optional<std::vector<PrinterDriver>> usb_printer_drivers(const UsbPrinter& printer) {
    // Options after -m would be ignored: the match goes first.
    // Nothing to match: every driver would "match", the first one at random.
    if (printer.device_id.empty() && printer.make.empty() && printer.model.empty())
        return std::vector<PrinterDriver>{};
    std::vector<std::string> argv = {"env", "LC_ALL=C", "lpinfo"};
    if (!printer.device_id.empty())
        argv.insert(argv.end(), {"--device-id", printer.device_id});
    else
        argv.insert(argv.end(), {"--make-and-model", make_and_model(printer.make, printer.model)});
    argv.push_back("-m");
    const auto out = capture_output(argv, lpinfo_limit);
    if (!out || out->timed_out) return std::nullopt;
    if (out->status == 0) return drivers_from_lpinfo(out->out);
    if (out->err.find("client-error-not-found") != std::string::npos)
        return std::vector<PrinterDriver>{};
    return std::nullopt;
}

std::vector<UsbPrinterRow> survey_usb_printers(
    const fs::path& root, const std::optional<std::vector<std::string>>& installed) {
    std::vector<UsbPrinterRow> rows;
    for (UsbPrinter& printer : read_usb_printers(root)) {
        UsbPrinterRow row;
        row.printer = std::move(printer);
        if (!row.printer.ipp_usb) {
            const auto drivers = usb_printer_drivers(row.printer);
            row.cups_answered = drivers.has_value();
            if (drivers && !drivers->empty()) row.driver = drivers->front();
            if (drivers && drivers->empty() && installed)
                row.package = next_driver_package(row.printer.make, *installed);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

bool is_ipp_usb_uri(std::string_view uri) {
    for (std::string_view host : {"ipp://localhost:", "ipp://127.0.0.1:", "ipp://[::1]:"}) {
        if (!uri.starts_with(host)) continue;
        const std::string_view port = uri.substr(host.size(), 5);
        return port.size() == 5 &&
               std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
               port >= "60000";
    }
    return false;
}

const CupsDevice* match_cups_device(const UsbPrinter& printer,
                                    const std::vector<CupsDevice>& devices) {
    if (!printer.serial.empty()) {
        for (const CupsDevice& d : devices)
            if (usb_uri_allowed(d.uri) && usb_uri_serial(d.uri) == printer.serial) return &d;
    }
    const std::string wanted = folded(make_and_model(printer.make, printer.model));
    if (wanted.empty()) return nullptr;
    const CupsDevice* match = nullptr;
    for (const CupsDevice& d : devices) {
        if (!usb_uri_allowed(d.uri) || folded(d.make_and_model) != wanted) continue;
        // Two of the same model without serial numbers: which is which is unknown.
        if (match != nullptr) return nullptr;
        match = &d;
    }
    return match;
}

bool has_usb_queue(const UsbPrinter& printer, const std::vector<PrintQueue>& queues) {
    for (const PrintQueue& q : queues) {
        if (printer.ipp_usb && is_ipp_usb_uri(q.uri)) return true;
        if (!q.uri.starts_with("usb://")) continue;
        if (!printer.serial.empty()) {
            if (usb_uri_serial(q.uri) == printer.serial) return true;
            continue;
        }
        const std::string path = q.uri.substr(6, q.uri.find('?') - 6);
        const std::string wanted = folded(make_and_model(printer.make, printer.model));
        if (!wanted.empty() && folded(percent_decode(path)) == wanted) return true;
    }
    return false;
}

}  // namespace kelmora
