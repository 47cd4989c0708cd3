// The scanner page's list: the scanners SANE finds with their test scans,
// how many there are, and what to do when one is missing.
#pragma once

#include "i18n/lang.h"
#include "ui/app_widgets.h"

namespace kelmora {

// Rebuilds the list and its lines in `lang` from what the window knows.
void show_scanner_state(const AppWidgets& widgets, Lang lang);

// The line for a test scan that gave no picture.
std::string scan_failure_text(ScanFailure failure, Lang lang);

}  // namespace kelmora
