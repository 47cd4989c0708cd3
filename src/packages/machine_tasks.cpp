#include "packages/machine_tasks.h"

#include <memory>
#include <mutex>

#include "hardware/kernels.h"
#include "packages/kernel_modules.h"
#include "packages/plan_runner.h"
#include "packages/repositories.h"
#include "packages/xbps.h"
#include "process/command.h"

namespace kelmora {

TaskResult install_microcode(std::string_view package, const LogSink& log,
                             const std::filesystem::path& root) {
    const std::vector<std::string> pkgvers =
        query_installed_pkgvers().value_or(std::vector<std::string>{});
    std::vector<std::string> kernels;
    for (const Kernel& k : installed_kernels(pkgvers)) kernels.push_back(k.package);
    const PackageList wanted = {package};
    const MicrocodePlan plan = plan_microcode(package, package_names(pkgvers),
                                              missing_repository_packages(wanted, root), kernels);
    if (plan.no_kernel) {
        log.line(
            "Fehler: Kein Kernel-Paket installiert; ohne neue Initramfs lädt der Kernel "
            "das Microcode-Update nicht. Es wurde nichts installiert.");
        return false;
    }
    const TaskResult result = run_install_plan(plan.plan, log);
    if (result) log.line("Microcode-Update installiert; es wird beim nächsten Start geladen.");
    return result;
}

TaskResult install_wl_driver(const LogSink& log, const std::filesystem::path& root) {
    const std::vector<std::string> pkgvers =
        query_installed_pkgvers().value_or(std::vector<std::string>{});
    const std::vector<Kernel> kernels = installed_kernels(pkgvers);
    if (kernels.empty()) {
        log.line(
            "Fehler: Kein Kernel-Paket installiert; für keinen Kernel lässt sich das "
            "wl-Modul bauen. Es wurde nichts installiert.");
        return false;
    }
    const std::vector<std::string> headers = headers_to_install(kernels, log, "wl-Modul");
    const PackageList wanted = {"broadcom-wl-dkms"};
    const InstallPlan plan = plan_install(wanted, package_names(pkgvers),
                                          missing_repository_packages(wanted, root), headers);
    const int count = static_cast<int>(plan.steps.size()) + 1;
    if (const TaskResult installed = run_install_plan(plan, log, 1, count); !installed)
        return installed;
    // DKMS's trigger exits 0 even when a build failed: the module itself is looked for.
    log.step({Activity::ModuleCheck, {}, count, count});
    const std::vector<Kernel> now =
        installed_kernels(query_installed_pkgvers().value_or(std::vector<std::string>{}));
    std::vector<std::string> with_module;
    for (const Kernel& k : now)
        if (has_kernel_module(root, k.release, "wl")) with_module.push_back(k.release);
    const ModuleCheck check = judge_modules(now, running_kernel_release(root), with_module);
    for (const Kernel& k : check.missing)
        log.line("Fehler: Für Kernel " + k.release +
                 " gibt es kein wl-Modul; mit diesem Kernel bleibt die Karte ohne Treiber. "
                 "Build-Log: /var/lib/dkms/wl/");
    for (const Kernel& k : check.missing_older)
        log.line("Warnung: Für den älteren Kernel " + k.release + " gibt es kein wl-Modul.");
    if (!check.ok()) return false;
    log.line(
        "wl-Modul geprüft: vorhanden für den Kernel, der startet. Der Treiber gilt ab dem "
        "nächsten Start.");
    return true;
}

TaskResult remove_wl_driver(const LogSink& log) {
    InstallPlan plan;
    plan.steps.push_back(
        {StepKind::Remove, {"xbps-remove", "-Ry", "broadcom-wl-dkms"}, "broadcom-wl-dkms"});
    const TaskResult result = run_install_plan(plan, log);
    if (result)
        log.line(
            "broadcom-wl-dkms entfernt; ab dem nächsten Start sind die offenen "
            "Broadcom-Treiber nicht mehr gesperrt.");
    return result;
}

TaskResult unblock_radio(const std::string& index, const LogSink& log) {
    log.step({Activity::Unblock, index, 1, 1});
    const CommandResult run = run_pkexec_command({"rfkill", "unblock", index}, log);
    return privileged_result(run, run.status == 0);
}

TaskResult look_for_missing_firmware(std::vector<MissingFirmware>& found, const LogSink& log,
                                     const std::filesystem::path& root) {
    log.step({Activity::KernelLog, {}, 1, 1});
    log.line("Lese das Kernel-Protokoll (dmesg) nach fehlender Firmware ...");
    // Both output readers add to it, and may outlive this call (a child's
    // leftover process keeps a pipe open): shared, under its own lock.
    struct Collected {
        std::mutex mutex;
        std::string text;
    };
    const auto collected = std::make_shared<Collected>();
    PkexecOptions options;
    options.announce = false;  // the whole kernel log is nobody's business
    options.observe = [collected](std::string_view line) {
        const std::lock_guard lock(collected->mutex);
        // Bounded: a kernel log is at most a few megabytes.
        if (collected->text.size() < 16 * 1024 * 1024) collected->text.append(line).push_back('\n');
    };
    const CommandResult run =
        run_pkexec_command(installed_helper().empty() ? std::vector<std::string>{"dmesg"}
                                                      : std::vector<std::string>{"firmware-log"},
                           log, options);
    if (run.status != 0) {
        log.line("Fehler: Das Kernel-Protokoll ließ sich nicht lesen.");
        return privileged_result(run, false);
    }
    std::string kernel_log;
    {
        const std::lock_guard lock(collected->mutex);
        kernel_log = collected->text;
    }
    std::optional<std::vector<std::string>> installed;
    if (const auto pkgvers = query_installed_pkgvers()) installed = package_names(*pkgvers);
    found = missing_firmware(root, kernel_log, installed);
    for (const MissingFirmware& m : found)
        log.line("Fehlende Firmware: " + m.file + " (Paket " + m.package +
                 (m.package_installed ? ", installiert, ohne diese Datei)" : ")"));
    if (found.empty()) log.line("Der Kernel hat alle Firmware gefunden, nach der er fragte.");
    return true;
}

}  // namespace kelmora
