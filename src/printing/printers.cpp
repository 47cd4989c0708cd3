#include "printing/printers.h"

#include <algorithm>
#include <cctype>

#include "i18n/utf8.h"
#include "printing/discovery_output.h"

namespace kelmora {
namespace {

// Longer "addresses" are not printer URIs.
constexpr std::size_t uri_limit = 1024;

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Characters that change how text around them is shown, or break lines.
bool is_format_or_control(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || (c >= 0x200b && c <= 0x200f) ||
           (c >= 0x2028 && c <= 0x202e) || (c >= 0x2060 && c <= 0x206f) || c == 0xfeff;
}

// Characters that look like a blank or like nothing at all: a name with one
// reads the same as a name with a space there, or without it.
bool is_blank_like(char32_t c) {
    return c == 0x00a0 || c == 0x00ad || c == 0x034f || c == 0x1680 || c == 0x180e ||
           (c >= 0x2000 && c <= 0x200a) || c == 0x202f || c == 0x205f || c == 0x3000 ||
           (c >= 0xfe00 && c <= 0xfe0f) || (c >= 0xe0000 && c <= 0xe007f) ||
           (c >= 0xe0100 && c <= 0xe01ef);
}

// host[:port] of a URI, without the default IPP port.
std::string uri_authority(std::string_view uri) {
    uri.remove_prefix(uri.find("://") + 3);
    std::string_view authority = uri.substr(0, uri.find('/'));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (authority.size() > 4 && authority.substr(authority.size() - 4) == ":631")
        authority.remove_suffix(4);
    return std::string(authority);
}

// The host name alone, as a name to show: no port, no ".local".
std::string host_name_of(std::string_view authority) {
    if (!authority.empty() && authority.front() == '[')
        return std::string(authority.substr(0, authority.find(']') + 1));
    std::string_view host = authority.substr(0, authority.find(':'));
    if (host.size() > 6 && equal_ignoring_case(host.substr(host.size() - 6), ".local"))
        host.remove_suffix(6);
    return std::string(host);
}

}  // namespace

std::string percent_decode(std::string_view text) {
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

namespace {

// Plain single-line text: with `fold`, every run of blanks and unsafe
// characters is one space and the ends are trimmed; without it, blanks stay
// as they are (each one space) and unsafe characters go.
std::string plain_text(std::string_view untrusted, std::size_t limit, bool fold) {
    const std::string text = decode_utf8_lossy(untrusted);
    std::string out;
    std::size_t chars = 0;       // characters in `out`, spaces included
    bool pending_space = false;  // a run of blanks since the last character
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t len = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
        char32_t c = len == 1 ? lead : lead & (0x3f >> (len - 1));
        for (std::size_t k = 1; k < len; ++k)
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
        const bool blank = c == ' ' || c == '\t' || is_blank_like(c);
        if (!fold && (blank || is_format_or_control(c))) {
            if (blank) {
                if (chars + 1 > limit) return out + "\u2026";
                out.push_back(' ');
                ++chars;
            }
        } else if (blank || is_format_or_control(c)) {
            pending_space = !out.empty();
        } else {
            const std::size_t needed = (pending_space ? 1 : 0) + 1;
            if (chars + needed > limit) return out + "\u2026";
            if (pending_space) out.push_back(' ');
            out.append(text, i, len);
            chars += needed;
            pending_space = false;
        }
        i += len;
    }
    return out;
}

}  // namespace

std::string plain_display_text(std::string_view untrusted, std::size_t limit) {
    return plain_text(untrusted, limit, true);
}

std::string plain_line_text(std::string_view untrusted, std::size_t limit) {
    return plain_text(untrusted, limit, false);
}

std::vector<FoundPrinter> printers_from_driverless(std::string_view raw) {
    std::vector<FoundPrinter> found;
    for (const std::string& line : output_lines(raw)) {
        const std::string uri(trim_unicode_space(line));
        if (!printer_uri_allowed(uri)) continue;
        FoundPrinter printer;
        printer.uri = uri;
        const std::string authority = uri_authority(uri);
        const std::string host = authority.substr(0, authority.find(':'));
        // "ipp://Name%20Of%20Printer._ipp._tcp.local/": the instance name itself.
        for (std::string_view service : {"._ipp._tcp.local", "._ipps._tcp.local"}) {
            if (host.size() > service.size() &&
                equal_ignoring_case(std::string_view(host).substr(host.size() - service.size()),
                                    service)) {
                printer.name = plain_display_text(
                    percent_decode(std::string_view(host).substr(0, host.size() - service.size())));
                break;
            }
        }
        if (printer.name.empty()) {
            printer.host = authority;
            printer.named_by_host = true;
            printer.name = plain_display_text(percent_decode(host_name_of(authority)));
        }
        if (!printer.name.empty()) found.push_back(std::move(printer));
    }
    return found;
}

std::vector<FoundPrinter> merge_found_printers(const std::vector<FoundPrinter>& first,
                                               const std::vector<FoundPrinter>& second) {
    std::vector<FoundPrinter> rows;
    for (const auto* list : {&first, &second}) {
        for (const FoundPrinter& printer : *list) {
            auto same = std::find_if(rows.begin(), rows.end(), [&](const FoundPrinter& row) {
                // Host names say nothing about which printer it is: the
                // address does (two ports of one host are two printers).
                const bool named = !row.named_by_host && !printer.named_by_host;
                return (named && equal_ignoring_case(row.name, printer.name)) ||
                       (!row.host.empty() && equal_ignoring_case(row.host, printer.host));
            });
            if (same != rows.end()) {
                // A host's name gives way to the printer's own.
                if (same->named_by_host && !printer.named_by_host) {
                    same->name = printer.name;
                    same->named_by_host = false;
                }
                continue;
            }
            if (rows.size() < found_row_limit) rows.push_back(printer);
        }
    }
    return rows;
}

std::vector<FoundScanner> scanners_from_airscan(std::string_view raw) {
    std::vector<FoundScanner> found;
    bool devices = false;
    for (const std::string& line : output_lines(raw)) {
        const std::string_view l = trim_unicode_space(line);
        if (l.starts_with("[")) {
            devices = l == "[devices]";
            continue;
        }
        const auto eq = l.rfind(" = ");
        if (!devices || eq == std::string_view::npos) continue;
        const std::string_view value = l.substr(eq + 3);
        const auto comma = value.rfind(',');
        FoundScanner scanner;
        scanner.name = plain_display_text(l.substr(0, eq));
        scanner.uri = plain_display_text(value.substr(0, std::min(comma, value.size())), 200);
        if (comma != std::string_view::npos)
            scanner.protocol = plain_display_text(value.substr(comma + 1), 8);
        const bool known = std::any_of(found.begin(), found.end(), [&](const FoundScanner& s) {
            return equal_ignoring_case(s.name, scanner.name);
        });
        if (!scanner.name.empty() && !known && found.size() < found_row_limit)
            found.push_back(std::move(scanner));
    }
    return found;
}

std::vector<PrintQueue> queues_from_lpstat(std::string_view raw) {
    std::vector<PrintQueue> queues;
    constexpr std::string_view lead = "device for ";
    for (const std::string& line : output_lines(raw)) {
        if (!line.starts_with(lead)) continue;
        const std::string_view rest = std::string_view(line).substr(lead.size());
        const auto colon = rest.find(": ");
        if (colon == std::string_view::npos || colon == 0) continue;
        queues.push_back({std::string(rest.substr(0, colon)), std::string(rest.substr(colon + 2))});
    }
    return queues;
}

void apply_lpstat_status(std::vector<PrintQueue>& queues, std::string_view raw) {
    PrintQueue* last = nullptr;
    const auto find = [&](std::string_view name) -> PrintQueue* {
        for (PrintQueue& q : queues)
            if (q.name == name) return &q;
        return nullptr;
    };
    for (const std::string& line : output_lines(raw)) {
        constexpr std::string_view default_lead = "system default destination: ";
        if (line.starts_with(default_lead)) {
            if (PrintQueue* q = find(std::string_view(line).substr(default_lead.size())))
                q->is_default = true;
            last = nullptr;
            continue;
        }
        if (line.starts_with("\t") && last != nullptr) {
            // The queue's message (why it stopped), as CUPS words it.
            const std::string message = plain_display_text(line, 120);
            if (!message.empty() && message != "reason unknown")
                last->reason += (last->reason.empty() ? "" : "; ") + message;
            continue;
        }
        last = nullptr;
        if (!line.starts_with("printer ")) continue;
        const std::string_view rest = std::string_view(line).substr(8);
        const std::string_view name = rest.substr(0, rest.find(' '));
        PrintQueue* q = find(name);
        if (q == nullptr) continue;
        const std::string_view state = rest.substr(name.size());
        if (state.starts_with(" is idle.") || state.starts_with(" is holding new jobs."))
            q->state = QueueState::Idle;
        else if (state.starts_with(" now printing "))
            q->state = QueueState::Printing;
        else if (state.starts_with(" disabled since "))
            q->state = QueueState::Stopped;
        last = q;
    }
}

void apply_lpstat_accepting(std::vector<PrintQueue>& queues, std::string_view raw) {
    for (const std::string& line : output_lines(raw)) {
        const std::string_view text(line);
        const std::string_view name = text.substr(0, text.find(' '));
        if (!text.substr(name.size()).starts_with(" not accepting requests")) continue;
        for (PrintQueue& q : queues)
            if (q.name == name) q.accepting = false;
    }
}

void apply_lpstat_jobs(std::vector<PrintQueue>& queues, std::string_view raw) {
    for (const std::string& line : output_lines(raw)) {
        // The job id is the queue's name, "-" and the number; names may hold "-".
        const std::string_view id = std::string_view(line).substr(0, line.find(' '));
        const auto dash = id.rfind('-');
        if (dash == std::string_view::npos || dash == 0 || dash + 1 == id.size()) continue;
        const std::string_view number = id.substr(dash + 1);
        if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        for (PrintQueue& q : queues)
            if (q.name == id.substr(0, dash)) ++q.pending_jobs;
    }
}

namespace {

bool host_label_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// A DNS name or IPv4 address: labels of letters, digits and "-", not at a
// label's ends.
bool valid_host_name(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    for (std::size_t start = 0;;) {
        const std::size_t dot = host.find('.', start);
        const std::string_view label =
            host.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (label.empty()) return dot == std::string_view::npos && start > 0;  // "host." is fine
        if (label.size() > 63 || label.front() == '-' || label.back() == '-' ||
            !std::all_of(label.begin(), label.end(), host_label_char))
            return false;
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

bool valid_ipv6(std::string_view host) {
    if (host.size() < 2 || host.size() > 45 || host.find(':') == std::string_view::npos)
        return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
               c == ':' || c == '.';
    });
}

bool valid_port(std::string_view port) {
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int value = std::stoi(std::string(port));
    return value >= 1 && value <= 65535;
}

}  // namespace

PrinterAddress parse_printer_address(std::string_view typed) {
    PrinterAddress result;
    while (!typed.empty() && (typed.front() == ' ' || typed.front() == '\t'))
        typed.remove_prefix(1);
    while (!typed.empty() && (typed.back() == ' ' || typed.back() == '\t')) typed.remove_suffix(1);
    const auto refuse = [&](AddressProblem problem) {
        result.problem = problem;
        result.uri.clear();
        return result;
    };
    if (typed.empty()) return refuse(AddressProblem::Empty);
    if (typed.size() > printer_address_limit) return refuse(AddressProblem::TooLong);
    // Only what an address is made of: no blanks, quotes or shell characters.
    const bool plain = std::all_of(typed.begin(), typed.end(), [](char c) {
        return host_label_char(c) || c == '.' || c == ':' || c == '/' || c == '[' || c == ']' ||
               c == '_' || c == '~' || c == '%';
    });
    if (!plain) return refuse(AddressProblem::Unsafe);
    std::string scheme = "ipp";
    std::string_view rest = typed;
    std::string_view path = "/ipp/print";
    if (const auto sep = typed.find("://"); sep != std::string_view::npos) {
        scheme = std::string(typed.substr(0, sep));
        std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (scheme != "ipp" && scheme != "ipps") return refuse(AddressProblem::OtherScheme);
        rest = typed.substr(sep + 3);
        const auto slash = rest.find('/');
        if (slash != std::string_view::npos) {
            path = rest.substr(slash);
            rest = rest.substr(0, slash);
            if (path == "/") path = "/ipp/print";
        }
    } else if (typed.find('/') != std::string_view::npos) {
        return refuse(AddressProblem::BadHost);
    }
    std::string host;
    std::string_view port;
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        if (close == std::string_view::npos) return refuse(AddressProblem::BadHost);
        const std::string_view v6 = rest.substr(1, close - 1);
        if (!valid_ipv6(v6)) return refuse(AddressProblem::BadHost);
        host = "[" + std::string(v6) + "]";
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (!after.starts_with(':')) return refuse(AddressProblem::BadHost);
            port = after.substr(1);
        }
    } else if (std::count(rest.begin(), rest.end(), ':') > 1) {
        if (!valid_ipv6(rest)) return refuse(AddressProblem::BadHost);
        host = "[" + std::string(rest) + "]";
    } else {
        const auto colon = rest.find(':');
        const std::string_view name = rest.substr(0, colon);
        if (!valid_host_name(name)) return refuse(AddressProblem::BadHost);
        host = std::string(name);
        if (colon != std::string_view::npos) port = rest.substr(colon + 1);
    }
    if (host.find('%') != std::string::npos) return refuse(AddressProblem::BadHost);
    if (!port.empty() || rest.ends_with(':')) {
        if (!valid_port(port)) return refuse(AddressProblem::BadPort);
    }
    const std::string with_port =
        host + ":" + (port.empty() ? std::string("631") : std::string(port));
    result.uri = scheme + "://" + with_port + std::string(path);
    result.host = std::string(typed);
    if (!printer_uri_allowed(result.uri)) return refuse(AddressProblem::Unsafe);
    return result;
}

