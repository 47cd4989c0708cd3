#include "services/service_setup.h"

#include "packages/plan_runner.h"
#include "process/process.h"

namespace kelmora {

std::string service_not_enabled_line(std::string_view service_dir) {
    const std::string_view name = service_dir.substr(service_dir.rfind('/') + 1);
    return "Fehler: Runit-Dienst " + std::string(name) + " wurde nicht aktiviert.";
}

bool run_service_setup(const ServiceRecipe& recipe, const LogSink& log) {
    if (!run_pkexec_xbps(recipe.package_list(), log)) return false;
    log.line(std::string(recipe.progress_line));
    for (std::string_view dir : recipe.service_dirs) {
        const ChildProcess child =
            spawn_process({"pkexec", "ln", "-sf", std::string(dir), "/var/service/"},
                          Stdio::Inherit, Stdio::Inherit, Stdio::Inherit);
        // A service that is installed but not enabled is not set up: without
        // Avahi there is no discovery and no driverless printing.
        if (!child.started() || !wait_for_success(child.pid)) {
            log.line(service_not_enabled_line(dir));
            return false;
        }
    }
    return true;
}

}  // namespace kelmora
