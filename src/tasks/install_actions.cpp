#include "tasks/install_actions.h"

#include "tasks/busy_state.h"
#include "services/printer_queue.h"
#include "tasks/packages.h"
#include "tasks/process.h"

namespace kelmora {

void start_install_task(PackageList packages, UiSender sender, AppWidgetsRef widgets,
                        bool graphics) {
    start_task(*widgets, [packages = std::move(packages), sender = std::move(sender),
                          root = widgets->root, graphics] {
        const bool ok = run_pkexec_xbps(packages, sender, root);
        // What is installed now, before the task ends, as the status lines.
        report_machine_state(sender);
        sender.send(Done{ok, ok && graphics});
    });
}

void on_install_nvidia(const AppWidgetsRef& widgets, const UiSender& sender) {
    start_install_task(nvidia_packages(widgets->combo_nvidia->get_active_row_number()), sender,
                       widgets, true);
}

void on_install_amd(const AppWidgetsRef& widgets, const UiSender& sender) {
    start_install_task(amd_packages(), sender, widgets, true);
}

void on_install_intel(const AppWidgetsRef& widgets, const UiSender& sender) {
    start_install_task(intel_packages(), sender, widgets, true);
}

void on_install_print_drivers(const AppWidgetsRef& widgets, const UiSender& sender) {
    const AppWidgets& w = *widgets;
    PackageList list =
        print_driver_packages({w.chk_hp->get_active(), w.chk_brother_pr->get_active(),
                               w.chk_epson_pr->get_active(), w.chk_gutenprint->get_active()});
    if (!list.empty()) start_install_task(std::move(list), sender, widgets);
}

void on_install_scan_components(const AppWidgetsRef& widgets, const UiSender& sender) {
    const AppWidgets& w = *widgets;
    PackageList list =
        scanner_packages({w.chk_brother_scan4->get_active(), w.chk_brother_scan5->get_active(),
                          w.chk_simple_scan->get_active(), w.chk_skanlite->get_active()});
    if (!list.empty()) start_install_task(std::move(list), sender, widgets);
}

}  // namespace kelmora
