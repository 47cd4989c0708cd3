#include "helper/request.h"

#include <algorithm>

#include "printing/cups_output.h"
#include "printing/printers.h"
#include "printing/queue_settings.h"
#include "scanning/sane_config.h"

namespace kelmora {
namespace {

using Words = std::vector<std::string>;

Refusal argument(std::string_view what, std::string_view word) {
    // The word is shown as plain text: it comes from the caller.
    return {refused_argument, std::string(what) + ": \"" + plain_display_text(word, 80) + "\""};
}

// The words from `from` on, each a package name; at least one.
std::variant<Words, Refusal> packages_from(const Words& request, std::size_t from) {
    if (request.size() <= from) return Refusal{refused_argument, "no package names"};
    for (std::size_t i = from; i < request.size(); ++i)
        if (!valid_package_name(request[i])) return argument("not a package name", request[i]);
    return Words(request.begin() + static_cast<std::ptrdiff_t>(from), request.end());
}

std::variant<HelperRequest, Refusal> with_packages(const Words& request, std::size_t from,
                                                   std::string program, Words options) {
    auto names = packages_from(request, from);
    if (auto* refusal = std::get_if<Refusal>(&names)) return *refusal;
    HelperRequest accepted;
    accepted.programs = {std::move(program)};
    accepted.args = std::move(options);
    for (std::string& n : std::get<Words>(names)) accepted.args.push_back(std::move(n));
    return accepted;
}

}  // namespace

bool valid_package_name(std::string_view name) {
    if (name.empty() || name.size() > 128) return false;
    const auto alnum = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    if (!alnum(name.front())) return false;
    return std::all_of(name.begin(), name.end(), [&](char c) {
        return alnum(c) || c == '.' || c == '_' || c == '+' || c == '-';
    });
}

std::optional<unsigned> parse_pkexec_uid(const char* text) {
    if (text == nullptr || *text == '\0') return std::nullopt;
    const std::string_view digits(text);
    if (digits.size() > 10 || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
    unsigned long long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    // uid_t is 32 bits on every Linux; (uid_t)-1 means "no user" to the kernel.
    if (value >= 0xffffffffULL) return std::nullopt;
    return static_cast<unsigned>(value);
}

std::variant<HelperRequest, Refusal> parse_helper_request(const Words& request) {
    if (request.empty()) return Refusal{refused_unknown, "no request"};
    const std::string& verb = request[0];
    const auto option = [&](std::size_t at) -> std::string_view {
        return at < request.size() ? std::string_view(request[at]) : std::string_view();
    };
    if (verb == "xbps-install") {
        if (option(1) == "-Su" && option(2) == "-y")
            return with_packages(request, 3, "/usr/bin/xbps-install", {"-Su", "-y"});
        if (option(1) == "-Syf" || option(1) == "-Syu")
            return with_packages(request, 2, "/usr/bin/xbps-install", {request[1]});
        return argument("xbps-install takes -Su -y, -Syf or -Syu", option(1));
    }
    if (verb == "xbps-remove") {
        if (option(1) != "-Ry") return argument("xbps-remove takes -Ry", option(1));
        return with_packages(request, 2, "/usr/bin/xbps-remove", {"-Ry"});
    }
    if (verb == "xbps-reconfigure") {
        if (option(1) != "-f") return argument("xbps-reconfigure takes -f", option(1));
        return with_packages(request, 2, "/usr/bin/xbps-reconfigure", {"-f"});
    }
    if (verb == "ln") {
        constexpr std::string_view services[] = {"/etc/sv/cupsd", "/etc/sv/avahi-daemon",
                                                 "/etc/sv/saned", "/etc/sv/ipp-usb",
                                                 "/etc/sv/dbus",  "/etc/sv/bluetoothd"};
        if (request.size() != 4 || request[1] != "-sf" || request[3] != "/var/service/")
            return Refusal{refused_argument, "ln takes -sf /etc/sv/NAME /var/service/"};
        if (std::find(std::begin(services), std::end(services), request[2]) == std::end(services))
            return argument("not a service kelmora enables", request[2]);
        HelperRequest accepted;
        accepted.programs = {"/usr/bin/ln", "/bin/ln"};
        accepted.args = {request.begin() + 1, request.end()};
        return accepted;
    }
    if (verb == "lpadmin") {
        HelperRequest accepted;
        accepted.programs = {"/usr/bin/lpadmin", "/usr/sbin/lpadmin"};
        accepted.cups_client = true;
        accepted.args = {request.begin() + 1, request.end()};
        if (request.size() == 3 && (request[1] == "-x" || request[1] == "-d")) {
            if (!valid_queue_name(request[2])) return argument("not a queue name", request[2]);
            return accepted;
        }
        if (request.size() == 8 && request[1] == "-p" && request[3] == "-E" && request[4] == "-v" &&
            request[6] == "-m" && request[7] == "everywhere") {
            if (!valid_queue_name(request[2])) return argument("not a queue name", request[2]);
            if (!printer_uri_allowed(request[5]))
                return argument("not an ipp:// or ipps:// address", request[5]);
            accepted.printer_uri = request[5];
            return accepted;
        }
        // A default for every user of one of the settings kelmora shows, with
        // a value the helper checks against the queue's own listing.
        if (request.size() == 5 && request[1] == "-p" && request[3] == "-o") {
            if (!valid_queue_name(request[2])) return argument("not a queue name", request[2]);
            const auto eq = request[4].find('=');
            const std::string key = request[4].substr(0, eq);
            const std::string value = eq == std::string::npos ? "" : request[4].substr(eq + 1);
            if (eq == std::string::npos || !setting_key_allowed(key) ||
                !setting_word_allowed(value))
                return argument("not KEY=VALUE of a setting kelmora changes", request[4]);
            accepted.listed_option = {key, value};
            return accepted;
        }
        // A USB printer with the driver CUPS named for it; the helper asks
        // CUPS itself that both are real before lpadmin runs.
        if (request.size() == 8 && request[1] == "-p" && request[3] == "-E" && request[4] == "-v" &&
            request[6] == "-m" && request[5].starts_with("usb://")) {
            if (!valid_queue_name(request[2])) return argument("not a queue name", request[2]);
            if (!usb_uri_allowed(request[5])) return argument("not a usb:// address", request[5]);
            if (!valid_driver_name(request[7])) return argument("not a driver name", request[7]);
            accepted.listed_device = request[5];
            accepted.listed_driver = request[7];
            return accepted;
        }
        return Refusal{refused_argument,
                       "lpadmin takes -p QUEUE -E -v URI -m everywhere|DRIVER, -p QUEUE -o "
                       "KEY=VALUE, -d QUEUE or -x QUEUE"};
    }
    if (verb == "lpinfo") {
        if (request != Words{"lpinfo", "--include-schemes", "usb", "-l", "-v"})
            return Refusal{refused_argument, "lpinfo takes --include-schemes usb -l -v"};
        HelperRequest accepted;
        accepted.programs = {"/usr/bin/lpinfo", "/usr/sbin/lpinfo"};
        accepted.cups_client = true;
        accepted.args = {request.begin() + 1, request.end()};
        return accepted;
    }
    if (verb == "cancel" && request.size() == 2 && valid_job_id(request[1])) {
        // One job: "QUEUE-NUMBER".
        HelperRequest accepted;
        accepted.programs = {"/usr/bin/cancel", "/usr/sbin/cancel"};
        accepted.args = {request[1]};
        accepted.cups_client = true;
        return accepted;
    }
    if (verb == "cupsenable" || verb == "cupsaccept" || verb == "cancel") {
        // Otherwise cancel empties a whole queue: "-a QUEUE".
        const std::size_t at = verb == "cancel" ? 2 : 1;
        if (request.size() != at + 1 || (verb == "cancel" && request[1] != "-a"))
            return Refusal{
                refused_argument,
                verb + (verb == "cancel" ? " takes -a QUEUE or QUEUE-JOB" : " takes QUEUE")};
        if (!valid_queue_name(request[at])) return argument("not a queue name", request[at]);
        HelperRequest accepted;
        accepted.programs = {"/usr/bin/" + verb, "/usr/sbin/" + verb};
        accepted.cups_client = true;
        accepted.args = {request.begin() + 1, request.end()};
        return accepted;
    }
    if (verb == "gpasswd") {
        // Only joining the scanner or the bluetooth group, and only for the
        // caller (checked against pkexec's PKEXEC_UID when it runs).
        if (request.size() != 4 || request[1] != "-a" ||
            (request[3] != "scanner" && request[3] != "bluetooth"))
            return Refusal{refused_argument, "gpasswd takes -a USER scanner|bluetooth"};
        const std::string& user = request[2];
        const bool name_ok = !user.empty() && user.size() <= 32 && user.front() != '-' &&
                             std::all_of(user.begin(), user.end(), [](char c) {
                                 return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                        (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
                             });
        if (!name_ok) return argument("not a user name", user);
        HelperRequest accepted;
        accepted.programs = {"/usr/bin/gpasswd", "/usr/sbin/gpasswd"};
        accepted.args = {request.begin() + 1, request.end()};
        accepted.caller_must_be = user;
        return accepted;
    }
    if (verb == "airscan-device") {
        if (request.size() != 3) return Refusal{refused_argument, "airscan-device takes NAME URL"};
        if (!airscan_name_allowed(request[1])) return argument("not a scanner name", request[1]);
        if (!airscan_url_allowed(request[2])) return argument("not an http(s) address", request[2]);
        HelperRequest accepted;
        accepted.file = std::string(airscan_dir) + "/" + airscan_file_name(request[1]);
        accepted.content = airscan_file_content(request[1], request[2]);
        return accepted;
    }
    if (verb == "sane-dll") {
        if (request.size() != 2 || request[1] != "hpaio")
            return Refusal{refused_argument, "sane-dll takes hpaio"};
        HelperRequest accepted;
        accepted.file = std::string(hpaio_file);
        accepted.content = std::string(hpaio_content);
        return accepted;
    }
    if (verb == "nvidia-config") {
        const auto config = parse_nvidia_config_request(request);
        if (!config)
            return Refusal{refused_argument,
                           "nvidia-config takes modeset, runtime-pm, turing-power, in this order"};
        HelperRequest accepted;
        accepted.nvidia_config = config;
        return accepted;
    }
    if (verb == "firmware-log") {
        if (request.size() != 1) return argument("firmware-log takes nothing", request[1]);
        HelperRequest accepted;
        accepted.programs = {"/usr/bin/dmesg", "/bin/dmesg"};
        accepted.firmware_log = true;
        return accepted;
    }
    if (verb == "rfkill") {
        const bool id_ok = request.size() == 3 && request[1] == "unblock" && !request[2].empty() &&
                           request[2].size() <= 4 &&
                           std::all_of(request[2].begin(), request[2].end(),
                                       [](char c) { return c >= '0' && c <= '9'; });
        if (!id_ok) return Refusal{refused_argument, "rfkill takes unblock ID"};
        HelperRequest accepted;
        accepted.programs = {"/usr/bin/rfkill", "/usr/sbin/rfkill"};
        accepted.args = {request.begin() + 1, request.end()};
        return accepted;
    }
    if (verb == policy_request) {
        if (request.size() != 1) return argument("polkit-policy takes nothing", request[1]);
        HelperRequest accepted;
        accepted.write_policy = true;
        return accepted;
    }
    return argument("unknown request", verb);
}

}  // namespace kelmora
