// The printer page's list of printers found on the network, the queues CUPS
// has and the scanners sane-airscan can use.
#pragma once

#include "i18n/lang.h"
#include "ui/app_widgets.h"

namespace kelmora {

// Rebuilds the list and its lines in `lang` from what the window knows.
void show_printer_state(const AppWidgets& widgets, Lang lang);

}  // namespace kelmora
