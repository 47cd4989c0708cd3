// The receiving end of a window's UI channel: renders what tasks report into
// the log, ends the busy state and refreshes the service status lines.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "tasks/ui_message.h"
#include "ui/app_widgets.h"

namespace kelmora {

inline constexpr std::string_view success_banner = "--- INSTALLATION SUCCESSFUL / BEENDET ---";
inline constexpr std::string_view failure_banner = "--- INSTALLATION FAILED / ABGEBROCHEN ---";

// The text that a ScanResults message appends to the log.
std::string scan_result_block(const std::vector<std::string>& entries);

// What the receiver of one window holds.
struct LogContext {
    AppWidgetsRef widgets;
    Gtk::Expander* log_expander = nullptr;
    Glib::RefPtr<Gtk::TextMark> end_mark;  // one right-gravity mark, reused for every line
    bool scroll_pending = false;
};
LogContext make_log_context(AppWidgetsRef widgets, Gtk::Expander* log_expander);

// Appends `text` at the end of the log as plain text (never markup).
void append_log(const AppWidgets& widgets, std::string_view text);

// Renders one message. Lines are appended at once; the view follows the end of
// the log in scroll_log_to_end, once per channel dispatch.
void handle_ui_message(UiMessage&& message, LogContext& context);
void scroll_log_to_end(LogContext& context);

// How long one dispatch of the log receiver may run before the window draws.
inline constexpr std::chrono::milliseconds log_dispatch_slice{8};

}  // namespace kelmora
