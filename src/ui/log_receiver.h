// The receiving end of a window's UI channel: renders what tasks report into
// the log, ends the busy state and refreshes the service status lines.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "ui/app_widgets.h"
#include "ui/ui_message.h"

namespace kelmora {

inline constexpr std::string_view success_banner = "--- INSTALLATION SUCCESSFUL / BEENDET ---";
inline constexpr std::string_view failure_banner = "--- INSTALLATION FAILED / ABGEBROCHEN ---";

// The text that a ScanResults message appends to the log.
std::string scan_result_block(const std::vector<std::string>& entries);

// What the receiver of one window holds.
struct LogContext {
    AppWidgetsRef widgets;
    Gtk::Expander* log_expander = nullptr;
    // The view follows the end of the log unless the user has scrolled up to
    // read; back at the end, it follows again (as terminals do).
    bool following = true;
    bool follow_pending = false;  // a frame will scroll to the end
    double last_value = 0;        // where the view was, to tell a move up
    Glib::RefPtr<Gtk::TextMark> end_mark, reading_mark;
    gint64 end_laid_out_at = 0;  // when the view was last asked to lay out the end
    // Lines received and not yet in the buffer. Every buffer insert costs a
    // redraw and, with an accessibility client, two D-Bus signals: consecutive
    // lines go in with one insert.
    std::string batch;
};
LogContext make_log_context(AppWidgetsRef widgets, Gtk::Expander* log_expander);

// Keeps the last line of `scrolled` (the log's scrolled window) in view while
// `context` follows: on the frame after each insert and after each growth of
// the scroll range, however long the log and however far the view's layout of
// the lines above has got.
void follow_log_end(const std::shared_ptr<LogContext>& context, Gtk::ScrolledWindow& scrolled);

// Appends `text` at the end of the log as plain text (never markup).
void append_log(const AppWidgets& widgets, std::string_view text);

// Renders one message. Lines are collected and appended together: before any
// other message, when log_batch_limit bytes are waiting, and at the end of the
// channel dispatch (end_log_dispatch).
void handle_ui_message(UiMessage&& message, LogContext& context);
// Appends the collected lines.
void end_log_dispatch(LogContext& context);

// How many bytes of lines are collected before they go into the buffer.
inline constexpr std::size_t log_batch_limit = 64 * 1024;

// While lines flood in, how often the view lays out the lines at the end.
inline constexpr std::chrono::microseconds log_end_layout_interval{100'000};

// How long one dispatch of the log receiver may run before the window draws.
inline constexpr std::chrono::milliseconds log_dispatch_slice{8};

}  // namespace kelmora
