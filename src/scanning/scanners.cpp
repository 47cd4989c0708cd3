#include "scanning/scanners.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "hardware/accounts.h"
#include "hardware/small_file.h"
#include "i18n/utf8.h"
#include "printing/discovery_output.h"
#include "process/command.h"
#include "process/process.h"
#include "services/service_setup.h"

namespace kelmora {
namespace {

bool contains(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

// A network address: the host ("192.0.2.9", "[2001:db8::9]") and the port
// where it is known (0 where not).
struct NetAddress {
    std::string host;
    unsigned port = 0;
};

// "host", "host:port", "[v6]" or "[v6]:port".
NetAddress split_authority(std::string_view authority) {
    NetAddress out;
    std::string_view port;
    if (authority.starts_with("[")) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return out;
        out.host = std::string(authority.substr(0, close + 1));
        if (authority.substr(close + 1).starts_with(":")) port = authority.substr(close + 2);
    } else {
        const auto colon = authority.find(':');
        out.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) port = authority.substr(colon + 1);
    }
    unsigned value = 0;
    if (!port.empty() && port.size() <= 5 &&
        std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        for (char c : port) value = value * 10 + static_cast<unsigned>(c - '0');
        if (value <= 65535) out.port = value;
    }
    return out;
}

// The address of a network device's SANE name, where the name holds it
// ("escl:http://192.0.2.9:80", "epsonds:net:192.0.2.9").
NetAddress address_in_device(std::string_view device) {
    if (const auto scheme = device.find("://"); scheme != std::string_view::npos) {
        std::string_view rest = device.substr(scheme + 3);
        NetAddress address = split_authority(rest.substr(0, rest.find('/')));
        if (address.port == 0 && device.substr(0, scheme).ends_with("https"))
            address.port = 443;
        else if (address.port == 0 && device.substr(0, scheme).ends_with("http"))
            address.port = 80;
        return address;
    }
    if (const auto net = device.find(":net:"); net != std::string_view::npos)
        return {std::string(device.substr(net + 5)), 0};
    return {};
}

bool network_device(std::string_view device) {
    return device.starts_with("airscan:") || device.starts_with("escl:") ||
           contains(device, ":net:") || contains(device, "://");
}

// The airscan name ("airscan:e0:NAME" -> "NAME").
std::string airscan_name(std::string_view device) {
    if (!device.starts_with("airscan:")) return {};
    device.remove_prefix(8);
    const auto colon = device.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(device.substr(colon + 1));
}

constexpr std::string_view shell_characters = "\"'\\`$;|<>(){}*!^ \t";

}  // namespace

