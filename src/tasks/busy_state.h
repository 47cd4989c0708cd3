// A window is busy while a task runs: spinner on, the nine action buttons off.
#pragma once

#include "ui/app_widgets.h"

namespace kelmora {

void enter_busy_state(const AppWidgets& widgets);
void leave_busy_state(const AppWidgets& widgets);

}  // namespace kelmora
