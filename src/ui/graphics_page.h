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

// Whether the NVIDIA entry `chosen` drives none of the detected NVIDIA cards
// (those that have a proprietary driver at all); false without such a card.
bool choice_drives_none(const GraphicsHardware& hardware, int chosen);

// The installed generation that drives a detected card and that installing
// `chosen` (which drives none) would remove; empty when there is none.
std::string generation_at_risk(const GraphicsHardware& hardware,
                               const std::optional<InstalledGraphics>& installed, int chosen);

// The Install button turns into "Replace nvidia580 anyway?" for a few
// seconds; a click meanwhile runs the install. end_confirmation turns it back.
void ask_to_confirm(const AppWidgetsRef& widgets, const std::string& generation);
// "Replace nvidia470 with nvidia580?": an install that removes an installed
// generation says so before anything runs.
void ask_to_confirm_replace(const AppWidgetsRef& widgets, const std::string& installed,
                            const std::string& chosen);
// The same on the open-driver button: "Remove nvidia470 and use nouveau?".
void ask_to_confirm_open(const AppWidgetsRef& widgets, const std::string& generations);
// Turns both buttons back.
void end_confirmation(const AppWidgets& widgets);
inline constexpr unsigned confirm_seconds = 5;

// Reads the machine on a worker and reports to `sender`.
void start_graphics_detection(const AppWidgets& widgets, UiSender sender);

}  // namespace kelmora
