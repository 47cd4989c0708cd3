#include "packages/plan_runner.h"

#include "packages/kernel_modules.h"
#include "packages/xbps.h"
#include "process/command.h"

namespace kelmora {
namespace {

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// The headers of the installed kernels that lack them, less those the
// repository pool no longer has (Void drops an end-of-life series): asking
// for one of those would fail the whole transaction.
std::vector<std::string> headers_to_install(const std::vector<Kernel>& kernels,
                                            const LogSink& log) {
    std::vector<std::string> available;
    for (const Kernel& k : kernels) {
        if (k.headers) continue;
        const std::string headers = k.package + "-headers";
        if (in_repository_pool(headers))
            available.push_back(headers);
        else
            log.line("Warnung: " + headers + " ist nicht im Repository-Pool; für Kernel " +
                     k.release + " kann das NVIDIA-Modul nicht gebaut werden.");
    }
    return available;
}

// The module check after an install or a repair that xbps reported as done.
bool modules_present(const std::filesystem::path& root, const LogSink& log) {
    const auto pkgvers = query_installed_pkgvers();
    if (!pkgvers) {
        log.line("Hinweis: xbps-query antwortet nicht; das NVIDIA-Modul lässt sich nicht prüfen.");
        return true;
    }
    return report_module_check(check_nvidia_modules(root, *pkgvers), *pkgvers,
                               installed_generation(*pkgvers), log);
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
    // Only a driver generation can collide with what is installed, and only
    // it needs kernel headers.
    const bool nvidia = installs_nvidia_generation(packages);
    const std::vector<std::string> pkgvers =
        nvidia ? query_installed_pkgvers().value_or(std::vector<std::string>{})
               : std::vector<std::string>{};
    const std::vector<std::string> headers =
        nvidia ? headers_to_install(installed_kernels(pkgvers), log) : std::vector<std::string>{};
    const InstallPlan plan = plan_install(packages, package_names(pkgvers),
                                          missing_repository_packages(packages, root), headers);
    if (!run_install_plan(plan, log)) return false;
    return !nvidia || modules_present(root, log);
}

bool repair_nvidia_module(const LogSink& log, const std::filesystem::path& root) {
    const auto pkgvers = query_installed_pkgvers();
    const std::string generation = pkgvers ? installed_generation(*pkgvers) : std::string();
    if (generation.empty()) {
        log.line("Fehler: Kein NVIDIA-Treiber installiert; es gibt nichts zu reparieren.");
        return false;
    }
    const std::vector<std::string> headers = headers_to_install(installed_kernels(*pkgvers), log);
    if (!headers.empty()) {
        std::vector<std::string> args = {"xbps-install", "-Su", "-y"};
        args.insert(args.end(), headers.begin(), headers.end());
        if (!run_xbps_install(args, log)) return false;
    }
    // Installing headers builds nothing by itself: the trigger runs again
    // when the -dkms package is configured again.
    if (run_pkexec_command({"xbps-reconfigure", "-f", generation + "-dkms"}, log).status != 0)
        return false;
    return modules_present(root, log);
}

std::optional<InstalledGraphics> query_installed_graphics(const std::filesystem::path& root) {
    const auto pkgvers = query_installed_pkgvers();
    if (!pkgvers) return std::nullopt;
    InstalledGraphics graphics = installed_graphics(package_names(*pkgvers));
    if (!graphics.nvidia.empty()) {
        const ModuleCheck check = check_nvidia_modules(root, *pkgvers);
        for (const auto* list : {&check.missing, &check.missing_older})
            for (const Kernel& k : *list) graphics.kernels_without_module.push_back(k.release);
    }
    return graphics;
}

}  // namespace kelmora
