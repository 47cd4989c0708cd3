// What CUPS's lpinfo and ipptool print about USB printers, their drivers and
// their supplies, read as untrusted text: device IDs, names and levels come
// from the printer itself. Pure; the privileged helper links it to check the
// addresses and drivers it is given.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "printing/printers.h"

namespace kelmora {

// A printer's IEEE 1284 device ID ("MFG:HP;MDL:LaserJet 1020;CMD:PCL;"), the
// three fields kelmora uses; long key names (MANUFACTURER, MODEL, COMMAND SET)
// count too. Values are as the printer gave them: show them only through
// plain_display_text.
struct DeviceId {
    std::string make;
    std::string model;
    std::string command_set;
};
DeviceId parse_device_id(std::string_view raw);

// A device ID kelmora passes on to lpinfo: printable ASCII, at most 1024 bytes,
// with a make or a model; anything else is not used.
bool device_id_usable(std::string_view raw);

// One "Device: uri = ..." block of "lpinfo -l -v" (C locale).
struct CupsDevice {
    std::string uri;
    std::string info;
    std::string make_and_model;
    std::string device_id;
};
std::vector<CupsDevice> devices_from_lpinfo(std::string_view raw);

// One line of "lpinfo -m": the driver's name (what lpadmin -m gets) and its
// make-and-model text.
struct PrinterDriver {
    std::string name;
    std::string description;  // plain text
};
// Best first, as cups-driverd ranks them; "everywhere" (it needs an IPP
// connection, never a USB one) and names lpadmin must not get are left out.
std::vector<PrinterDriver> drivers_from_lpinfo(std::string_view raw);

// A driver name as lpinfo lists it: printable ASCII without blanks or quotes,
// not starting with "-", at most 1024 bytes.
bool valid_driver_name(std::string_view name);

// A usb:// address as CUPS's usb backend makes it: at most 1024 bytes of
// printable ASCII without blanks, quotes or shell characters.
bool usb_uri_allowed(std::string_view uri);

// The serial number in a usb:// address ("...?serial=X&interface=1"),
// decoded; empty when there is none.
std::string usb_uri_serial(std::string_view uri);

// The marker-* attributes in ipptool's test report: one supply per name, in
// the printer's order, levels 0-100 or CUPS's -1 (unavailable), -2 (unknown)
// and -3 (some remaining).
std::vector<Supply> supplies_from_ipptool(std::string_view report);

}  // namespace kelmora
