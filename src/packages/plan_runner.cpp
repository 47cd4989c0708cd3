#include "packages/plan_runner.h"

#include "packages/xbps.h"
#include "process/command.h"

namespace kelmora {
namespace {

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

}  // namespace

bool run_install_plan(const InstallPlan& plan, const LogSink& log) {
    bool removed = false;
    for (const PlanStep& step : plan.steps) {
        bool ok = false;
        switch (step.kind) {
            case StepKind::Repositories:
            case StepKind::SelfUpdate:
            case StepKind::Install:
                ok = run_xbps_install(step.args, log);
                break;
            case StepKind::PoolCheck:
                ok = true;
                for (const std::string& package : step.args)
                    if (!in_repository_pool(package)) {
                        log.line("Fehler: " + package +
                                 " ist im Repository-Pool nicht zu finden; der "
                                 "installierte Treiber bleibt.");
                        ok = false;
                    }
                break;
            case StepKind::Remove:
                // xbps-remove never asks xbps to update itself: only exit 0 counts.
                ok = run_pkexec_command(step.args, log).status == 0;
                removed = ok;
                break;
        }
        if (ok) continue;
        if (removed)
            log.line(
                "Fehler: Der bisherige Treiber wurde entfernt. Für einen Treiber "
                "wieder installieren: xbps-install -S " +
                joined(plan.removed));
        return false;
    }
    return true;
}

bool run_pkexec_xbps(const PackageList& packages, const LogSink& log,
                     const std::filesystem::path& root) {
    // Only a driver generation can collide with what is installed.
    const InstalledPackages installed =
        installs_nvidia_generation(packages)
            ? query_installed_packages().value_or(InstalledPackages{})
            : InstalledPackages{};
    return run_install_plan(
        plan_install(packages, installed, missing_repository_packages(packages, root)), log);
}

std::optional<InstalledGraphics> query_installed_graphics() {
    const auto installed = query_installed_packages();
    if (!installed) return std::nullopt;
    return installed_graphics(*installed);
}

}  // namespace kelmora
