#include "printing/cups_output.h"

#include <algorithm>
#include <charconv>

#include "printing/discovery_output.h"

namespace kelmora {
namespace {

constexpr std::size_t uri_limit = 1024;

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool printable_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

// "a,b\,c" -> {"a", "b,c"}: ipptool joins the values of a set with commas
// and escapes what it must with a backslash.
std::vector<std::string> split_values(std::string_view text) {
    std::vector<std::string> values(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            values.back() += text[++i];
        } else if (text[i] == ',') {
            values.emplace_back();
        } else {
            values.back() += text[i];
        }
    }
    return values;
}

}  // namespace

DeviceId parse_device_id(std::string_view raw) {
    DeviceId id;
    while (!raw.empty()) {
        const std::string_view field = raw.substr(0, raw.find(';'));
        raw.remove_prefix(std::min(raw.size(), field.size() + 1));
        const auto colon = field.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string key = upper(trim(field.substr(0, colon)));
        const std::string value(trim(field.substr(colon + 1)));
        std::string* into = key == "MFG" || key == "MANUFACTURER"       ? &id.make
                            : key == "MDL" || key == "MODEL"            ? &id.model
                            : key == "CMD" || key == "COMMAND SET"      ? &id.command_set
                                                                        : nullptr;
        if (into != nullptr && into->empty()) *into = value;
    }
    return id;
}

bool device_id_usable(std::string_view raw) {
    if (raw.empty() || raw.size() > uri_limit) return false;
    if (!std::all_of(raw.begin(), raw.end(), [](char c) { return c >= ' ' && c < 0x7f; }))
        return false;
    const DeviceId id = parse_device_id(raw);
    return !id.make.empty() || !id.model.empty();
}

std::vector<CupsDevice> devices_from_lpinfo(std::string_view raw) {
    std::vector<CupsDevice> devices;
    constexpr std::string_view lead = "Device: uri = ";
    for (const std::string& line : output_lines(raw)) {
        if (line.starts_with(lead)) {
            devices.push_back({line.substr(lead.size()), {}, {}, {}});
            continue;
        }
        if (devices.empty()) continue;
        const std::string_view text = trim(line);
        const auto equals = text.find(" = ");
        const std::string_view key = text.substr(0, equals);
        const std::string value =
            equals == std::string_view::npos ? std::string() : std::string(text.substr(equals + 3));
        CupsDevice& device = devices.back();
        if (key == "info") device.info = value;
        if (key == "make-and-model") device.make_and_model = value;
        if (key == "device-id") device.device_id = value;
    }
    return devices;
}

bool valid_driver_name(std::string_view name) {
    return !name.empty() && name.size() <= uri_limit && name.front() != '-' &&
           printable_ascii(name) && name.find_first_of("\"'\\`") == std::string_view::npos;
}

std::vector<PrinterDriver> drivers_from_lpinfo(std::string_view raw) {
    std::vector<PrinterDriver> drivers;
    for (const std::string& line : output_lines(raw)) {
        const std::string_view text(line);
        const std::string_view name = text.substr(0, text.find(' '));
        if (name == "everywhere" || !valid_driver_name(name)) continue;
        const std::string_view rest =
            name.size() < text.size() ? trim(text.substr(name.size())) : std::string_view();
        drivers.push_back({std::string(name), plain_display_text(rest, 120)});
    }
    return drivers;
}

bool usb_uri_allowed(std::string_view uri) {
    return uri.starts_with("usb://") && uri.size() > 6 && uri.size() <= uri_limit &&
           printable_ascii(uri) && uri.find_first_of("\"'\\`$;|<>(){}*!^") == std::string_view::npos;
}

std::string usb_uri_serial(std::string_view uri) {
    const auto query = uri.find('?');
    if (query == std::string_view::npos) return {};
    std::string_view rest = uri.substr(query + 1);
    while (!rest.empty()) {
        const std::string_view pair = rest.substr(0, rest.find('&'));
        rest.remove_prefix(std::min(rest.size(), pair.size() + 1));
        if (pair.starts_with("serial=")) return percent_decode(pair.substr(7));
    }
    return {};
}

std::vector<Supply> supplies_from_ipptool(std::string_view report) {
    std::vector<std::string> names, levels, colors, types;
    for (const std::string& line : output_lines(report)) {
        // "        marker-levels (1setOf integer) = 63,40"
        const std::string_view text = trim(line);
        const auto open = text.find(" (");
        const auto equals = text.find(") = ");
        if (open == std::string_view::npos || equals == std::string_view::npos || equals < open)
            continue;
        const std::string_view key = text.substr(0, open);
        const std::string_view values = text.substr(equals + 4);
        std::vector<std::string>* into = key == "marker-names"    ? &names
                                         : key == "marker-levels" ? &levels
                                         : key == "marker-colors" ? &colors
                                         : key == "marker-types"  ? &types
                                                                  : nullptr;
        if (into != nullptr && into->empty()) *into = split_values(values);
    }
    std::vector<Supply> supplies;
    // A printer reports a handful; a flood is cut.
    for (std::size_t i = 0; i < names.size() && supplies.size() < 16; ++i) {
        Supply supply;
        supply.name = plain_display_text(names[i], 40);
        if (supply.name.empty()) continue;
        int level = -2;
        if (i < levels.size()) {
            const std::string& l = levels[i];
            const auto [end, error] = std::from_chars(l.data(), l.data() + l.size(), level);
            if (error != std::errc() || end != l.data() + l.size() || level < -3 || level > 100)
                level = -2;
        }
        supply.level = level;
        if (i < colors.size()) supply.color = plain_display_text(colors[i], 40);
        if (i < types.size()) supply.type = plain_display_text(types[i], 40);
        supplies.push_back(std::move(supply));
    }
    return supplies;
}

}  // namespace kelmora