std::vector<Scanner> scanners_from_scanimage(
    std::string_view raw, const std::vector<std::pair<std::string, std::string>>& addresses) {
    struct Row {
        Scanner scanner;
        NetAddress address;
        bool airscan;
    };
    std::vector<Row> rows;
    for (const std::string& line : output_lines(raw)) {
        if (rows.size() == 4 * found_row_limit) break;  // a flood folds into nothing useful
        // device|vendor|model|type: the device name and type have no "|";
        // a vendor or model from the network may.
        const auto first = line.find('|');
        const auto last = line.rfind('|');
        if (first == std::string::npos || first == 0) continue;
        const std::string device = line.substr(0, first);
        if (device.size() > 512 ||
            std::any_of(device.begin(), device.end(), [](char c) { return c < ' ' || c == 0x7f; }))
            continue;  // not a name scanimage could be given back
        std::string middle = last > first ? line.substr(first + 1, last - first - 1) : "";
        const std::string type = last > first ? line.substr(last + 1) : "";
        const auto bar = middle.find('|');
        const std::string vendor = middle.substr(0, bar);
        const std::string model = bar == std::string::npos ? "" : middle.substr(bar + 1);
        Row row;
        row.scanner.device = device;
        // sane-airscan names a device it was told about by its protocol.
        const bool placeholder = vendor == "eSCL" || vendor == "WSD";
        const std::string v = placeholder ? "" : plain_display_text(vendor);
        const std::string m = plain_display_text(model);
        row.scanner.name = m.empty()                                                 ? v
                           : v.empty() || ascii_lower(m).starts_with(ascii_lower(v)) ? m
                                                                                     : v + " " + m;
        if (row.scanner.name.empty()) row.scanner.name = plain_display_text(device);
        row.scanner.network = network_device(device);
        row.airscan = device.starts_with("airscan:");
        row.address = address_in_device(device);
        // sane-airscan's own type field names the host, not the port.
        if (type.starts_with("ip=")) row.address = {type.substr(3), 0};
        const std::string own_name = airscan_name(device);
        // airscan-discover's address for the device's own airscan name wins
        // over one for its model: two of one model have one model name.
        bool by_own_name = false;
        for (const auto& [name, address] : addresses) {
            if (address.empty()) continue;
            const bool own = !own_name.empty() && name == own_name;
            if (own || (!by_own_name && ascii_lower(name) == ascii_lower(row.scanner.name))) {
                const NetAddress found = split_authority(address);
                if (row.address.host.empty() || found.host == row.address.host || row.airscan)
                    row.address = found;
                by_own_name = by_own_name || own;
            }
        }
        const std::string& host = row.address.host;
        row.scanner.connection = row.scanner.network
                                     ? plain_display_text(host.empty() ? "network" : host)
                                 : contains(ascii_lower(device), "usb") ? "USB"
                                                                        : plain_display_text(type);
        rows.push_back(std::move(row));
    }
    // One device seen twice: network rows at one address (and port, where both
    // know it), two sane-airscan rows there only under one name (ipp-usb
    // serves several devices on 127.0.0.1), and by name only where a row has
    // no address at all.
    const auto same_device = [](const Row& a, const Row& b) {
        if (!a.scanner.network || !b.scanner.network) return a.scanner.device == b.scanner.device;
        const bool same_name = ascii_lower(a.scanner.name) == ascii_lower(b.scanner.name);
        if (a.address.host.empty() || b.address.host.empty()) return same_name;
        if (ascii_lower(a.address.host) != ascii_lower(b.address.host)) return false;
        const bool both_ports = a.address.port != 0 && b.address.port != 0;
        if (both_ports && a.address.port != b.address.port) return false;
        if (a.airscan && b.airscan)
            return both_ports || airscan_name(a.scanner.device) == airscan_name(b.scanner.device);
        return true;
    };
    // sane-airscan's row wins over the maker's backend for the same device.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.airscan && !b.airscan; });
    std::vector<Scanner> scanners;
    std::vector<const Row*> kept;
    for (const Row& row : rows) {
        if (std::any_of(kept.begin(), kept.end(),
                        [&](const Row* k) { return same_device(*k, row); }))
            continue;
        kept.push_back(&row);
        scanners.push_back(row.scanner);
        if (scanners.size() == found_row_limit) break;
    }
    return scanners;
}

ScannerListing list_scanners(std::chrono::milliseconds limit) {
    ScannerListing listing;
    // airscan-discover names each network scanner with its address.
    std::vector<std::pair<std::string, std::string>> addresses;
    if (const auto discover = capture_output({"airscan-discover"}, limit))
        for (const FoundScanner& s : scanners_from_airscan(discover->out)) {
            // The port stays: ipp-usb serves each device on 127.0.0.1 at one of its own.
            const NetAddress at = address_in_device(s.uri);
            addresses.emplace_back(s.name, at.port == 0 || at.host.empty()
                                               ? at.host
                                               : at.host + ":" + std::to_string(at.port));
        }
    const auto out = capture_output(
        {"env", "LC_ALL=C", "scanimage", "-f", std::string(scanner_list_format)}, limit);
    // scanimage exits 0 also when it finds nothing: its output is the answer.
    if (!out || out->status == 127 || (out->status != 0 && out->out.empty())) return listing;
    listing.ran = true;
    listing.scanners = scanners_from_scanimage(out->out, addresses);
    return listing;
}

ScanFailure classify_scan_error(std::string_view err, int status, bool timed_out) {
    if (timed_out || contains(err, "Error during device I/O")) return ScanFailure::NoAnswer;
    if (contains(err, "Invalid argument")) return ScanFailure::NameMoved;
    if (contains(err, "Access to resource has been denied")) return ScanFailure::Denied;
    if (contains(err, "Device busy")) return ScanFailure::Busy;
    if (contains(err, "out of documents")) return ScanFailure::FeederEmpty;
    return status == 0 ? ScanFailure::None : ScanFailure::Failed;
}

