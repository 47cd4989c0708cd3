// The printer page's rows: the queues CUPS has, and the printers to add (on
// USB cables, found on the network). Scanners are the scanner page's.
#pragma once

#include "i18n/lang.h"
#include "ui/app_widgets.h"

namespace kelmora {

// Rebuilds the list and its lines in `lang` from what the window knows.
void show_printer_state(const AppWidgets& widgets, Lang lang);

}  // namespace kelmora
