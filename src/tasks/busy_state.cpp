#include "tasks/busy_state.h"

namespace kelmora {

void enter_busy_state(const AppWidgets& widgets) {
    widgets.spinner->start();
    for (Gtk::Button* button : widgets.action_buttons()) button->set_sensitive(false);
}

void leave_busy_state(const AppWidgets& widgets) {
    widgets.spinner->stop();
    for (Gtk::Button* button : widgets.action_buttons()) button->set_sensitive(true);
}

}  // namespace kelmora
