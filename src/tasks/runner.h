// The privileged package installer: "pkexec xbps-install -Su -y <packages>",
// with both output streams forwarded line by line into the UI channel, plus
// the steps a real system needs around it (enabling repositories first, and
// letting xbps update itself when it refuses to do anything else).
#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tasks/repositories.h"
#include "tasks/ui_message.h"

namespace kelmora {

// How long a command's runner waits, after the command exited, for the rest of
// its output: a process it left behind may keep the pipes open much longer.
inline constexpr std::chrono::milliseconds output_drain_limit{2000};

// xbps-install's exit status (EBUSY) when the 'xbps' package must be updated
// before any other transaction.
inline constexpr int xbps_must_update_status = 16;

// "xbps-install", "-Su", "-y", then the packages.
std::vector<std::string> xbps_install_args(const PackageList& packages);

// The list form of an argument vector: ["a", "b \"c\""].
std::string quoted_arg_list(const std::vector<std::string>& args);

// xbps-install's exit status (EEXIST) when a single named package is already
// installed; a file conflict at commit time gives the same number.
inline constexpr int xbps_exists_status = 17;

// The package that an xbps-install line reports as installed already:
// "Package 'X' is up to date." (update mode) or "ERROR: Package `X' already
// installed." (install mode); empty for any other line.
std::string_view reported_installed(std::string_view line);

// The package names of an xbps-install argument vector (no program, no options).
std::vector<std::string> named_packages(const std::vector<std::string>& args);

// How many of a command's last output lines its result keeps.
inline constexpr std::size_t command_tail_lines = 40;

struct CommandResult {
    int status = -1;                      // exit status; -1: not started, or killed
    std::vector<std::string> up_to_date;  // names xbps reported as installed already
    std::vector<std::string> tail;        // the last output lines, both streams, unprefixed
};

// Runs "pkexec" with `args` and blocks until it exits and its output has been
// read to the end (at most output_drain_limit longer): sends the
// "Starting: pkexec [...]" line, then every output line.
CommandResult run_pkexec_command(const std::vector<std::string>& args, const UiSender& sender);

// True when an xbps-install command succeeded: exit 0, or exit 17 when xbps
// reported every named package as installed already (xbps ignores that only
// when two or more names are given). A file conflict also exits 17 and stays
// a failure.
bool xbps_succeeded(const std::vector<std::string>& args, const CommandResult& result);

// One xbps-install command through pkexec. When xbps answers that it must
// update itself first, that update runs and, if it succeeds, the command is
// repeated once. True only when the (last) command exits with status 0.
bool run_xbps_install(const std::vector<std::string>& args, const UiSender& sender);

// Installs `packages`: first the repository packages whose drop-in files are
// missing under `root` (a command of their own), then the packages themselves
// with the argument vector of xbps_install_args; a driver generation that
// conflicts with the installed one replaces it (see install_plan.h). Blocks;
// never called on the main thread. True only when every command ran and
// succeeded.
bool run_pkexec_xbps(const PackageList& packages, const UiSender& sender,
                     const std::filesystem::path& root);
// The same against this system's root directory.
bool run_pkexec_xbps(const PackageList& packages, const UiSender& sender);

}  // namespace kelmora
