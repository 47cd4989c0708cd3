#include "ui/busy_state.h"

#include <algorithm>

#include "i18n/catalogue.h"
#include "i18n/lang.h"

namespace kelmora {

std::string_view outcome_text(TaskOutcome outcome, Lang lang) {
    switch (outcome) {
        case TaskOutcome::Succeeded:
            return get_text(lang, "outcome_done");
        case TaskOutcome::Failed:
            return get_text(lang, "outcome_failed");
        case TaskOutcome::Cancelled:
            return get_text(lang, "outcome_cancel");
        case TaskOutcome::SearchFinished:
            return get_text(lang, "outcome_scan");
        case TaskOutcome::NoPkexec:
            return get_text(lang, "outcome_no_pkexec");
        case TaskOutcome::NoPolkitd:
            return get_text(lang, "outcome_no_polkit");
        case TaskOutcome::None:
            break;
    }
    return {};
}

std::string step_text(const StepReport& step, Lang lang) {
    const auto key = [&]() -> std::string_view {
        switch (step.activity) {
            case Activity::Repositories:
                return "step_repos";
            case Activity::SelfUpdate:
                return "step_xbps";
            case Activity::PoolCheck:
                return "step_pool";
            case Activity::Remove:
                return "step_remove";
            case Activity::Install:
                return "step_install";
            case Activity::ModuleBuild:
                return "step_module";
            case Activity::ModuleCheck:
                return "step_check";
            case Activity::BlacklistCheck:
                return "step_blacklist";
            case Activity::Services:
                return "step_services";
            case Activity::Polkit:
                return "step_polkit";
            case Activity::AddPrinter:
                return "step_printer";
            case Activity::DefaultPrinter:
                return "step_default";
            case Activity::RemovePrinter:
                return "step_rm_queue";
            case Activity::TestPage:
                return "step_test_page";
            case Activity::ResumeQueue:
                return "step_resume";
            case Activity::CancelJobs:
                return "step_cancel_jobs";
            case Activity::CancelJob:
                return "step_cancel_job";
            case Activity::QueueSetting:
                return "step_setting";
            case Activity::ListUsb:
                return "step_list_usb";
            case Activity::NvidiaConfig:
                return "step_nv_config";
            case Activity::ScannerGroup:
                return "step_scan_group";
            case Activity::ScannerSetup:
                return "step_scan_setup";
            case Activity::Initramfs:
                return "step_initramfs";
            case Activity::Unblock:
                return "step_unblock";
            case Activity::KernelLog:
                return "step_kernel_log";
            case Activity::JoinGroup:
                return "step_join_group";
            case Activity::Search:
                break;
        }
        return "step_search";
    }();
    std::string text = format_text(lang, key, {{"name", step.subject}});
    if (step.count > 1)
        text =
            format_text(lang, "step_of",
                        {{"n", std::to_string(step.number)}, {"m", std::to_string(step.count)}}) +
            text;
    return text;
}

void show_step(const AppWidgets& widgets, StepReport step) {
    widgets.step = std::move(step);
    show_outcome(widgets, load_lang());
}

void show_outcome(const AppWidgets& widgets, Lang lang) {
    widgets.task_outcome->set_text(widgets.step ? step_text(*widgets.step, lang)
                                                : std::string(outcome_text(widgets.outcome, lang)));
    widgets.task_outcome->remove_css_class("error");
    widgets.task_outcome->remove_css_class("success");
    if (widgets.outcome == TaskOutcome::Failed || widgets.outcome == TaskOutcome::NoPkexec ||
        widgets.outcome == TaskOutcome::NoPolkitd)
        widgets.task_outcome->add_css_class("error");
    if (widgets.outcome == TaskOutcome::Succeeded) widgets.task_outcome->add_css_class("success");
}

bool usable(const AppWidgets& w, const Gtk::Button* button) {
    if (button == w.btn_nvidia && !multilib_system) return false;
    // Without xbps the buttons that install cannot work: the window said so once.
    const Gtk::Button* installing[] = {w.btn_nvidia,
                                       w.btn_nv_repair,
                                       w.btn_nv_open,
                                       w.btn_amd,
                                       w.btn_intel,
                                       w.btn_setup_print,
                                       w.btn_install_print_drivers,
                                       w.btn_setup_scan,
                                       w.btn_install_scan_components};
    return w.xbps ||
           std::find(std::begin(installing), std::end(installing), button) == std::end(installing);
}

void enter_busy_state(const AppWidgets& widgets) {
    widgets.spinner->start();
    for (Gtk::Button* button : widgets.action_buttons()) button->set_sensitive(false);
    widgets.found_list->set_sensitive(false);  // the "Add" buttons
    widgets.queue_list->set_sensitive(false);  // and those of the queues
    widgets.usb_list->set_sensitive(false);    // and of the USB printers
    widgets.scanner_fixes->set_sensitive(false);
    widgets.machine_sections->set_sensitive(false);  // every button of This Computer
    widgets.outcome = TaskOutcome::None;
    widgets.step.reset();
    widgets.network.reveal_search = false;
    widgets.task_outcome->set_text("");
}

void leave_busy_state(const AppWidgets& widgets, TaskOutcome outcome) {
    widgets.spinner->stop();
    for (Gtk::Button* button : widgets.action_buttons())
        button->set_sensitive(usable(widgets, button));
    widgets.found_list->set_sensitive(true);
    widgets.queue_list->set_sensitive(true);
    widgets.usb_list->set_sensitive(true);
    widgets.scanner_fixes->set_sensitive(true);
    widgets.machine_sections->set_sensitive(true);
    widgets.outcome = outcome;
    widgets.step.reset();
    show_outcome(widgets, load_lang());
}

}  // namespace kelmora
