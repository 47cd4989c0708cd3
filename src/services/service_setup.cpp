#include "services/service_setup.h"

#include "hardware/accounts.h"
#include "packages/plan_runner.h"
#include "packages/xbps.h"
#include "process/command.h"

namespace kelmora {

std::string service_not_enabled_line(std::string_view service_dir) {
    const std::string_view name = service_dir.substr(service_dir.rfind('/') + 1);
    return "Fehler: Runit-Dienst " + std::string(name) + " wurde nicht aktiviert.";
}

TaskResult run_service_setup(const ServiceRecipe& recipe, const LogSink& log) {
    const InstallPlan plan = prepare_install(recipe.package_list(), log);
    const int count = static_cast<int>(plan.steps.size()) + 1;
    if (const TaskResult installed = run_install_plan(plan, log, 1, count); !installed)
        return installed;
    log.step({Activity::Services, {}, count, count});
    log.line(std::string(recipe.progress_line));
    for (std::string_view dir : recipe.service_dirs) {
        // What ln prints is not shown; only whether the link was made.
        PkexecOptions quiet;
        quiet.announce = false;
        const CommandResult linked =
            run_pkexec_command({"ln", "-sf", std::string(dir), "/var/service/"}, log, quiet);
        // A service that is installed but not enabled is not set up: without
        // Avahi there is no discovery and no driverless printing.
        if (linked.status != 0) {
            log.line(service_not_enabled_line(dir));
            // Dismissed here, after the install: a failure, not a cancel.
            const TaskResult result = privileged_result(linked, false);
            return result.polkit_missing() ? result : TaskResult(false);
        }
    }
    return true;
}

std::vector<std::string> join_group_request(const std::string& user, std::string_view group) {
    return {"gpasswd", "-a", user, std::string(group)};
}

TaskResult join_group(std::string_view group, const LogSink& log, Activity activity) {
    log.step({activity, std::string(group), 1, 1});
    const std::string user = current_user_name();
    if (user.empty()) {
        log.line("Fehler: Der Benutzername lässt sich nicht ermitteln.");
        return false;
    }
    const CommandResult run = run_pkexec_command(join_group_request(user, group), log);
    const TaskResult result = privileged_result(run, run.status == 0);
    if (result)
        log.line(user + " ist jetzt in der Gruppe " + std::string(group) +
                 "; gilt ab der nächsten Anmeldung.");
    return result;
}

}  // namespace kelmora
