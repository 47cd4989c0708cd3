#include "ui/log_receiver.h"

#include "i18n/lang.h"
#include "ui/busy_state.h"
#include "ui/graphics_page.h"
#include "ui/machine_page.h"
#include "ui/printer_page.h"
#include "ui/scanner_page.h"
#include "ui/status_lines.h"

namespace kelmora {
namespace {

void refresh_status(const AppWidgets& widgets) {
    update_service_status(load_lang(), widgets);
}

}  // namespace

std::string scan_result_block(const std::vector<std::string>& entries) {
    std::string block = "\n--- NETWORK SCAN RESULTS ---\n";
    if (entries.empty()) block += "No devices found.\n";
    for (const std::string& entry : entries) block.append("Found: ").append(entry).append("\n");
    block.append(28, '-').append("\n");
    return block;
}

LogContext make_log_context(AppWidgetsRef widgets, Gtk::Expander* log_expander) {
    LogContext context;
    context.widgets = std::move(widgets);
    context.log_expander = log_expander;
    return context;
}

namespace {

// The text view lays its lines out in the background and counts the lines it
// has not laid out yet as 0 px high: in a long log, the bottom of the scroll
// range is where that layout has got to, a line in the middle. Scrolling to a
// mark makes the view lay out the lines around the mark first, but only when
// it next lays out a change, so this is asked right after an insert. The view
// is then set to where the last line lies on the next frame (see
// follow_log_end), rather than left to the view's animated scroll.
void lay_out_log_end(LogContext& context) {
    if (!context.following || !context.end_mark) return;
    context.widgets->log_view->scroll_to(context.end_mark, 0.0);
    context.end_laid_out_at = g_get_monotonic_time();
}

// Where the log's last line lies, in the view's buffer coordinates.
Gdk::Rectangle last_line(Gtk::TextView& view) {
    Gdk::Rectangle last;
    view.get_iter_location(view.get_buffer()->end(), last);
    return last;
}

}  // namespace

void follow_log_end(const std::shared_ptr<LogContext>& context, Gtk::ScrolledWindow& scrolled) {
    Gtk::TextView& view = *context->widgets->log_view;
    const auto buffer = view.get_buffer();
    context->end_mark = buffer->create_mark("log-end", buffer->end(), false);  // stays at the end
    context->reading_mark = buffer->create_mark("log-reading", buffer->begin());
    const auto adjustment = scrolled.get_vadjustment();
    // On the next frame, back to where the last line lies when following,
    // however often the log grew meanwhile.
    const auto follow = [context, &scrolled, &view, a = adjustment.get()] {
        if (!context->following || context->follow_pending) return;
        context->follow_pending = true;
        scrolled.add_tick_callback([context, &view, a](const Glib::RefPtr<Gdk::FrameClock>&) {
            context->follow_pending = false;
            if (context->following) {
                const Gdk::Rectangle last = last_line(view);
                a->set_value(last.get_y() + last.get_height() - a->get_page_size());
            }
            return false;
        });
    };
    // While lines flood in, the end is laid out at most every
    // log_end_layout_interval; after the banner and the scan results always.
    buffer->signal_insert().connect(
        [context, follow](const Gtk::TextIter&, const Glib::ustring&, int) {
            if (g_get_monotonic_time() - context->end_laid_out_at >=
                log_end_layout_interval.count())
                lay_out_log_end(*context);
            follow();
        },
        true);
    adjustment->signal_changed().connect(follow);
    // The user scrolled up to read: stop following until the end is in view
    // again (the last line starts above the bottom of the visible part) or the
    // view is at the bottom of its range. Only a move up stops it: the view
    // also moves down by itself, to keep what it shows in place while lines
    // above are laid out.
    adjustment->signal_value_changed().connect([context, &view, buffer, a = adjustment.get()] {
        const double value = a->get_value();
        const bool moved_up = value < context->last_value - 8.0;  // more than half a line
        context->last_value = value;
        Gdk::Rectangle visible;
        view.get_visible_rect(visible);
        if (last_line(view).get_y() < visible.get_y() + visible.get_height() ||
            value >= a->get_upper() - a->get_page_size() - 8.0)
            context->following = true;
        else if (moved_up && context->following) {
            context->following = false;
            // A scroll to the end asked for just before must not take the
            // reader back: it is replaced by one to a line already in view.
            Gtk::TextIter middle;
            int top = 0;
            view.get_line_at_y(middle, visible.get_y() + visible.get_height() / 2, top);
            buffer->move_mark(context->reading_mark, middle);
            view.scroll_to(context->reading_mark, 0.0);
        }
    });
}

namespace {

// The buffer takes UTF-8 without NUL bytes; a NUL in a child's output line is
// shown as U+FFFD instead of losing the whole line.
void append_clean(std::string& out, std::string_view text) {
    std::size_t from = 0;
    for (std::size_t nul; (nul = text.find('\0', from)) != std::string_view::npos; from = nul + 1)
        out.append(text.substr(from, nul - from)).append("\xEF\xBF\xBD");
    out.append(text.substr(from));
}

void flush_batch(LogContext& context) {
    if (context.batch.empty()) return;
    auto buffer = context.widgets->log_view->get_buffer();
    buffer->insert(buffer->end(), context.batch.data(),
                   context.batch.data() + context.batch.size());
    context.batch.clear();
}

}  // namespace

void append_log(const AppWidgets& widgets, std::string_view text) {
    std::string clean;
    if (text.find('\0') != std::string_view::npos) {
        append_clean(clean, text);
        text = clean;
    }
    auto buffer = widgets.log_view->get_buffer();
    buffer->insert(buffer->end(), text.data(), text.data() + text.size());
}

void end_log_dispatch(LogContext& context) {
    flush_batch(context);
}

void handle_ui_message(UiMessage&& message, LogContext& context) {
    const AppWidgets& w = *context.widgets;
    if (auto* line = std::get_if<Line>(&message)) {
        append_clean(context.batch, line->text);
        context.batch.push_back('\n');
        if (context.batch.size() >= log_batch_limit) flush_batch(context);
        return;
    }
    // Whatever else a message writes comes after the lines before it.
    flush_batch(context);
    if (auto* done = std::get_if<Done>(&message)) {
        leave_busy_state(w, done->success                           ? TaskOutcome::Succeeded
                            : done->cancelled                       ? TaskOutcome::Cancelled
                            : done->kind == TaskResult::NoPkexec    ? TaskOutcome::NoPkexec
                            : done->kind == TaskResult::NoAuthority ? TaskOutcome::NoPolkitd
                                                                    : TaskOutcome::Failed);
        append_log(w, std::string(done->success ? success_banner : failure_banner) + "\n");
        lay_out_log_end(context);
        if (done->success && done->restart_needed) {
            w.graphics.restart_pending = true;
            w.graphics.open_driver_pending = false;
            w.graphics.nouveau_blocked.clear();
            show_graphics_state(w, load_lang());
        }
        refresh_status(w);
        // What a task changed shows on This Computer too.
        if (w.machine.asked && w.read_machine) w.read_machine();
        // What a task changed (SANE set up, a driver, a group) shows in the list.
        if (w.scanners.asked && w.search_scanners) {
            const auto last_add = w.scanners.last_add;
            w.search_scanners();
            w.scanners.last_add = last_add;
            show_scanner_state(w, load_lang());
        }
    } else if (auto* step = std::get_if<StepStarted>(&message)) {
        // A late report after the task ended must not look like a running step.
        if (w.spinner->get_spinning()) show_step(w, std::move(step->step));
    } else if (std::holds_alternative<RefreshStatus>(message)) {
        refresh_status(w);
    } else if (auto* noted = std::get_if<QueueNoted>(&message)) {
        w.network.queue_note = std::move(noted->note);
        show_printer_state(w, load_lang());
    } else if (auto* open = std::get_if<OpenDriverChecked>(&message)) {
        w.graphics.open_driver_pending = open->done;
        w.graphics.restart_pending = false;
        w.graphics.nouveau_blocked = std::move(open->blocking);
        show_graphics_state(w, load_lang());
    } else if (auto* graphics = std::get_if<GraphicsDetected>(&message)) {
        apply_graphics_hardware(w, std::move(graphics->hardware));
    } else if (auto* drivers = std::get_if<InstalledDrivers>(&message)) {
        apply_installed_drivers(w, std::move(drivers->drivers));
    } else if (auto* queues = std::get_if<QueuesListed>(&message)) {
        w.network.queues = std::move(queues->queues);
        show_printer_state(w, load_lang());
    } else if (auto* listed = std::get_if<ScannersListed>(&message)) {
        w.scanners.searching = false;
        w.scanners.listing = std::move(listed->listing);
        w.scanners.listed_at = std::chrono::steady_clock::now();
        w.scanners.fixes = std::move(listed->fixes);
        show_scanner_state(w, load_lang());
    } else if (auto* scanned = std::get_if<TestScanDone>(&message)) {
        w.scanners.scanning.clear();
        w.scanners.results[scanned->name] = {scanned->file, scanned->failure};
        show_scanner_state(w, load_lang());
        // A name that moved is found again under its new one.
        if (scanned->failure == ScanFailure::NameMoved && w.search_scanners) w.search_scanners();
    } else if (auto* added = std::get_if<ScannerAddressAdded>(&message)) {
        w.scanners.last_add = added->result;
        show_scanner_state(w, load_lang());
    } else if (auto* surveyed = std::get_if<MachineSurveyed>(&message)) {
        w.machine.reading = false;
        w.machine.survey = std::move(surveyed->survey);
        // A lookup that ended meanwhile wins over the older list.
        if (surveyed->lookups == w.machine.lookups)
            w.machine.firmware = std::move(surveyed->firmware);
        show_machine_state(w, load_lang());
        if (std::exchange(w.machine.read_again, false) && w.read_machine) w.read_machine();
    } else if (auto* firmware = std::get_if<FirmwareFound>(&message)) {
        w.machine.firmware = std::move(firmware->files);
        ++w.machine.lookups;
        show_machine_state(w, load_lang());
    } else if (std::holds_alternative<MicrocodeInstalled>(message)) {
        w.machine.microcode_restart = true;
        show_machine_state(w, load_lang());
    } else if (auto* usb = std::get_if<UsbPrintersListed>(&message)) {
        w.network.usb = std::move(usb->rows);
        show_printer_state(w, load_lang());
    } else if (auto* added = std::get_if<PrinterAdded>(&message)) {
        w.network.last_add = std::move(*added);
        show_printer_state(w, load_lang());
    } else if (auto* scan = std::get_if<ScanResults>(&message)) {
        leave_busy_state(w, TaskOutcome::SearchFinished);
        append_log(w, scan_result_block(scan->entries));
        lay_out_log_end(context);
        w.network.searched = true;
        w.network.printers = std::move(scan->printers);
        w.network.scanners = std::move(scan->scanners);
        w.network.last_add.reset();
        w.network.reveal_search = true;
        show_printer_state(w, load_lang());
        if (!context.log_expander->get_expanded()) context.log_expander->set_expanded(true);
    }
}

}  // namespace kelmora
