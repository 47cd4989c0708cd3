#include "services/service_setup.h"

#include "tasks/busy_state.h"
#include "tasks/process.h"

namespace kelmora {

const ServiceRecipe& print_service_recipe() {
    static const ServiceRecipe recipe{{"cups", "cups-filters", "avahi", "nss-mdns", "avahi-utils"},
                                      "Aktiviere Runit-Dienste (CUPS & Avahi)...",
                                      {"/etc/sv/cupsd", "/etc/sv/avahi-daemon"}};
    return recipe;
}

const ServiceRecipe& scan_service_recipe() {
    static const ServiceRecipe recipe{
        {"sane", "sane-airscan"}, "Aktiviere Runit-Dienst (saned)...", {"/etc/sv/saned"}};
    return recipe;
}

void run_service_setup(const ServiceRecipe& recipe, const UiSender& sender) {
    const bool ok = run_pkexec_xbps(recipe.packages, sender);
    if (ok) {
        sender.send(Line{std::string(recipe.progress_line)});
        for (std::string_view dir : recipe.service_dirs) {
            const ChildProcess child =
                spawn_process({"pkexec", "ln", "-sf", std::string(dir), "/var/service/"},
                              Stdio::Inherit, Stdio::Inherit, Stdio::Inherit);
            // A refused or failed link shows in the status line, not in the log.
            if (child.started()) wait_for_success(child.pid);
        }
    }
    sender.send(Done{ok});
}

void on_setup_services(const ServiceRecipe& recipe, const AppWidgetsRef& widgets,
                       const UiSender& sender) {
    enter_busy_state(*widgets);
    spawn_detached([&recipe, sender] { run_service_setup(recipe, sender); });
}

}  // namespace kelmora
