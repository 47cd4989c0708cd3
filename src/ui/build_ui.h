// Building one main window: the widget tree, the start language, the UI
// channel and the wiring of every control.
#pragma once

#include <gtkmm.h>

#include "ui/app_widgets.h"
#include "ui/ui_message.h"

namespace kelmora {

// What a built window is made of; the application keeps the window alive, so
// callers may drop this at once.
struct MainWindow {
    AppWidgetsRef widgets;
    Gtk::ComboBoxText* lang_combo = nullptr;
    Gtk::Expander* log_expander = nullptr;
    Gtk::StackSwitcher* stack_switcher = nullptr;
    UiReceiver receiver;
};

// The "activate" handler: every activation builds a new, independent window.
// `root` is where the window reads this machine.
MainWindow build_ui(const Glib::RefPtr<Gtk::Application>& app,
                    const std::filesystem::path& root = "/");

}  // namespace kelmora