namespace {

// What lpadmin gets for `instance` before uniqueness: look-alikes folded,
// refused bytes as "_".
std::string queue_name_base(std::string_view instance) {
    std::string base;
    for (unsigned char c : plain_display_text(instance, std::string::npos)) {
        const bool refused = c <= 0x20 || c == 0x7f || c == '/' || c == '\\' || c == '?' ||
                             c == '\'' || c == '"' || c == '#';
        if (!refused)
            base.push_back(static_cast<char>(c));
        else if (!base.empty() && base.back() != '_')
            base.push_back('_');
    }
    while (!base.empty() && base.back() == '_') base.pop_back();
    return base;
}

}  // namespace

bool valid_queue_name(std::string_view name) {
    return !name.empty() && name.size() < 128 && name.front() != '-' && is_valid_utf8(name) &&
           queue_name_base(name) == name;
}

bool printer_uri_allowed(std::string_view uri) {
    if (!(uri.starts_with("ipp://") || uri.starts_with("ipps://")) || uri.size() > uri_limit)
        return false;
    constexpr std::string_view shell = "\"'`$;&|<>\\(){}";
    return std::all_of(uri.begin(), uri.end(), [&](unsigned char c) {
        return c > 0x20 && c < 0x7f && shell.find(static_cast<char>(c)) == std::string_view::npos;
    });
}

