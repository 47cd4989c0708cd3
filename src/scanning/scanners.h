// The scanners SANE finds, a test scan of one, and what to do when one is
// missing. GTK-free. Names and models come from SANE's backends and from the
// network: they are made plain one-line text before they are shown, and a
// device name is only ever passed to scanimage as one argument of its own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hardware/accounts.h"
#include "printing/printers.h"
#include "process/log_sink.h"
#include "scanning/sane_config.h"

namespace kelmora {

struct Scanner {
    std::string device;  // SANE's name ("airscan:e0:Brother MFC-L2710DW"), as scanimage takes it
    std::string name;    // plain text: vendor and model
    std::string connection;  // "USB", the network address, or SANE's type ("virtual device")
    bool network = false;
};

// How long one listing and one test scan may take.
inline constexpr std::chrono::milliseconds scanner_list_limit{30'000};
inline constexpr std::chrono::milliseconds test_scan_limit{60'000};
// scanimage's list format: device, vendor, model, type.
inline constexpr std::string_view scanner_list_format = "%d|%v|%m|%t%n";

// The scanners in "scanimage -f FORMAT" output, one row per device: eSCL and
// WSD, IPv4 and IPv6 and the maker's own network backend fold into one row
// (sane-airscan's first) by address and port where they are known
// (`addresses`: airscan name or model -> "host:port", from airscan-discover),
// and by vendor and model only where a row has no address at all.
std::vector<Scanner> scanners_from_scanimage(
    std::string_view raw, const std::vector<std::pair<std::string, std::string>>& addresses = {});

// What listing found; none when scanimage could not run (SANE not installed).
struct ScannerListing {
    bool ran = false;
    std::vector<Scanner> scanners;
};
// Runs scanimage (and airscan-discover for the addresses) as the user; blocks.
ScannerListing list_scanners(std::chrono::milliseconds limit = scanner_list_limit);

// Why a test scan did not give a picture.
enum class ScanFailure {
    None,
    NoAnswer,      // Error during device I/O, or the time ran out
    NameMoved,     // Invalid argument: list again
    Denied,        // Access to resource has been denied (permissions)
    Busy,          // Device busy
    FeederEmpty,   // Document feeder out of documents
    Cancelled,     // the user cancelled it
    NotInstalled,  // scanimage is missing
    Failed,
};
ScanFailure classify_scan_error(std::string_view stderr_text, int status, bool timed_out);

// The options of a test scan for what "scanimage -d DEVICE -A" lists: 75 dpi
// (or the lowest offered) and a 100 mm square where the area can be set.
std::vector<std::string> test_scan_options(std::string_view all_options);

// Scans `device` into `file` (PNG) as the user; `started` is told the
// scanimage's process group, which may be ended to cancel. Blocks.
ScanFailure run_test_scan(const std::string& device, const std::filesystem::path& file,
                          const std::function<void(pid_t)>& started,
                          const std::function<bool()>& cancelled,
                          std::chrono::milliseconds limit = test_scan_limit);

// A scanner's address as a person types it: a host name, IPv4, [IPv6], with
// a port, or an http(s)://.../eSCL URL; the URL sane-airscan gets, or why not.
struct ScannerAddress {
    AddressProblem problem = AddressProblem::None;
    std::string url;   // "http://HOST:PORT/eSCL"
    std::string host;  // for the name and the page
    std::string name;  // "Scanner at HOST": the name sane-airscan lists it under
};
ScannerAddress parse_scanner_address(std::string_view typed);

// Asks sane-airscan itself whether an eSCL scanner answers at `address`: a
// configuration of its own naming only that device (SANE_CONFIG_DIR), then
// "scanimage -d airscan:e0:NAME -A". Blocks.
bool scanner_answers(const ScannerAddress& address,
                     std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace kelmora

namespace kelmora {

// A USB device that looks like a scanner (a maker's vendor-specific interface,
// or a scanner's name), read from sysfs below the root.
struct UsbScanner {
    std::string name;       // plain text
    std::string vendor_id;  // "04f9"
    std::string busnum, devnum;
};
std::vector<UsbScanner> read_usb_scanners(const std::filesystem::path& root);

// The package that drives a USB scanner of this maker on Void (empty when
// SANE's own backends are all there is): Brother brother-brscan4 or -brscan5
// by model family, HP hplip, Epson imagescan.
std::string scanner_package_for(const UsbScanner& scanner);

// Whether the user can open a USB scanner's device node: SANE's udev rule
// gives it the "scanner" group and no seat access on Void.
enum class NodeAccess { Fine, JoinGroup, LogInAgain };
NodeAccess judge_node_access(unsigned mode, unsigned owner, unsigned group, unsigned my_uid,
                             const std::vector<unsigned>& my_groups, bool listed_in_group_file);
// The same for the node of `scanner` below `root` ("/dev/bus/usb/BBB/DDD"),
// for the user running kelmora; `group` is set to the node's group name.
NodeAccess scanner_node_access(const std::filesystem::path& root, const UsbScanner& scanner,
                               std::string& group);

// True when HP's SANE backend is on (a line "hpaio" in dll.conf or dll.d).
bool hpaio_enabled(const std::filesystem::path& root);

// What the scanner page offers when a scanner is missing, in the order shown.
struct ScannerFix {
    enum class Kind { Install, EnableHpaio, JoinGroup, LogInAgain, BrotherNetwork };
    Kind kind;
    std::string subject;  // the scanner, or the group
    std::string package;  // Install
    std::string command;  // BrotherNetwork: the line to run
};
// `listed`: what SANE found; `usb`: USB scanners sysfs shows; `installed`:
// package names; `brother_network`: network printers' (name, host) that are
// Brother devices the maker's backend needs registered.
std::vector<ScannerFix> scanner_fixes(
    const std::filesystem::path& root, const std::vector<Scanner>& listed,
    const std::vector<UsbScanner>& usb, const std::optional<std::vector<std::string>>& installed,
    const std::vector<std::pair<std::string, std::string>>& brother_network);

// The helper's request for the user joining the scanner group; the helper
// accepts only the user pkexec ran it for.
std::vector<std::string> join_scanner_group_request(const std::string& user);

}  // namespace kelmora

namespace kelmora {

// The fixes that need root, each one privileged step through the helper
// (or pkexec itself where the helper is not installed). Block.
TaskResult join_scanner_group(const LogSink& log);
TaskResult enable_hpaio(const LogSink& log);
// Asks the scanner first (as the user, through sane-airscan); only when it
// answers, writes its file into /etc/sane.d/airscan.d.
enum class ScannerAdded { Added, NoAnswer, Cancelled, Failed };
ScannerAdded add_scanner_by_address(const ScannerAddress& address, const LogSink& log);
// The root shell commands where the helper is not installed.
std::string airscan_shell_command(std::string_view name, std::string_view url);
std::string hpaio_shell_command();

}  // namespace kelmora
