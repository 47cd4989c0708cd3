#include "packages/plan_runner.h"

#include <algorithm>

#include "hardware/small_file.h"
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

}  // namespace

std::vector<std::string> headers_to_install(const std::vector<Kernel>& kernels, const LogSink& log,
                                            std::string_view module) {
    std::vector<std::string> available;
    for (const Kernel& k : kernels) {
        if (k.headers) continue;
        const std::string headers = k.package + "-headers";
        if (in_repository_pool(headers))
            available.push_back(headers);
        else
            log.line("Warnung: " + headers + " ist nicht im Repository-Pool; für Kernel " +
                     k.release + " kann das " + std::string(module) + " nicht gebaut werden.");
    }
    return available;
}

namespace {

// The module check after an install or a repair that xbps reported as done.
bool modules_present(const std::filesystem::path& root, const LogSink& log) {
    const auto pkgvers = query_installed_pkgvers();
    if (!pkgvers) {
        log.line("Hinweis: xbps-query antwortet nicht; das NVIDIA-Modul lässt sich nicht prüfen.");
        return true;
    }
    return report_module_check(check_nvidia_modules(root, *pkgvers), *pkgvers,
                               installed_generation(*pkgvers), log, root);
}

Activity activity_of(StepKind kind) {
    switch (kind) {
        case StepKind::Repositories:
            return Activity::Repositories;
        case StepKind::SelfUpdate:
            return Activity::SelfUpdate;
        case StepKind::PoolCheck:
            return Activity::PoolCheck;
        case StepKind::Remove:
            return Activity::Remove;
        case StepKind::Configure:
            return Activity::NvidiaConfig;
        case StepKind::Rebuild:
            return Activity::ModuleBuild;
        case StepKind::Initramfs:
            return Activity::Initramfs;
        case StepKind::Install:
            break;
    }
    return Activity::Install;
}

// What a step that ran changed, for the line after a later dismissal.
std::string change_of(const PlanStep& step) {
    switch (step.kind) {
        case StepKind::Repositories:
            return "Repositories aktiviert";
        case StepKind::SelfUpdate:
            return "xbps aktualisiert";
        case StepKind::Remove:
            return "entfernt: " +
                   joined(std::vector<std::string>(step.args.begin() + 2, step.args.end()));
        case StepKind::Install:
            return "installiert: " + joined(named_packages(step.args));
        case StepKind::Configure:
            return step.config.any() ? "NVIDIA-Einstellungen geschrieben"
                                     : "NVIDIA-Einstellungen entfernt";
        case StepKind::Rebuild:
            return "neu konfiguriert: " + step.args.back();
        case StepKind::Initramfs:
            return "Initramfs neu erstellt: " + step.args.back();
        case StepKind::PoolCheck:
            break;
    }
    return {};
}

// kelmora's NVIDIA files through the helper (its request), else a root shell
// with the one fixed command for that content.
TaskResult write_nvidia_config(const PlanStep& step, const LogSink& log) {
    const NvidiaConfig& config = step.config;
    log.line(config.modeset ? "Schreibe " + std::string(nvidia_modprobe_file) +
                                  " (nvidia_drm modeset=1) vor dem Bau des Moduls..."
             : config.any() ? "Schreibe die NVIDIA-Einstellungen von kelmora..."
                            : "Entferne die NVIDIA-Einstellungen von kelmora...");
    const CommandResult run = run_pkexec_command(
        installed_helper().empty()
            ? std::vector<std::string>{"sh", "-c", nvidia_config_shell_command(config)}
            : step.args,
        log);
    return privileged_result(run, run.status == 0);
}

}  // namespace

