#include "packages/xbps.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "process/command.h"
#include "process/process.h"

namespace kelmora {
namespace {

// xbps-query answers from local files; it never needs this long.
constexpr std::chrono::milliseconds query_limit{20'000};

// One command, with the names xbps reported as installed already.
bool run_once(const std::vector<std::string>& args, const LogSink& log, CommandResult& run) {
    struct Names {
        std::mutex mutex;
        std::vector<std::string> names;
    };
    const auto seen = std::make_shared<Names>();
    run = run_pkexec_command(args, log, [seen](std::string_view line) {
        const std::string_view name = reported_installed(line);
        if (name.empty()) return;
        std::lock_guard lock(seen->mutex);
        seen->names.emplace_back(name);
    });
    std::lock_guard lock(seen->mutex);
    return xbps_succeeded(args, run.status, seen->names);
}

}  // namespace

std::vector<std::string> xbps_install_args(const PackageList& packages) {
    std::vector<std::string> args = {"xbps-install", "-Su", "-y"};
    for (std::string_view p : packages) args.emplace_back(p);
    return args;
}

std::string_view reported_installed(std::string_view line) {
    struct Form {
        std::string_view head, tail;
    };
    constexpr Form forms[] = {{"Package '", "' is up to date."},
                              {"ERROR: Package `", "' already installed."}};
    for (const Form& f : forms) {
        if (line.size() > f.head.size() + f.tail.size() && line.starts_with(f.head) &&
            line.ends_with(f.tail))
            return line.substr(f.head.size(), line.size() - f.head.size() - f.tail.size());
    }
    return {};
}

std::vector<std::string> named_packages(const std::vector<std::string>& args) {
    std::vector<std::string> names;
    for (std::size_t i = 1; i < args.size(); ++i)
        if (!args[i].starts_with('-')) names.push_back(args[i]);
    return names;
}

bool xbps_succeeded(const std::vector<std::string>& args, int status,
                    const std::vector<std::string>& up_to_date) {
    if (status == 0) return true;
    if (status != xbps_exists_status) return false;
    const std::vector<std::string> names = named_packages(args);
    return !names.empty() && std::all_of(names.begin(), names.end(), [&](const std::string& n) {
        return std::find(up_to_date.begin(), up_to_date.end(), n) != up_to_date.end();
    });
}

TaskResult run_xbps_install(const std::vector<std::string>& args, const LogSink& log) {
    CommandResult run;
    const bool ok = run_once(args, log, run);
    if (run.status != xbps_must_update_status) return privileged_result(run, ok);
    // xbps refuses every other transaction while a newer xbps is published.
    // Its update changes the system: a dismissal after it is no cancel.
    if (!run_once({"xbps-install", "-Syu", "xbps"}, log, run)) return privileged_result(run, false);
    return run_once(args, log, run);
}

std::string_view pkgver_name(std::string_view pkgver) {
    const std::size_t dash = pkgver.rfind('-');
    return dash == std::string_view::npos ? std::string_view() : pkgver.substr(0, dash);
}

std::string_view pkgver_version(std::string_view pkgver) {
    const std::size_t dash = pkgver.rfind('-');
    return dash == std::string_view::npos ? std::string_view() : pkgver.substr(dash + 1);
}

InstalledPackages package_names(const std::vector<std::string>& pkgvers) {
    InstalledPackages names;
    for (const std::string& pkgver : pkgvers) names.emplace_back(pkgver_name(pkgver));
    return names;
}

std::optional<std::vector<std::string>> query_installed_pkgvers() {
    const auto result = capture_output({"xbps-query", "-l"}, query_limit);
    if (!result || result->timed_out) return std::nullopt;
    // "<state> <pkgver> <description>": "ii" installed, "uu" unpacked only;
    // both are in the package database and count for conflicts.
    std::vector<std::string> installed;
    std::size_t at = 0;
    const std::string& out = result->out;
    while (at < out.size()) {
        std::size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        const std::string_view line(out.data() + at, end - at);
        at = end + 1;
        if (line.size() < 4 || (line.substr(0, 3) != "ii " && line.substr(0, 3) != "uu ")) continue;
        std::string_view pkgver = line.substr(3);
        pkgver = pkgver.substr(0, pkgver.find(' '));
        if (pkgver_name(pkgver).empty() || pkgver_version(pkgver).empty()) continue;
        installed.emplace_back(pkgver);
    }
    return installed;
}

bool in_repository_pool(const std::string& package) {
    const auto result = capture_output({"xbps-query", "-R", "-p", "pkgver", package}, query_limit);
    // The pkgver is "<name>-<version>_<revision>".
    return result && result->out.rfind(package + "-", 0) == 0;
}

}  // namespace kelmora
