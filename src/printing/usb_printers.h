// The printers on this machine's USB ports, read from sysfs without
// privileges, and what will drive each: the driver CUPS ranks first for its
// device ID, or the Void package that brings one. Every string read from a
// device is input the device chose: it is made plain text before it is shown,
// and passed to CUPS's tools only as one argument of their own.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "printing/cups_output.h"
#include "printing/printers.h"

namespace kelmora {

struct UsbPrinter {
    std::string device;     // the sysfs device ("1-2"): which one, not shown
    std::string name;       // plain text, for the row
    std::string make;       // the maker, as the device ID (else sysfs) gives it
    std::string model;
    std::string serial;     // sysfs serial, printable ASCII only; empty when none
    std::string device_id;  // the IEEE 1284 ID when usblp gives a usable one
    std::string vendor_id;  // "03f0"
    std::string product_id;
    bool classic = false;  // an interface CUPS's usb backend drives (protocol 1-3)
    bool ipp_usb = false;  // an IPP-over-USB interface (protocol 4): ipp-usb's
};

// Below `root`/sys/bus/usb/devices: one printer per device with a printer
// interface (class 7, subclass 1). At most a dozen; broken entries are skipped.
std::vector<UsbPrinter> read_usb_printers(const std::filesystem::path& root);

// A Void package that may bring a driver; xbps cannot install a restricted one
// (it must be built with xbps-src).
struct DriverPackage {
    std::string name;
    bool restricted = false;
};
// For a printer of `make`, in the order to try them.
std::vector<DriverPackage> driver_packages_for(std::string_view make);
// The first of those that `installed` lacks; none when all are there.
std::optional<DriverPackage> next_driver_package(std::string_view make,
                                                 const std::vector<std::string>& installed);

// A USB printer and what the page offers for it.
struct UsbPrinterRow {
    UsbPrinter printer;
    std::optional<PrinterDriver> driver;   // the best driver CUPS has for it
    std::optional<DriverPackage> package;  // else the package that brings one
    bool cups_answered = false;            // lpinfo could ask cupsd at all
};

// The drivers CUPS has for a printer (its device ID, else its make and model),
// best first; asked as the user. None when lpinfo cannot tell (no cupsd).
std::optional<std::vector<PrinterDriver>> usb_printer_drivers(const UsbPrinter& printer);

// Every USB printer with its driver or package (`installed`: the package
// names xbps lists, when known). Blocks: never on the main thread.
std::vector<UsbPrinterRow> survey_usb_printers(
    const std::filesystem::path& root, const std::optional<std::vector<std::string>>& installed);

// True when a queue prints to this printer: a usb:// queue with its serial
// number (or, without one, its make and model), or for an IPP-over-USB printer
// a queue at ipp-usb's loopback address.
bool has_usb_queue(const UsbPrinter& printer, const std::vector<PrintQueue>& queues);

// The address CUPS listed for this printer: by serial number, else by make and model.
const CupsDevice* match_cups_device(const UsbPrinter& printer,
                                    const std::vector<CupsDevice>& devices);

// An ipp-usb address: ipp:// on localhost or 127.0.0.1 at a port from 60000.
bool is_ipp_usb_uri(std::string_view uri);

}  // namespace kelmora
