// What the privileged helper accepts: a fixed set of requests, each the
// argument vector of one system program in one of the shapes kelmora runs,
// checked word by word. Pure; the helper's main() runs what this accepts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "packages/nvidia_config.h"
#include "services/polkit_policy.h"

namespace kelmora {

struct HelperRequest {
    // Absolute paths to try, in order; the first that exists runs.
    std::vector<std::string> programs;
    std::vector<std::string> args;  // argv[1..] of the program
    bool write_policy = false;      // no program: write the policy document
    // Before it runs: CUPS must list this USB address ("lpinfo -v") and this
    // driver ("lpinfo -m") right now, asked by the helper itself.
    std::string listed_device;
    std::string listed_driver;
    // Before it runs: a printer address on this machine's loopback must be
    // one that root serves.
    std::string printer_uri;
    // Before it runs: the queue's own listing ("lpoptions -p QUEUE -l") offers
    // this key with this value.
    std::optional<std::pair<std::string, std::string>> listed_option;
    // The kernel log: only the firmware loader's lines for files it did not
    // find pass (each rebuilt from its checked file name).
    bool firmware_log = false;
    // One of CUPS's programs: it runs where root's CUPS certificates are hidden.
    bool cups_client = false;
    // No program: write (or, with nothing on, remove) kelmora's NVIDIA files.
    std::optional<NvidiaConfig> nvidia_config;
    // No program: write this file (a path of kelmora's own) with this content.
    std::string file;
    std::string content;
    // The program may only name the user pkexec runs the helper for.
    std::string caller_must_be;
};

// Why a request is refused; each has an exit status of its own, none of them
// pkexec's 126 or 127.
struct Refusal {
    int status;
    std::string message;  // one line, without a newline
};
inline constexpr int refused_not_root = 77;  // EX_NOPERM
inline constexpr int refused_unknown = 64;   // EX_USAGE: no such request
inline constexpr int refused_argument = 65;  // EX_DATAERR: a word outside the grammar
inline constexpr int refused_missing = 69;   // EX_UNAVAILABLE: the program is not installed

// [A-Za-z0-9][A-Za-z0-9._+-]*, at most 128 bytes.
bool valid_package_name(std::string_view name);

// The caller's uid as pkexec gives it in PKEXEC_UID: a plain decimal that
// fits uid_t (and is not (uid_t)-1); none for anything else ("0junk", "-1",
// " 7", "4294967296"), which names nobody.
std::optional<unsigned> parse_pkexec_uid(const char* text);

// `request` is the helper's argv without argv[0]:
//   xbps-install (-Su -y | -Syf | -Syu) PACKAGE...
//   xbps-remove -Ry PACKAGE...
//   xbps-reconfigure -f PACKAGE...
//   ln -sf /etc/sv/(cupsd|avahi-daemon|saned|ipp-usb|dbus|bluetoothd) /var/service/
//   lpadmin -p QUEUE -E -v (ipp|ipps)://... -m everywhere
//   lpadmin -p QUEUE -E -v usb://... -m DRIVER   (both listed by CUPS)
//   lpinfo --include-schemes usb -l -v
//   lpadmin -p QUEUE -o KEY=VALUE             (KEY: paper, two-sided, colour;
//                                              VALUE listed by lpoptions)
//   cupsenable QUEUE, cupsaccept QUEUE, cancel -a QUEUE, cancel QUEUE-JOB
//   nvidia-config [modeset] [runtime-pm] [turing-power]
//   gpasswd -a USER (scanner|bluetooth) (USER: the one pkexec runs it for)
//   airscan-device NAME URL             (one file in /etc/sane.d/airscan.d)
//   sane-dll hpaio
//   lpadmin -x QUEUE
//   lpadmin -d QUEUE
//   polkit-policy
//   firmware-log                          (dmesg: the missing firmware lines only)
//   rfkill unblock ID                     (ID: rfkill's decimal index)
std::variant<HelperRequest, Refusal> parse_helper_request(const std::vector<std::string>& request);

}  // namespace kelmora
