#include "services/service_setup.h"

#include "tasks/busy_state.h"
#include "services/printer_queue.h"
#include "tasks/process.h"
#include "tasks/runner.h"

namespace kelmora {

std::string service_not_enabled_line(std::string_view service_dir) {
    const std::string_view name = service_dir.substr(service_dir.rfind('/') + 1);
    return "Fehler: Runit-Dienst " + std::string(name) + " wurde nicht aktiviert.";
}

void run_service_setup(const ServiceRecipe& recipe, const UiSender& sender) {
    bool ok = run_pkexec_xbps(recipe.package_list(), sender);
    if (ok) {
        sender.send(Line{std::string(recipe.progress_line)});
        for (std::string_view dir : recipe.service_dirs) {
            const ChildProcess child =
                spawn_process({"pkexec", "ln", "-sf", std::string(dir), "/var/service/"},
                              Stdio::Inherit, Stdio::Inherit, Stdio::Inherit);
            // A service that is installed but not enabled is not set up: without
            // Avahi there is no discovery and no driverless printing.
            if (!child.started() || !wait_for_success(child.pid)) {
                sender.send(Line{service_not_enabled_line(dir)});
                ok = false;
                break;
            }
        }
    }
    report_machine_state(sender);
    sender.send(Done{ok});
}

void on_setup_services(const ServiceRecipe& recipe, const AppWidgetsRef& widgets,
                       const UiSender& sender) {
    start_task(*widgets, [recipe, sender] { run_service_setup(recipe, sender); });
}

}  // namespace kelmora