std::vector<std::string> test_scan_options(std::string_view all) {
    std::vector<std::string> options;
    for (const std::string& line : output_lines(all)) {
        std::string_view text(line);
        while (text.starts_with(' ')) text.remove_prefix(1);
        if (text.starts_with("--resolution ")) {
            // "--resolution 75|150|300dpi [150]" or "--resolution 50..1200dpi [300]"
            std::string_view values = text.substr(13);
            values = values.substr(0, values.find_first_of(" d["));
            std::string lowest;
            int best = 1 << 30;
            bool has_75 = false;
            std::string_view rest = values;
            const bool range = contains(values, "..");
            while (!rest.empty()) {
                const auto sep = rest.find_first_of("|.");
                const std::string_view v = rest.substr(0, sep);
                const int n = std::atoi(std::string(v).c_str());
                if (n > 0 && n < best) best = n, lowest = std::string(v);
                if (n == 75) has_75 = true;
                rest.remove_prefix(sep == std::string_view::npos
                                       ? rest.size()
                                       : rest.find_first_not_of("|.", sep));
            }
            if (range) {
                const int low = std::atoi(std::string(values).c_str());
                has_75 = low > 0 && low <= 75;
            }
            if (has_75)
                options.insert(options.end(), {"--resolution", "75"});
            else if (!lowest.empty())
                options.insert(options.end(), {"--resolution", lowest});
        }
        // "-x 0..215.9mm [215.9]": a square of 100 mm, or the whole width.
        for (const char* axis : {"-x ", "-y "}) {
            if (!text.starts_with(axis)) continue;
            const std::string_view range = text.substr(3);
            const auto dots = range.find("..");
            if (dots == std::string_view::npos) continue;
            const double most = std::atof(std::string(range.substr(dots + 2)).c_str());
            if (most <= 0) continue;
            options.insert(
                options.end(),
                {std::string(axis, 2), std::to_string(static_cast<int>(std::min(most, 100.0)))});
        }
    }
    return options;
}

ScanFailure run_test_scan(const std::string& device, const std::filesystem::path& file,
                          const std::function<void(pid_t)>& started,
                          const std::function<bool()>& cancelled, std::chrono::milliseconds limit) {
    CaptureOptions options;
    options.started = started;
    const auto asked =
        capture_output({"env", "LC_ALL=C", "scanimage", "-d", device, "-A"}, limit, options);
    if (!asked) return ScanFailure::NotInstalled;
    if (cancelled()) return ScanFailure::Cancelled;
    if (asked->status != 0 || asked->timed_out)
        return classify_scan_error(asked->err, asked->status == 0 ? 1 : asked->status,
                                   asked->timed_out);
    std::vector<std::string> argv = {"env",  "LC_ALL=C",     "scanimage", "-d",
                                     device, "--format=png", "-o",        file.string()};
    for (std::string& o : test_scan_options(asked->out)) argv.push_back(std::move(o));
    const auto scanned = capture_output(argv, limit, options);
    if (!scanned) return ScanFailure::NotInstalled;
    if (cancelled()) return ScanFailure::Cancelled;
    const ScanFailure failure =
        classify_scan_error(scanned->err, scanned->status, scanned->timed_out);
    std::error_code error;
    if (failure == ScanFailure::None && std::filesystem::file_size(file, error) == 0)
        return ScanFailure::Failed;
    return failure;
}

ScannerAddress parse_scanner_address(std::string_view typed) {
    ScannerAddress address;
    while (!typed.empty() && (typed.front() == ' ' || typed.front() == '\t'))
        typed.remove_prefix(1);
    while (!typed.empty() && (typed.back() == ' ' || typed.back() == '\t')) typed.remove_suffix(1);
    std::string scheme = "http", path = "/eSCL";
    std::string_view rest = typed;
    if (const auto at = typed.find("://"); at != std::string_view::npos) {
        const std::string given = ascii_lower(typed.substr(0, at));
        if (given != "http" && given != "https") {
            address.problem = AddressProblem::OtherScheme;
            return address;
        }
        scheme = given;
        rest = typed.substr(at + 3);
        if (const auto slash = rest.find('/'); slash != std::string_view::npos) {
            path = std::string(rest.substr(slash));
            rest = rest.substr(0, slash);
            if (path == "/") path = "/eSCL";
        }
    }
    // The host (and port) are checked as a printer's address is.
    const PrinterAddress host = parse_printer_address(rest);
    if (host.problem != AddressProblem::None) {
        address.problem = host.problem;
        return address;
    }
    if (path.size() > 200 || path.find_first_of(shell_characters) != std::string::npos ||
        std::any_of(path.begin(), path.end(), [](char c) { return c < ' ' || c >= 0x7f; })) {
        address.problem = AddressProblem::Unsafe;
        return address;
    }
    address.host = host.host;
    address.url = scheme + "://" + host.host + path;
    address.name = "Scanner at " + host.host;
    if (!airscan_name_allowed(address.name)) address.name = "Scanner by address";
    return address;
}

