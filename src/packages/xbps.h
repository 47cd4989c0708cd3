// What xbps's tools are asked and how their answers read: the install
// command's argument vector, its exit-status rules, and the unprivileged
// queries (what is installed, what the repository pool has).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "packages/repositories.h"
#include "process/log_sink.h"

namespace kelmora {

using InstalledPackages = std::vector<std::string>;

// xbps-install's exit status (EBUSY) when the 'xbps' package must be updated
// before any other transaction.
inline constexpr int xbps_must_update_status = 16;

// xbps-install's exit status (EEXIST) when a single named package is already
// installed; a file conflict at commit time gives the same number.
inline constexpr int xbps_exists_status = 17;

// "xbps-install", "-Su", "-y", then the packages.
std::vector<std::string> xbps_install_args(const PackageList& packages);

// The package that an xbps-install line reports as installed already:
// "Package 'X' is up to date." (update mode) or "ERROR: Package `X' already
// installed." (install mode); empty for any other line.
std::string_view reported_installed(std::string_view line);

// The package names of an xbps-install argument vector (no program, no options).
std::vector<std::string> named_packages(const std::vector<std::string>& args);

// True when an xbps-install command succeeded: exit 0, or exit 17 when xbps
// reported every named package as installed already (`up_to_date`; xbps
// ignores that only when two or more names are given). A file conflict also
// exits 17 and stays a failure.
bool xbps_succeeded(const std::vector<std::string>& args, int status,
                    const std::vector<std::string>& up_to_date);

// One xbps-install command through pkexec. When xbps answers that it must
// update itself first, that update runs and, if it succeeds, the command is
// repeated once. Succeeded only when the (last) command succeeded; Cancelled
// when the authentication was dismissed.
TaskResult run_xbps_install(const std::vector<std::string>& args, const LogSink& log);

// "<name>-<version>_<revision>", split at the last "-": the name (empty when
// there is no such "-") and the version ("6.6.63_1").
std::string_view pkgver_name(std::string_view pkgver);
std::string_view pkgver_version(std::string_view pkgver);

// The installed packages' pkgvers, as xbps-query -l lists them (unprivileged;
// never on the main thread). None when xbps-query cannot tell.
std::optional<std::vector<std::string>> query_installed_pkgvers();
// Their names.
InstalledPackages package_names(const std::vector<std::string>& pkgvers);

// True when the repository pool has `package` (xbps-query -R).
bool in_repository_pool(const std::string& package);

}  // namespace kelmora
