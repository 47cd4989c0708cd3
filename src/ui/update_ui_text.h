// Applying every text of a window for one language, and the language selector.
#pragma once

#include "i18n/lang.h"
#include "ui/app_widgets.h"
#include "ui/ui_message.h"

namespace kelmora {

// Sets every translatable text in place, rebuilds the NVIDIA entries (entry 0
// active) and re-probes the service status lines.
void update_ui_text(Lang lang, const AppWidgets& widgets);

// The "changed" handler of the language selector: store the choice, re-apply
// the texts, then ask the receiver to refresh the status lines.
void on_language_changed(int active_index, const AppWidgets& widgets, const UiSender& sender);

}  // namespace kelmora