bool scanner_answers(const ScannerAddress& address, std::chrono::milliseconds limit) {
    char dir[] = "/tmp/kelmora-sane-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return false;
    const std::filesystem::path config = dir;
    {
        std::ofstream(config / "dll.conf") << "airscan\n";
        std::ofstream(config / "airscan.conf") << "[options]\ndiscovery = disable\n"
                                               << airscan_file_content(address.name, address.url);
    }
    CaptureOptions options;
    options.environment = {"SANE_CONFIG_DIR=" + config.string(), "LC_ALL=C"};
    // sane-airscan asks the scanner for its capabilities when it is opened.
    const auto out =
        capture_output({"scanimage", "-d", "airscan:e0:" + address.name, "-A"}, limit, options);
    std::error_code error;
    std::filesystem::remove_all(config, error);
    return out && !out->timed_out && out->status == 0;
}

}  // namespace kelmora

namespace kelmora {
namespace {

namespace fs = std::filesystem;

std::string sysfs_text(const fs::path& file) {
    auto text = read_small_file(file);
    if (!text) return {};
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
    return *text;
}

constexpr std::string_view scanner_makers[][2] = {
    {"04f9", "Brother"}, {"03f0", "HP"}, {"04b8", "Epson"}, {"04a9", "Canon"}};

// Words in the product names of scanners and all-in-ones.
constexpr std::string_view scanner_words[] = {
    "scan",       "mfc",   "dcp",       "mfp",  "all-in-one", "officejet", "envy",
    "perfection", "pixma", "workforce", "ads-", "et-",        "deskjet"};

bool digits_at_least(std::string_view text, int value) {
    std::string number;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        number += c;
    }
    return !number.empty() && std::atoi(number.c_str()) >= value;
}

}  // namespace

