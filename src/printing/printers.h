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

#include "printing/queue_settings.h"

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

enum class QueueState { Unknown, Idle, Printing, Stopped };

// One of a printer's supplies (toner, ink, drum) as CUPS reports it.
struct Supply {
    std::string name;   // plain text ("Black Toner")
    int level = -2;     // 0-100; -1 unavailable, -2 unknown, -3 some remaining
    std::string color;  // "#000000", as given
    std::string type;   // "toner", "ink-cartridge", ...
};

struct PrintQueue {
    std::string name;
    std::string uri;
    QueueState state = QueueState::Unknown;
    std::string reason = {};  // CUPS's message for the queue (why it stopped), plain text
    bool is_default = false;  // lpstat -d names it
    bool accepting = true;    // lpstat -a: it takes new jobs
    int pending_jobs = 0;     // lpstat -o: jobs not yet printed
    std::vector<Supply> supplies = {};
    std::vector<QueueSetting> settings = {};  // paper, two-sided, colour: what its PPD offers
    std::vector<QueueJob> jobs = {};          // lpstat -o: the jobs it holds
};

// At most this many rows of each kind; a network cannot fill the window.
inline constexpr std::size_t found_row_limit = 12;
// Displayed names are cut to this many characters.
inline constexpr std::size_t display_name_limit = 60;

// "%20" and the like decoded; malformed escapes are kept as they are.
std::string percent_decode(std::string_view text);

// Lossy UTF-8; control and bidi formatting characters, line and paragraph
// separators, and invisible or space-like characters (no-break and other
// Unicode spaces, soft hyphen, variation selectors, tags) replaced by spaces;
// runs of spaces folded, trimmed, and cut to `limit` characters ("…").
std::string plain_display_text(std::string_view untrusted, std::size_t limit = display_name_limit);
// The same for a whole line whose own blanks matter: they stay as they are
// (each a space, nothing folded or trimmed); what is unsafe goes.
std::string plain_line_text(std::string_view untrusted, std::size_t limit);

// The printers in driverless's output (one URI a line, which CUPS assembles
// and percent-encodes). avahi-browse's text is never parsed into rows: it
// copies TXT record bytes unescaped, so a printer on the network could forge
// whole records with newlines.
std::vector<FoundPrinter> printers_from_driverless(std::string_view raw);
// One row per printer: the same instance name or host (IPv4 and IPv6, or both
// tools) folds into the first; at most found_row_limit rows.
std::vector<FoundPrinter> merge_found_printers(const std::vector<FoundPrinter>& first,
                                               const std::vector<FoundPrinter>& second);

// The scanners in airscan-discover's output ("  NAME = URL, PROTOCOL" under
// "[devices]"), one row per name.
std::vector<FoundScanner> scanners_from_airscan(std::string_view raw);

// The queues in "lpstat -v" output ("device for NAME: URI", C locale).
std::vector<PrintQueue> queues_from_lpstat(std::string_view raw);

// Adds what "lpstat -p -d" (C locale) says to `queues`: each queue's state
// ("printer NAME is idle.", "now printing", "disabled since ... -" and the
// tab-indented message after it) and which is the default ("system default
// destination: NAME").
void apply_lpstat_status(std::vector<PrintQueue>& queues, std::string_view raw);

// Adds what "lpstat -a" says (a queue "not accepting requests") and how many
// jobs "lpstat -o" lists for each queue ("NAME-12 user 1024 date").
void apply_lpstat_accepting(std::vector<PrintQueue>& queues, std::string_view raw);
void apply_lpstat_jobs(std::vector<PrintQueue>& queues, std::string_view raw);

// What a person types as a printer's address, as the URI lpadmin gets: a
// host name, an IPv4 or IPv6 address ("[v6]:port" with a port), host:port,
// or an ipp:// or ipps:// URI; a bare host becomes ipp://HOST:631/ipp/print.
// Blanks around it are trimmed. Anything else is refused with its reason.
enum class AddressProblem { None, Empty, TooLong, Unsafe, OtherScheme, BadHost, BadPort };
struct PrinterAddress {
    AddressProblem problem = AddressProblem::None;
    std::string uri;   // when there is no problem
    std::string host;  // host[:port] as typed, for the page
};
PrinterAddress parse_printer_address(std::string_view typed);
inline constexpr std::size_t printer_address_limit = 255;

// A queue name for `instance` that lpadmin accepts: invisible and space-like
// characters folded like blanks, no bytes up to the space, no DEL, "/", "\",
// "?", "'", "\"" or "#" (each run becomes one "_"), under 128 bytes, and
// unlike every existing queue.
std::string queue_name_for(std::string_view instance, const std::vector<PrintQueue>& existing);

// True for a name queue_name_for can make: what lpadmin accepts, nothing to
// fold, not starting with "-".
bool valid_queue_name(std::string_view name);

// True for an address a queue may print to: ipp:// or ipps://, at most 1024
// bytes of printable ASCII without blanks, quotes or shell characters.
bool printer_uri_allowed(std::string_view uri);

// True when a queue's name is `name` as a person and CUPS see it: without
// case, and with look-alike characters folded as queue_name_for folds them.
bool queue_name_taken(std::string_view name, const std::vector<PrintQueue>& existing);

// True when a queue prints to this printer already.
bool has_queue(const FoundPrinter& printer, const std::vector<PrintQueue>& queues);

}  // namespace kelmora