TaskResult run_install_plan(const InstallPlan& plan, const LogSink& log, int first, int count) {
    if (count < first + static_cast<int>(plan.steps.size()) - 1)
        count = first + static_cast<int>(plan.steps.size()) - 1;
    bool removed = false;
    std::vector<std::string> changed;
    int number = first;
    for (const PlanStep& step : plan.steps) {
        log.step({activity_of(step.kind), step.subject, number++, count});
        TaskResult result = false;
        switch (step.kind) {
            case StepKind::Repositories:
            case StepKind::SelfUpdate:
            case StepKind::Install:
                result = run_xbps_install(step.args, log);
                break;
            case StepKind::PoolCheck:
                result = true;
                for (const std::string& package : step.args)
                    if (!in_repository_pool(package)) {
                        log.line("Fehler: " + package +
                                 " ist im Repository-Pool nicht zu finden; der "
                                 "installierte Treiber bleibt.");
                        result = false;
                    }
                break;
            case StepKind::Remove: {
                // xbps-remove never asks xbps to update itself: only exit 0 counts.
                const CommandResult run = run_pkexec_command(step.args, log);
                result = privileged_result(run, run.status == 0);
                removed = result;
                break;
            }
            case StepKind::Configure:
                result = write_nvidia_config(step, log);
                break;
            case StepKind::Rebuild:
            case StepKind::Initramfs: {
                const CommandResult run = run_pkexec_command(step.args, log);
                result = privileged_result(run, run.status == 0);
                break;
            }
        }
        if (result) {
            if (!change_of(step).empty()) changed.push_back(change_of(step));
            continue;
        }
        if (removed)
            log.line(
                "Fehler: Der bisherige Treiber wurde entfernt. Für einen Treiber "
                "wieder installieren: xbps-install -S " +
                joined(plan.removed));
        if (!result.cancelled() || changed.empty()) return result;
        std::string done;
        for (const std::string& c : changed) done += (done.empty() ? "" : "; ") + c;
        log.line("Abgebrochen, nachdem schon geändert wurde: " + done + ".");
        return false;
    }
    return true;
}

NvidiaFiles nvidia_files(std::string_view generation, const std::filesystem::path& root) {
    const auto read = [&root](std::string_view file) {
        return read_small_file(root / std::filesystem::path(file).relative_path(), 16 * 1024);
    };
    // The card names (and so the architecture) only matter on a laptop.
    GraphicsHardware hardware;
    hardware.laptop = laptop_chassis(root);
    if (hardware.laptop) hardware = detect_graphics_hardware(root);
    return {
        wanted_nvidia_config(generation, hardware, user_sets_modeset(root, nvidia_modprobe_file)),
        nvidia_config_from_files(read(nvidia_modprobe_file), read(nvidia_udev_file))};
}

InstallPlan prepare_install(const PackageList& packages, const LogSink& log,
                            const std::filesystem::path& root) {
    // Only a driver generation can collide with what is installed, and only
    // it needs kernel headers.
    const bool nvidia = installs_nvidia_generation(packages);
    const std::vector<std::string> pkgvers =
        nvidia ? query_installed_pkgvers().value_or(std::vector<std::string>{})
               : std::vector<std::string>{};
    const std::vector<std::string> headers =
        nvidia ? headers_to_install(installed_kernels(pkgvers), log, "NVIDIA-Modul")
               : std::vector<std::string>{};
    std::optional<NvidiaFiles> files;
    if (nvidia) files = nvidia_files(generation_of(packages), root);
    return plan_install(packages, package_names(pkgvers),
                        missing_repository_packages(packages, root), headers, files);
}

TaskResult run_pkexec_xbps(const PackageList& packages, const LogSink& log,
                           const std::filesystem::path& root) {
    const bool nvidia = installs_nvidia_generation(packages);
    const InstallPlan plan = prepare_install(packages, log, root);
    const int count = static_cast<int>(plan.steps.size()) + (nvidia ? 1 : 0);
    const TaskResult result = run_install_plan(plan, log, 1, count);
    if (!result || !nvidia) return result;
    log.step({Activity::ModuleCheck, {}, count, count});
    return modules_present(root, log);
}

