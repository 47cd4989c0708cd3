// The install task and the "clicked" handlers of the five install buttons.
#pragma once

#include "tasks/runner.h"
#include "tasks/ui_message.h"
#include "ui/app_widgets.h"

namespace kelmora {

// Enters the busy state and installs `packages` on a detached worker, which
// ends the task with Done. Main thread only; returns at once.
// A graphics driver takes effect after a restart: with `graphics`, a
// successful install makes the page say so.
void start_install_task(PackageList packages, UiSender sender, AppWidgetsRef widgets,
                        bool graphics = false);

void on_install_nvidia(const AppWidgetsRef& widgets, const UiSender& sender);
void on_install_amd(const AppWidgetsRef& widgets, const UiSender& sender);
void on_install_intel(const AppWidgetsRef& widgets, const UiSender& sender);
// These two do nothing at all when no check button is active.
void on_install_print_drivers(const AppWidgetsRef& widgets, const UiSender& sender);
void on_install_scan_components(const AppWidgetsRef& widgets, const UiSender& sender);

}  // namespace kelmora
