// The "This Computer" page: the processor, Wi-Fi, Bluetooth and sound, each
// device a row with its state and its next action, and the firmware the
// kernel missed.
#pragma once

#include "i18n/lang.h"
#include "ui/app_widgets.h"

namespace kelmora {

// Rebuilds the page's rows in `lang` from what the window knows.
void show_machine_state(const AppWidgets& widgets, Lang lang);

// The state of a row in words, and its button's caption (empty: no button).
std::string machine_state_text(const MachineRow& row, Lang lang, bool microcode_restart);
std::string machine_action_text(const MachineRow& row, Lang lang, bool confirming);

}  // namespace kelmora
