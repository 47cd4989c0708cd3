// The graphics page's view of the machine: the detected cards, the NVIDIA
// choice that fits them, the notes under it and the restart notice.
#pragma once

#include "i18n/lang.h"
#include "ui/app_widgets.h"
#include "ui/ui_message.h"

namespace kelmora {

// Shows what the window knows in `lang`; also after a language change.
void show_graphics_state(const AppWidgets& widgets, Lang lang);

// The detection reported: the page shows the cards, and the NVIDIA choice
// moves to the one generation that fits them unless the user has chosen.
void apply_graphics_hardware(const AppWidgets& widgets, GraphicsHardware hardware);

// xbps-query reported what is installed (none: it could not tell).
void apply_installed_drivers(const AppWidgets& widgets, std::optional<InstalledGraphics> drivers);

// The NVIDIA choice changed, by the user or by the window itself.
void on_nvidia_choice_changed(const AppWidgets& widgets);

// Sets the NVIDIA entry from the window's side: not the user's choice.
void set_nvidia_choice(const AppWidgets& widgets, int index);

// Reads the machine on a worker and reports to `sender`.
void start_graphics_detection(const AppWidgets& widgets, UiSender sender);

}  // namespace kelmora