std::vector<UsbScanner> read_usb_scanners(const fs::path& root) {
    const fs::path devices = root / "sys/bus/usb/devices";
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(devices, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    std::vector<UsbScanner> found;
    for (const std::string& device : names) {
        if (device.find(':') != std::string::npos || found.size() >= 12) continue;
        const fs::path dir = devices / device;
        UsbScanner scanner;
        scanner.vendor_id = ascii_lower(sysfs_text(dir / "idVendor"));
        const std::string product = sysfs_text(dir / "product");
        const std::string maker = sysfs_text(dir / "manufacturer");
        bool vendor_specific = false;
        for (const std::string& other : names)
            if (other.rfind(device + ":", 0) == 0 &&
                sysfs_text(devices / other / "bInterfaceClass") == "ff")
                vendor_specific = true;
        const bool known_maker =
            std::any_of(std::begin(scanner_makers), std::end(scanner_makers),
                        [&](const auto& m) { return m[0] == scanner.vendor_id; });
        const std::string words = ascii_lower(product + " " + maker);
        const bool scanner_name =
            std::any_of(std::begin(scanner_words), std::end(scanner_words),
                        [&](std::string_view w) { return contains(words, w); });
        if (!(known_maker && (vendor_specific || scanner_name)) && !contains(words, "scan"))
            continue;
        scanner.name =
            plain_display_text(ascii_lower(product).starts_with(ascii_lower(maker)) || maker.empty()
                                   ? product
                                   : maker + " " + product);
        if (scanner.name.empty()) scanner.name = "USB " + scanner.vendor_id;
        scanner.busnum = sysfs_text(dir / "busnum");
        scanner.devnum = sysfs_text(dir / "devnum");
        found.push_back(std::move(scanner));
    }
    return found;
}

std::string scanner_package_for(const UsbScanner& scanner) {
    if (scanner.vendor_id == "04f9") {
        // brscan5 drives Brother's models from about 2019 on: the L2 and L3
        // laser families from 2550, the J inkjets of the J1xxx family and
        // those from J4340 on; brscan4 the older ones.
        const std::string name = scanner.name;
        for (std::string_view family : {"L2", "L3"})
            if (const auto at = name.find(family);
                at != std::string::npos && digits_at_least(name.substr(at + 1), 2550))
                return "brother-brscan5";
        if (const auto at = name.find("-J"); at != std::string::npos) {
            const std::string_view rest = std::string_view(name).substr(at + 2);
            if (rest.starts_with('1') || digits_at_least(rest, 4340)) return "brother-brscan5";
        }
        return "brother-brscan4";
    }
    if (scanner.vendor_id == "03f0") return "hplip";
    if (scanner.vendor_id == "04b8") return "imagescan";
    return {};
}

NodeAccess judge_node_access(unsigned mode, unsigned owner, unsigned group, unsigned my_uid,
                             const std::vector<unsigned>& my_groups, bool listed_in_group_file) {
    if ((mode & S_IWOTH) != 0 || my_uid == 0 || (owner == my_uid && (mode & S_IWUSR) != 0))
        return NodeAccess::Fine;
    const bool in_group = std::find(my_groups.begin(), my_groups.end(), group) != my_groups.end();
    if (in_group && (mode & S_IWGRP) != 0) return NodeAccess::Fine;
    // In the group's file but not in this session: it counts from the next login.
    return listed_in_group_file ? NodeAccess::LogInAgain : NodeAccess::JoinGroup;
}

NodeAccess scanner_node_access(const fs::path& root, const UsbScanner& scanner,
                               std::string& group) {
    const auto padded = [](const std::string& n) {
        return std::string(n.size() < 3 ? 3 - n.size() : 0, '0') + n;
    };
    if (scanner.busnum.empty() || scanner.devnum.empty()) return NodeAccess::Fine;
    struct stat node {};
    const fs::path path = root / "dev/bus/usb" / padded(scanner.busnum) / padded(scanner.devnum);
    if (::stat(path.c_str(), &node) != 0) return NodeAccess::Fine;  // nothing to judge
    // The group by its ID from the root's group file, and whether it lists us.
    const GroupMembership membership =
        group_membership(root, {}, current_user_name(), {}, node.st_gid);
    group = membership.name;
    return judge_node_access(node.st_mode, node.st_uid, node.st_gid, ::getuid(),
                             session_group_ids(), membership.listed);
}

bool hpaio_enabled(const fs::path& root) {
    const auto has_line = [](const std::optional<std::string>& text) {
        if (!text) return false;
        std::istringstream lines(*text);
        for (std::string line; std::getline(lines, line);) {
            line = line.substr(0, line.find('#'));
            std::istringstream words(line);
            std::string word;
            if (words >> word && word == "hpaio") return true;
        }
        return false;
    };
    if (has_line(read_small_file(root / "etc/sane.d/dll.conf", 64 * 1024))) return true;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root / "etc/sane.d/dll.d", error))
        if (has_line(read_small_file(entry.path(), 64 * 1024))) return true;
    return false;
}

