// The printers and scanners that the network search found, and the print
// queues CUPS has, turned into rows the printer page can show. GTK-free.
//
// Names and addresses come from the network: they are decoded, made plain
// single-line text without control or bidi characters, and capped, and only
// ipp:// and ipps:// addresses are kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kelmora {

struct FoundPrinter {
    std::string name;            // for display: the mDNS instance name, decoded
    std::string uri;             // what lpadmin -v gets
    std::string host;            // host[:port] (no ":631") of the URI, when it names a host
    bool named_by_host = false;  // no instance name was known: `name` is the host's
};

struct FoundScanner {
    std::string name;
    std::string uri;
    std::string protocol;  // "eSCL" or "WSD"
};

struct PrintQueue {
    std::string name;
    std::string uri;
};

// At most this many rows of each kind; a network cannot fill the window.
inline constexpr std::size_t found_row_limit = 12;
// Displayed names are cut to this many characters.
inline constexpr std::size_t display_name_limit = 60;

// "%20" and the like decoded; malformed escapes are kept as they are.
std::string percent_decode(std::string_view text);

// Lossy UTF-8, control and bidi formatting characters replaced by spaces,
// runs of spaces folded, trimmed, and cut to `limit` characters ("…").
std::string plain_display_text(std::string_view untrusted, std::size_t limit = display_name_limit);

// The printers in driverless's output (one URI a line) and in
// "avahi-browse -t -r _ipp._tcp" output (resolved "=" entries).
std::vector<FoundPrinter> printers_from_driverless(std::string_view raw);
std::vector<FoundPrinter> printers_from_avahi(std::string_view raw);
// One row per printer: the same instance name or host (IPv4 and IPv6, or both
// tools) folds into the first; at most found_row_limit rows.
std::vector<FoundPrinter> merge_found_printers(const std::vector<FoundPrinter>& first,
                                               const std::vector<FoundPrinter>& second);

// The scanners in airscan-discover's output ("  NAME = URL, PROTOCOL" under
// "[devices]"), one row per name.
std::vector<FoundScanner> scanners_from_airscan(std::string_view raw);

// The queues in "lpstat -v" output ("device for NAME: URI", C locale).
std::vector<PrintQueue> queues_from_lpstat(std::string_view raw);

// A queue name for `instance` that lpadmin accepts: no bytes up to the space,
// no DEL, "/", "\", "?", "'", "\"" or "#" (each run becomes one "_"), under
// 128 bytes, and unlike every existing queue (CUPS compares names without
// case).
std::string queue_name_for(std::string_view instance, const std::vector<PrintQueue>& existing);

// True when a queue prints to this printer already.
bool has_queue(const FoundPrinter& printer, const std::vector<PrintQueue>& queues);

}  // namespace kelmora
