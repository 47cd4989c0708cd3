#include "printing/loopback.h"

#include "printing/discovery_output.h"
#include "printing/printers.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>

namespace kelmora {
namespace {

std::optional<unsigned> number(std::string_view text, int base, unsigned limit) {
    unsigned value = 0;
    if (text.empty()) return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || value > limit)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<UriHost> uri_host_port(std::string_view uri) {
    std::string_view rest;
    if (uri.starts_with("ipp://"))
        rest = uri.substr(6);
    else if (uri.starts_with("ipps://"))
        rest = uri.substr(7);
    else
        return std::nullopt;
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (rest.find('@') != std::string_view::npos) return std::nullopt;
    UriHost out;
    std::string_view port;
    if (rest.starts_with("[")) {
        const auto close = rest.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        out.host = std::string(rest.substr(1, close - 1));
        rest = rest.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(":")) return std::nullopt;
        port = rest.empty() ? std::string_view() : rest.substr(1);
    } else {
        const auto colon = rest.find(':');
        out.host = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos) port = rest.substr(colon + 1);
        if (colon != std::string_view::npos && port.empty()) return std::nullopt;
    }
    if (out.host.empty()) return std::nullopt;
    if (port.empty()) {
        out.port = 631;
    } else if (const auto p = number(port, 10, 65535); p && *p > 0) {
        out.port = *p;
    } else {
        return std::nullopt;
    }
    return out;
}

bool is_loopback_address(std::string_view numeric) {
    if (numeric == "::1") return true;
    for (std::string_view prefix : {"::ffff:", "::FFFF:"})
        if (numeric.starts_with(prefix)) numeric.remove_prefix(prefix.size());
    if (!numeric.starts_with("127.")) return false;
    int parts = 0;
    for (std::size_t at = 0; at <= numeric.size();) {
        const auto dot = std::min(numeric.find('.', at), numeric.size());
        if (!number(numeric.substr(at, dot - at), 10, 255)) return false;
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

std::vector<unsigned> listening_owners(std::string_view table, unsigned port) {
    constexpr std::string_view listen_state = "0A";
    std::vector<unsigned> owners;
    std::istringstream lines{std::string(table)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid))
            continue;
        if (state != listen_state) continue;
        const auto colon = local.rfind(':');
        if (colon == std::string::npos) continue;
        const auto listened = number(std::string_view(local).substr(colon + 1), 16, 65535);
        const auto owner = number(uid, 10, 0xffffffffu);
        if (listened && owner && *listened == port) owners.push_back(*owner);
    }
    return owners;
}

std::optional<ServiceInstance> service_instance(std::string_view host) {
    for (std::string_view type : {"_ipp._tcp", "_ipps._tcp"}) {
        const std::string suffix = "." + std::string(type) + ".local";
        if (host.size() > suffix.size() && host.ends_with(suffix))
            return ServiceInstance{percent_decode(host.substr(0, host.size() - suffix.size())),
                                   std::string(type)};
    }
    return std::nullopt;
}

namespace {

// avahi writes "\." and "\\" for a dot and a backslash in a label, and
// "\DDD" (decimal) for other bytes.
std::string unescape_label(std::string_view label) {
    std::string out;
    for (std::size_t i = 0; i < label.size(); ++i) {
        if (label[i] != '\\' || i + 1 >= label.size()) {
            out += label[i];
            continue;
        }
        if (i + 3 < label.size() && std::isdigit(static_cast<unsigned char>(label[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(label[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(label[i + 3]))) {
            const int value =
                (label[i + 1] - '0') * 100 + (label[i + 2] - '0') * 10 + (label[i + 3] - '0');
            out += static_cast<char>(value & 0xff);
            i += 3;
        } else {
            out += label[++i];
        }
    }
    return out;
}

}  // namespace

std::vector<UriHost> resolved_instances(std::string_view parsable,
                                        const ServiceInstance& instance) {
    std::vector<UriHost> found;
    for (const std::string& line : output_lines(parsable)) {
        // =;IFACE;PROTO;NAME;TYPE;DOMAIN;HOSTNAME;ADDRESS;PORT;TXT
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t semi;
             fields.size() < 9 && (semi = line.find(';', start)) != std::string::npos;
             start = semi + 1)
            fields.push_back(line.substr(start, semi - start));
        fields.push_back(line.substr(start));
        if (fields.size() < 9 || fields[0] != "=" || fields[4] != instance.type) continue;
        if (unescape_label(fields[3]) != instance.name) continue;
        const std::string port_text = fields[8].substr(0, fields[8].find(';'));
        if (const auto port = number(port_text, 10, 65535)) found.push_back({fields[7], *port});
    }
    return found;
}

}  // namespace kelmora