std::vector<ScannerFix> scanner_fixes(
    const fs::path& root, const std::vector<Scanner>& listed, const std::vector<UsbScanner>& usb,
    const std::optional<std::vector<std::string>>& installed,
    const std::vector<std::pair<std::string, std::string>>& brother_network) {
    std::vector<ScannerFix> fixes;
    const auto is_installed = [&](const std::string& p) {
        return installed && std::find(installed->begin(), installed->end(), p) != installed->end();
    };
    bool group_named = false;
    for (const UsbScanner& scanner : usb) {
        std::string maker;
        for (const auto& m : scanner_makers)
            if (m[0] == scanner.vendor_id) maker = ascii_lower(m[1]);
        // SANE lists a USB scanner of that maker (or of that name): nothing missing.
        const bool seen = std::any_of(listed.begin(), listed.end(), [&](const Scanner& s) {
            return !s.network && (maker.empty() ? ascii_lower(s.name) == ascii_lower(scanner.name)
                                                : contains(ascii_lower(s.name), maker) ||
                                                      (maker == "hp" &&
                                                       contains(ascii_lower(s.name), "hewlett")));
        });
        if (seen) continue;
        std::string group;
        const NodeAccess access = scanner_node_access(root, scanner, group);
        if (access != NodeAccess::Fine && !group_named) {
            group_named = true;
            fixes.push_back({access == NodeAccess::JoinGroup ? ScannerFix::Kind::JoinGroup
                                                             : ScannerFix::Kind::LogInAgain,
                             group.empty() ? "scanner" : group,
                             {},
                             {}});
        }
        const std::string package = scanner_package_for(scanner);
        if (!package.empty() && !is_installed(package))
            fixes.push_back({ScannerFix::Kind::Install, scanner.name, package, {}});
        else if (package == "hplip" && !hpaio_enabled(root))
            fixes.push_back({ScannerFix::Kind::EnableHpaio, scanner.name, {}, {}});
    }
    // A Brother network scanner answers its maker's backend once registered.
    const bool brother_listed = std::any_of(listed.begin(), listed.end(), [](const Scanner& s) {
        return s.network && contains(ascii_lower(s.name), "brother");
    });
    for (const auto& [name, host] : brother_network) {
        if (brother_listed || host.empty()) break;
        std::string model = name;
        if (ascii_lower(model).starts_with("brother ")) model = model.substr(8);
        model = model.substr(0, model.find(' '));
        const bool ip = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
            return (c >= '0' && c <= '9') || c == '.';
        });
        std::string quoted_name = "BrotherScanner";
        fixes.push_back({ScannerFix::Kind::BrotherNetwork,
                         name,
                         {},
                         "brsaneconfig4 -a name=" + quoted_name + " model=" + model +
                             (ip ? " ip=" : " nodename=") + host});
        break;
    }
    return fixes;
}

std::vector<std::string> join_scanner_group_request(const std::string& user) {
    return join_group_request(user, "scanner");
}

}  // namespace kelmora

namespace kelmora {
namespace {

// The one privileged step of a fix: the helper's request, else the same
// through pkexec (a shell with one fixed command where a file is written).
TaskResult privileged_fix(const std::vector<std::string>& request,
                          const std::vector<std::string>& without_helper, const LogSink& log) {
    const CommandResult run =
        run_pkexec_command(installed_helper().empty() ? without_helper : request, log);
    return privileged_result(run, run.status == 0);
}

}  // namespace

std::string airscan_shell_command(std::string_view name, std::string_view url) {
    return "mkdir -p " + std::string(airscan_dir) + " && printf '%s' '" +
           airscan_file_content(name, url) + "' > " + std::string(airscan_dir) + "/" +
           airscan_file_name(name);
}

std::string hpaio_shell_command() {
    return "mkdir -p /etc/sane.d/dll.d && printf '%s' '" + std::string(hpaio_content) + "' > " +
           std::string(hpaio_file);
}

TaskResult join_scanner_group(const LogSink& log) {
    return join_group("scanner", log, Activity::ScannerGroup);
}

TaskResult enable_hpaio(const LogSink& log) {
    log.step({Activity::ScannerSetup, "hpaio", 1, 1});
    const TaskResult result =
        privileged_fix({"sane-dll", "hpaio"}, {"sh", "-c", hpaio_shell_command()}, log);
    if (result) log.line("HPs SANE-Backend (hpaio) ist eingeschaltet.");
    return result;
}

ScannerAdded add_scanner_by_address(const ScannerAddress& address, const LogSink& log) {
    log.step({Activity::ScannerSetup, address.host, 1, 2});
    log.line("Frage den Scanner unter " + address.url + " (sane-airscan) ...");
    if (!scanner_answers(address)) {
        log.line(
            "Fehler: Unter dieser Adresse antwortet kein eSCL-Scanner; es wurde nichts "
            "geändert.");
        return ScannerAdded::NoAnswer;
    }
    log.step({Activity::ScannerSetup, address.host, 2, 2});
    const TaskResult result =
        privileged_fix({"airscan-device", address.name, address.url},
                       {"sh", "-c", airscan_shell_command(address.name, address.url)}, log);
    if (result) log.line("Scanner hinzugefügt: " + address.name);
    return result               ? ScannerAdded::Added
           : result.cancelled() ? ScannerAdded::Cancelled
                                : ScannerAdded::Failed;
}

}  // namespace kelmora
