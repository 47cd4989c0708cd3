#include "tasks/install_plan.h"

#include <algorithm>

#include "tasks/packages.h"
#include "tasks/process.h"
#include "tasks/runner.h"

namespace kelmora {
namespace {

// xbps-query answers from local files; it never needs this long.
constexpr std::chrono::milliseconds query_limit{20'000};

constexpr std::string_view member_suffixes[] = {"",         "-libs",   "-libs-32bit", "-dkms",
                                                "-gtklibs", "-opencl", "-firmware"};

bool contains(const InstalledPackages& list, std::string_view name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

// The generation whose member `package` is, or empty.
std::string_view generation_of(std::string_view package) {
    for (std::string_view generation : nvidia_generations)
        for (std::string_view suffix : member_suffixes)
            if (package.size() == generation.size() + suffix.size() &&
                package.substr(0, generation.size()) == generation &&
                package.substr(generation.size()) == suffix)
                return generation;
    return {};
}

bool in_pool(const std::string& package) {
    const auto result = capture_output({"xbps-query", "-R", "-p", "pkgver", package}, query_limit);
    // The pkgver is "<name>-<version>_<revision>".
    return result && result->out.rfind(package + "-", 0) == 0;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

}  // namespace

std::vector<std::string> nvidia_generation_members(std::string_view generation) {
    std::vector<std::string> members;
    for (std::string_view suffix : member_suffixes)
        members.push_back(std::string(generation) + std::string(suffix));
    return members;
}

bool installs_nvidia_generation(const PackageList& packages) {
    return std::any_of(packages.begin(), packages.end(),
                       [](std::string_view p) { return !generation_of(p).empty(); });
}

std::vector<std::string> conflicting_generation_members(const PackageList& packages,
                                                        const InstalledPackages& installed) {
    std::vector<std::string_view> wanted;
    for (std::string_view package : packages)
        if (const auto generation = generation_of(package); !generation.empty())
            wanted.push_back(generation);
    std::vector<std::string> conflicting;
    if (wanted.empty()) return conflicting;
    for (std::string_view generation : nvidia_generations) {
        if (std::find(wanted.begin(), wanted.end(), generation) != wanted.end()) continue;
        for (const std::string& member : nvidia_generation_members(generation))
            if (contains(installed, member)) conflicting.push_back(member);
    }
    return conflicting;
}

std::vector<std::string> installed_nvidia_generations(const InstalledPackages& installed) {
    std::vector<std::string> generations;
    for (std::string_view generation : nvidia_generations)
        for (const std::string& member : nvidia_generation_members(generation))
            if (contains(installed, member)) {
                generations.emplace_back(generation);
                break;
            }
    return generations;
}

bool package_set_installed(const PackageList& set, const InstalledPackages& installed) {
    bool any = false;
    for (std::string_view package : set) {
        if (package.rfind("void-repo-", 0) == 0) continue;
        if (!contains(installed, package)) return false;
        any = true;
    }
    return any;
}

InstalledGraphics installed_graphics(const InstalledPackages& installed) {
    return {installed_nvidia_generations(installed),
            package_set_installed(amd_packages(), installed),
            package_set_installed(intel_packages(), installed)};
}

InstallPlan plan_install(const PackageList& packages, const InstalledPackages& installed,
                         const PackageList& missing_repositories) {
    InstallPlan plan;
    if (!missing_repositories.empty())
        plan.steps.push_back({StepKind::Repositories, repository_setup_args(missing_repositories)});
    plan.removed = conflicting_generation_members(packages, installed);
    if (!plan.removed.empty()) {
        // Nothing is removed before the install is known to be possible: xbps
        // is current (which also brings fresh repository data) and every
        // package is in the pool.
        plan.steps.push_back({StepKind::SelfUpdate, {"xbps-install", "-Syu", "xbps"}});
        plan.steps.push_back({StepKind::PoolCheck, {packages.begin(), packages.end()}});
        std::vector<std::string> remove = {"xbps-remove", "-Ry"};
        remove.insert(remove.end(), plan.removed.begin(), plan.removed.end());
        plan.steps.push_back({StepKind::Remove, std::move(remove)});
    }
    plan.steps.push_back({StepKind::Install, xbps_install_args(packages)});
    return plan;
}

std::optional<InstalledPackages> query_installed_packages() {
    const auto result = capture_output({"xbps-query", "-l"}, query_limit);
    if (!result || result->timed_out) return std::nullopt;
    // "<state> <pkgver> <description>": "ii" installed, "uu" unpacked only;
    // both are in the package database and count for conflicts.
    InstalledPackages installed;
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
        const std::size_t dash = pkgver.rfind('-');
        if (dash == std::string_view::npos || dash == 0) continue;
        installed.emplace_back(pkgver.substr(0, dash));
    }
    return installed;
}

std::optional<InstalledGraphics> query_installed_graphics() {
    const auto installed = query_installed_packages();
    if (!installed) return std::nullopt;
    return installed_graphics(*installed);
}

bool run_install_plan(const InstallPlan& plan, const UiSender& sender) {
    bool removed = false;
    for (const PlanStep& step : plan.steps) {
        bool ok = false;
        switch (step.kind) {
            case StepKind::Repositories:
            case StepKind::SelfUpdate:
            case StepKind::Install:
                ok = run_xbps_install(step.args, sender);
                break;
            case StepKind::PoolCheck:
                ok = true;
                for (const std::string& package : step.args)
                    if (!in_pool(package)) {
                        sender.send(Line{"Fehler: " + package +
                                         " ist im Repository-Pool nicht zu finden; der "
                                         "installierte Treiber bleibt."});
                        ok = false;
                    }
                break;
            case StepKind::Remove:
                // xbps-remove never asks xbps to update itself: only exit 0 counts.
                ok = run_pkexec_command(step.args, sender).status == 0;
                removed = ok;
                break;
        }
        if (ok) continue;
        if (removed)
            sender.send(
                Line{"Fehler: Der bisherige Treiber wurde entfernt. Für einen Treiber "
                     "wieder installieren: xbps-install -S " +
                     joined(plan.removed)});
        return false;
    }
    return true;
}

}  // namespace kelmora