bool queue_name_taken(std::string_view name, const std::vector<PrintQueue>& existing) {
    // CUPS compares names without case; a look-alike is the same name to a person.
    const std::string key = queue_name_base(name);
    return std::any_of(existing.begin(), existing.end(), [&](const PrintQueue& q) {
        return equal_ignoring_case(queue_name_base(q.name), key) ||
               equal_ignoring_case(q.name, name);
    });
}

std::string queue_name_for(std::string_view instance, const std::vector<PrintQueue>& existing) {
    constexpr std::size_t max_bytes = 127;
    std::string base = queue_name_base(instance);
    if (base.empty()) base = "Printer";
    // Cut at a character boundary, leaving room for a "_NN" suffix. A UTF-8
    // character has at most three continuation bytes; bytes that are not
    // UTF-8 are cut where they stand.
    const auto cut = [](std::string text, std::size_t bytes) {
        if (text.size() <= bytes) return text;
        const auto continuation = [&](std::size_t at) {
            return (static_cast<unsigned char>(text[at]) & 0xc0) == 0x80;
        };
        std::size_t at = bytes;
        while (at > 0 && bytes - at < 3 && continuation(at)) --at;
        text.resize(continuation(at) || at == 0 ? bytes : at);
        return text;
    };
    std::string name = cut(base, max_bytes);
    for (int n = 2; queue_name_taken(name, existing); ++n) {
        std::string suffix(1, '_');
        suffix += std::to_string(n);
        name = cut(base, max_bytes - suffix.size()) + suffix;
    }
    return name;
}

bool has_queue(const FoundPrinter& printer, const std::vector<PrintQueue>& queues) {
    return std::any_of(queues.begin(), queues.end(),
                       [&](const PrintQueue& q) { return q.uri == printer.uri; });
}

}  // namespace kelmora