TaskResult repair_nvidia_module(const LogSink& log, const std::filesystem::path& root) {
    const auto pkgvers = query_installed_pkgvers();
    const std::string generation = pkgvers ? installed_generation(*pkgvers) : std::string();
    if (generation.empty()) {
        log.line("Fehler: Kein NVIDIA-Treiber installiert; es gibt nichts zu reparieren.");
        return false;
    }
    const std::vector<std::string> headers =
        headers_to_install(installed_kernels(*pkgvers), log, "NVIDIA-Modul");
    // Mode setting that is off (or runtime power management that is not set
    // up) is mended the way an install sets it: the file, then the triggers.
    const NvidiaFiles files = nvidia_files(generation, root);
    const bool configure = files.wanted != files.current;
    const int count = 2 + (headers.empty() ? 0 : 1) + (configure ? 1 : 0);
    int number = 1;
    std::vector<std::string> changed;
    if (configure) {
        log.step({Activity::NvidiaConfig, {}, number++, count});
        const PlanStep step = {
            StepKind::Configure, nvidia_config_request(files.wanted), {}, files.wanted};
        if (const TaskResult written = write_nvidia_config(step, log); !written) return written;
        changed.push_back(change_of(step));
    }
    if (!headers.empty()) {
        std::vector<std::string> args = {"xbps-install", "-Su", "-y"};
        args.insert(args.end(), headers.begin(), headers.end());
        log.step({Activity::Install, {}, number++, count});
        const TaskResult installed = run_xbps_install(args, log);
        if (!installed) {
            if (!installed.cancelled() || changed.empty()) return installed;
            log.line("Abgebrochen, nachdem schon geändert wurde: " + joined(changed) + ".");
            return false;
        }
        changed.push_back("installiert: " + joined(headers));
    }
    // Installing headers builds nothing by itself: the trigger runs again
    // when the -dkms package is configured again.
    log.step({Activity::ModuleBuild, {}, number++, count});
    const CommandResult run =
        run_pkexec_command({"xbps-reconfigure", "-f", generation + "-dkms"}, log);
    if (run.status != 0) {
        const TaskResult result = privileged_result(run, false);
        if (changed.empty()) return result;
        if (result.cancelled())
            log.line("Abgebrochen, nachdem schon geändert wurde: " + joined(changed) + ".");
        return false;
    }
    log.step({Activity::ModuleCheck, {}, number, count});
    return modules_present(root, log);
}

TaskResult use_open_driver(const LogSink& log, std::vector<std::string>& blocking,
                           const std::filesystem::path& root) {
    const auto pkgvers = query_installed_pkgvers();
    if (!pkgvers) {
        log.line("Fehler: xbps-query antwortet nicht; es wurde nichts geändert.");
        return false;
    }
    const InstallPlan plan =
        plan_open_driver(package_names(*pkgvers), nvidia_files({}, root).current);
    if (plan.removed.empty()) {
        log.line("Fehler: Kein NVIDIA-Treiber installiert; nouveau wird schon verwendet.");
        return false;
    }
    const int count = static_cast<int>(plan.steps.size()) + 1;
    if (const TaskResult result = run_install_plan(plan, log, 1, count); !result) return result;
    log.step({Activity::BlacklistCheck, {}, count, count});
    blocking = nouveau_blacklists(root);
    for (const std::string& file : blocking)
        log.line("Warnung: " + file +
                 " sperrt nouveau weiterhin (blacklist nouveau); kelmora ändert diese Datei "
                 "nicht. Ohne diese Zeile wird nouveau nach einem Neustart verwendet.");
    if (blocking.empty())
        log.line("Der offene Treiber (nouveau) wird nach einem Neustart verwendet.");
    return blocking.empty();
}

std::optional<InstalledGraphics> query_installed_graphics(const std::filesystem::path& root) {
    const auto pkgvers = query_installed_pkgvers();
    if (!pkgvers) return std::nullopt;
    InstalledGraphics graphics = installed_graphics(package_names(*pkgvers));
    if (!graphics.nvidia.empty()) {
        const ModuleCheck check = check_nvidia_modules(root, *pkgvers);
        for (const auto* list : {&check.missing, &check.missing_older})
            for (const Kernel& k : *list) graphics.kernels_without_module.push_back(k.release);
        // Read after a restart: the driver runs without mode setting.
        const bool gbm = std::any_of(graphics.nvidia.begin(), graphics.nvidia.end(),
                                     [](const std::string& g) { return generation_has_gbm(g); });
        // Not when kelmora's file asks for it already: that waits for a restart.
        graphics.modeset_off = gbm && nvidia_modeset_active(root) == false &&
                               !user_sets_modeset(root, nvidia_modprobe_file) &&
                               !nvidia_files({}, root).current.modeset;
    }
    GraphicsHardware hardware;
    hardware.laptop = laptop_chassis(root);
    if (hardware.laptop) {
        hardware.cards = read_display_controllers(root);
        if (const auto hybrid = hybrid_graphics(hardware))
            graphics.nvidia_power = runtime_status(root, hybrid->nvidia.slot);
    }
    return graphics;
}

}  // namespace kelmora
