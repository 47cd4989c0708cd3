#include "ui/busy_state.h"

#include "i18n/catalogue.h"
#include "i18n/lang.h"

namespace kelmora {

std::string_view outcome_text(TaskOutcome outcome, Lang lang) {
    switch (outcome) {
        case TaskOutcome::Succeeded:
            return get_text(lang, "outcome_done");
        case TaskOutcome::Failed:
            return get_text(lang, "outcome_failed");
        case TaskOutcome::SearchFinished:
            return get_text(lang, "outcome_scan");
        case TaskOutcome::None:
            break;
    }
    return {};
}

void show_outcome(const AppWidgets& widgets, Lang lang) {
    widgets.task_outcome->set_text(std::string(outcome_text(widgets.outcome, lang)));
    widgets.task_outcome->remove_css_class("error");
    widgets.task_outcome->remove_css_class("success");
    if (widgets.outcome == TaskOutcome::Failed) widgets.task_outcome->add_css_class("error");
    if (widgets.outcome == TaskOutcome::Succeeded) widgets.task_outcome->add_css_class("success");
}

void enter_busy_state(const AppWidgets& widgets) {
    widgets.spinner->start();
    for (Gtk::Button* button : widgets.action_buttons()) button->set_sensitive(false);
    widgets.found_list->set_sensitive(false);  // the "Add" buttons
    widgets.outcome = TaskOutcome::None;
    widgets.task_outcome->set_text("");
}

void leave_busy_state(const AppWidgets& widgets, TaskOutcome outcome) {
    widgets.spinner->stop();
    for (Gtk::Button* button : widgets.action_buttons())
        button->set_sensitive(button != widgets.btn_nvidia || multilib_system);
    widgets.found_list->set_sensitive(true);
    widgets.outcome = outcome;
    show_outcome(widgets, load_lang());
}

}  // namespace kelmora
