#include "ui/printer_page.h"

#include "i18n/catalogue.h"

namespace kelmora {
namespace {

std::string text(Lang lang, std::string_view key) {
    return std::string(get_text(lang, key));
}

std::string add_result_text(const PrinterAdded& added, Lang lang) {
    switch (added.result) {
        case AddResult::Added:
            return added.queue + text(lang, "add_ok");
        case AddResult::NoServer:
            return text(lang, "add_no_server");
        case AddResult::NoDescription:
            return text(lang, "add_no_ppd");
        case AddResult::Unresolved:
            return text(lang, "add_unresolved");
        case AddResult::NoAnswer:
            return text(lang, "add_no_answer");
        case AddResult::NoAnswerKept:
            return text(lang, "add_kept");
        case AddResult::Cancelled:
            return text(lang, "outcome_cancel");
        case AddResult::QueuesUnknown:
            return text(lang, "add_no_list");
        case AddResult::NotFound:
            return text(lang, "add_not_found");
        case AddResult::NotEverywhere:
            return text(lang, "add_not_ipp_ev");
        case AddResult::NoUsbDevice:
            return text(lang, "add_no_usb");
        case AddResult::NoDriver:
            return text(lang, "add_no_driver");
        case AddResult::NoIppUsb:
            return text(lang, "add_no_ipp_usb");
        case AddResult::Failed:
            break;
    }
    return text(lang, "add_failed");
}

Gtk::Widget* printer_row(const AppWidgets& w, const FoundPrinter& printer, Lang lang) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    // Plain text only: the names come from the network.
    auto* name = Gtk::make_managed<Gtk::Label>();
    name->set_use_markup(false);
    name->set_text(printer.name);
    name->set_xalign(0);
    name->set_hexpand(true);
    name->set_ellipsize(Pango::EllipsizeMode::END);
    auto* address = Gtk::make_managed<Gtk::Label>();
    address->set_use_markup(false);
    // As a person reads it: "ipp://Brother HL…", not "ipp://Brother%20HL…".
    address->set_text(printer.host.empty() ? plain_display_text(percent_decode(printer.uri), 200)
                                           : printer.host);
    address->set_tooltip_text(printer.uri);
    address->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
    address->set_max_width_chars(28);
    address->add_css_class("dim-label");
    row->append(*name);
    row->append(*address);
    if (w.network.queues && has_queue(printer, *w.network.queues)) {
        auto* added = Gtk::make_managed<Gtk::Label>(text(lang, "net_added"));
        row->append(*added);
    } else {
        auto* add = Gtk::make_managed<Gtk::Button>(text(lang, "net_add"));
        add->signal_clicked().connect([&w, printer] {
            if (w.add_printer) w.add_printer(printer);
        });
        row->append(*add);
    }
    return row;
}

std::string address_problem_text(AddressProblem problem, Lang lang) {
    switch (problem) {
        case AddressProblem::Empty:
            return text(lang, "addr_empty");
        case AddressProblem::TooLong:
            return text(lang, "addr_long");
        case AddressProblem::Unsafe:
            return text(lang, "addr_unsafe");
        case AddressProblem::OtherScheme:
            return text(lang, "addr_scheme");
        case AddressProblem::BadHost:
            return text(lang, "addr_host");
        case AddressProblem::BadPort:
            return text(lang, "addr_port");
        case AddressProblem::None:
            break;
    }
    return {};
}

std::string queue_note_text(const QueueNote& note, Lang lang) {
    const std::string name = plain_display_text(note.queue);
    using Kind = QueueNote::Kind;
    switch (note.kind) {
        case Kind::TestSent:
            return format_text(lang, "q_test_sent", {{"name", name}, {"job", note.job}});
        case Kind::TestCompleted:
            return format_text(lang, "q_test_done", {{"name", name}, {"job", note.job}});
        case Kind::TestStopped:
            return format_text(
                lang, "q_test_stopped",
                {{"name", name},
                 {"reason", note.reason.empty() ? text(lang, "q_stopped") : note.reason}});
        case Kind::TestWaiting:
            return format_text(lang, "q_test_waiting", {{"name", name}, {"job", note.job}});
        case Kind::NoTestPage:
            return text(lang, "q_no_test_page");
        case Kind::TestRefused:
            break;
    }
    return format_text(lang, "q_test_refused", {{"name", name}});
}

// What the row says about the queue: its state (with CUPS's reason when it
// stopped), and "Default".
// A setting's value in words a person reads; a value whose words another
// value of the same setting shares also names itself ("Colour (CMYK)").
std::string setting_value_text(const QueueSetting& setting, const std::string& value, Lang lang) {
    const ValueMeaning meaning = value_meaning(setting.kind, value);
    std::string_view key;
    switch (meaning) {
        case ValueMeaning::A4:
            key = "val_a4";
            break;
        case ValueMeaning::Letter:
            key = "val_letter";
            break;
        case ValueMeaning::Off:
            key = "val_off";
            break;
        case ValueMeaning::LongEdge:
            key = "val_long";
            break;
        case ValueMeaning::ShortEdge:
            key = "val_short";
            break;
        case ValueMeaning::Colour:
            key = "val_colour";
            break;
        case ValueMeaning::Grey:
            key = "val_grey";
            break;
        case ValueMeaning::Other:
            return plain_display_text(value);
    }
    const bool shared =
        std::count_if(setting.values.begin(), setting.values.end(), [&](const std::string& v) {
            return value_meaning(setting.kind, v) == meaning;
        }) > 1;
    return text(lang, key) + (shared ? " (" + plain_display_text(value) + ")" : "");
}

std::string queue_state_text(const PrintQueue& queue, Lang lang) {
    std::string state;
    switch (queue.state) {
        case QueueState::Idle:
            state = text(lang, "q_idle");
            break;
        case QueueState::Printing:
            state = text(lang, "q_printing");
            break;
        case QueueState::Stopped:
            state = text(lang, "q_stopped") + (queue.reason.empty() ? "" : ": " + queue.reason);
            break;
        case QueueState::Unknown:
            break;
    }
    const auto add = [&state](const std::string& part) {
        state += (state.empty() ? "" : " · ") + part;
    };
    if (!queue.accepting) add(text(lang, "q_rejecting"));
    if (queue.pending_jobs > 0)
        add(format_text(lang, "q_jobs", {{"n", std::to_string(queue.pending_jobs)}}));
    if (queue.is_default) add(text(lang, "q_default"));
    for (const QueueSetting& setting : queue.settings)
        if (setting.kind == SettingKind::Paper && !setting.current.empty())
            add(setting_value_text(setting, setting.current, lang));
    return state;
}

void name_accessible(Gtk::Widget& widget, const std::string& name) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   name.c_str(), -1);
}

// A button that asks before it acts: both captions in a stack, so that asking
// changes neither its size nor its neighbours' places. The question is cut
// rather than widening the row.
Gtk::Button* asking_button(const std::string& caption, const std::string& question, bool asking) {
    auto* b = Gtk::make_managed<Gtk::Button>();
    auto* captions = Gtk::make_managed<Gtk::Stack>();
    captions->set_hhomogeneous(true);
    captions->set_vhomogeneous(true);
    auto* plain = Gtk::make_managed<Gtk::Label>(caption);
    auto* ask = Gtk::make_managed<Gtk::Label>(question);
    ask->set_ellipsize(Pango::EllipsizeMode::END);
    ask->set_max_width_chars(static_cast<int>(std::max<std::size_t>(caption.size(), 12)));
    captions->add(*plain);
    captions->add(*ask);
    captions->set_visible_child(asking ? static_cast<Gtk::Widget&>(*ask) : *plain);
    b->set_child(*captions);
    name_accessible(*b, asking ? question : caption);
    if (asking) b->add_css_class("destructive-action");
    return b;
}

// One bar per supply the printer reports with a level, named for screen
// readers ("Black Toner: 63%").
Gtk::Widget* supply_bars(const std::vector<Supply>& supplies, Lang lang) {
    auto* bars = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    for (const Supply& supply : supplies) {
        if (supply.level < 0) continue;
        const std::string name = format_text(
            lang, "supply_level", {{"name", supply.name}, {"n", std::to_string(supply.level)}});
        auto* line = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
        auto* label = Gtk::make_managed<Gtk::Label>();
        label->set_use_markup(false);
        label->set_text(name);
        label->set_xalign(0);
        label->set_width_chars(22);
        label->set_ellipsize(Pango::EllipsizeMode::END);
        label->add_css_class("dim-label");
        auto* bar = Gtk::make_managed<Gtk::LevelBar>();
        bar->set_min_value(0);
        bar->set_max_value(100);
        bar->set_value(supply.level);
        bar->set_hexpand(true);
        bar->set_valign(Gtk::Align::CENTER);
        name_accessible(*bar, name);
        line->append(*label);
        line->append(*bar);
        bars->append(*line);
    }
    bars->set_visible(bars->get_first_child() != nullptr);
    return bars;
}

// A queue's paper size, two-sided printing and colour, each a drop-down of
// the values its PPD offers with the current default chosen; a change runs
// one helper request.
Gtk::Box* settings_box(const AppWidgets& w, const PrintQueue& queue, Lang lang) {
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    box->set_margin_start(12);
    for (const QueueSetting& setting : queue.settings) {
        auto* line = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
        const std::string caption =
            text(lang, setting.kind == SettingKind::Paper    ? "set_paper"
                       : setting.kind == SettingKind::Duplex ? "set_duplex"
                                                             : "set_colour");
        auto* label = Gtk::make_managed<Gtk::Label>(caption);
        label->set_xalign(0);
        label->set_hexpand(true);
        std::vector<Glib::ustring> words;
        guint current = GTK_INVALID_LIST_POSITION;
        for (const std::string& value : setting.values) {
            if (value == setting.current) current = static_cast<guint>(words.size());
            words.push_back(setting_value_text(setting, value, lang));
        }
        auto* choice = Gtk::make_managed<Gtk::DropDown>(words);
        choice->set_selected(current);
        name_accessible(*choice, caption);
        choice->property_selected().signal_changed().connect(
            [&w, choice, queue = queue.name, setting] {
                const guint at = choice->get_selected();
                if (at >= setting.values.size() || setting.values[at] == setting.current) return;
                if (w.queue_setting) w.queue_setting(queue, setting.key, setting.values[at]);
            });
        line->append(*label);
        line->append(*choice);
        box->append(*line);
    }
    return box;
}

// lpstat's size in bytes, as a person reads it.
std::string size_text(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > 15 ||
        !std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return plain_display_text(bytes);
    const unsigned long long n = std::stoull(bytes);
    if (n < 1024) return bytes + " B";
    if (n < 1024 * 1024) return std::to_string((n + 512) / 1024) + " kB";
    return std::to_string((n + 512 * 1024) / (1024 * 1024)) + " MB";
}

// One job the queue holds, with a Cancel of its own.
Gtk::Widget* job_row(const AppWidgets& w, const QueueJob& job, Lang lang) {
    auto* line = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    line->set_margin_start(12);
    auto* label = Gtk::make_managed<Gtk::Label>();
    label->set_use_markup(false);
    label->set_text(format_text(lang, "q_job_line",
                                {{"id", plain_display_text(job.id.substr(job.id.rfind('-') + 1))},
                                 {"owner", job.owner},
                                 {"size", size_text(job.size)},
                                 {"when", job.when}}));
    label->set_xalign(0);
    label->set_hexpand(true);
    label->set_ellipsize(Pango::EllipsizeMode::END);
    label->add_css_class("dim-label");
    auto* cancel = Gtk::make_managed<Gtk::Button>(text(lang, "q_job_cancel_btn"));
    name_accessible(*cancel, text(lang, "q_job_cancel_btn") + " " + job.id);
    cancel->signal_clicked().connect([&w, job] {
        if (w.cancel_job) w.cancel_job(job);
    });
    line->append(*label);
    line->append(*cancel);
    return line;
}

Gtk::Widget* queue_row(const AppWidgets& w, const PrintQueue& queue, Lang lang) {
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
    texts->set_hexpand(true);
    // Plain text only: queue names and addresses may come from the network.
    const auto label = [&](const std::string& content, bool dim) {
        auto* l = Gtk::make_managed<Gtk::Label>();
        l->set_use_markup(false);
        l->set_text(content);
        l->set_xalign(0);
        l->set_ellipsize(Pango::EllipsizeMode::END);
        if (dim) l->add_css_class("dim-label");
        texts->append(*l);
        return l;
    };
    const std::string state = queue_state_text(queue, lang);
    const std::string title = plain_display_text(queue.name) + (state.empty() ? "" : " — " + state);
    label(title, false)->set_tooltip_text(title);  // a long reason is cut in the row
    label(plain_display_text(percent_decode(queue.uri), 200), true)->set_tooltip_text(queue.uri);
    row->append(*texts);
    const auto connect = [&](Gtk::Button* b, QueueAction action, Gtk::Box* into) {
        b->set_valign(Gtk::Align::CENTER);
        b->signal_clicked().connect([&w, action, name = queue.name] {
            if (w.queue_action) w.queue_action(action, name);
        });
        into->append(*b);
        return b;
    };
    const auto add_button = [&](const std::string& caption, QueueAction action) {
        return connect(Gtk::make_managed<Gtk::Button>(caption), action, row);
    };
    add_button(text(lang, "q_test_btn"), QueueAction::TestPage);
    if (!queue.is_default) add_button(text(lang, "q_default_btn"), QueueAction::MakeDefault);
    const std::string name = plain_display_text(queue.name);
    connect(asking_button(text(lang, "q_remove_btn"),
                          format_text(lang, "q_remove_ask", {{"name", name}}),
                          w.network.confirming_remove == queue.name),
            QueueAction::Remove, row);
    column->append(*row);
    // What gets a stopped printer going again, under the row.
    auto* mend = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    mend->set_halign(Gtk::Align::END);
    if (queue.state == QueueState::Stopped || !queue.accepting)
        connect(Gtk::make_managed<Gtk::Button>(text(lang, "q_resume_btn")), QueueAction::Resume,
                mend)
            ->add_css_class("suggested-action");
    if (queue.pending_jobs > 0)
        connect(asking_button(text(lang, "q_cancel_btn"), text(lang, "q_cancel_ask"),
                              w.network.confirming_cancel == queue.name),
                QueueAction::CancelJobs, mend);
    if (mend->get_first_child() != nullptr) column->append(*mend);
    column->append(*supply_bars(queue.supplies, lang));
    if (!queue.settings.empty()) {
        // The row stays one line tall until its settings are opened; the
        // button is an icon, so the row keeps its width in every language.
        auto* toggle = Gtk::make_managed<Gtk::ToggleButton>();
        toggle->set_icon_name("emblem-system-symbolic");
        toggle->set_tooltip_text(text(lang, "q_settings_btn"));
        toggle->set_valign(Gtk::Align::CENTER);
        toggle->set_active(w.network.settings_open.contains(queue.name));
        name_accessible(*toggle, text(lang, "q_settings_btn"));
        row->insert_child_after(*toggle, *texts);
        auto* settings = settings_box(w, queue, lang);
        settings->set_visible(toggle->get_active());
        column->append(*settings);
        toggle->signal_toggled().connect([&w, toggle, settings, name = queue.name] {
            settings->set_visible(toggle->get_active());
            if (toggle->get_active())
                w.network.settings_open.insert(name);
            else
                w.network.settings_open.erase(name);
        });
    }
    for (const QueueJob& job : queue.jobs) column->append(*job_row(w, job, lang));
    return column;
}

// What drives a USB printer, for the line under its name.
std::string usb_detail_text(const UsbPrinterRow& row, Lang lang) {
    if (row.printer.ipp_usb) return text(lang, "usb_ipp");
    if (row.driver) return format_text(lang, "usb_driver", {{"driver", row.driver->description}});
    if (!row.cups_answered) return text(lang, "usb_no_cups");
    if (row.package)
        return format_text(lang, row.package->restricted ? "usb_restricted" : "usb_package",
                           {{"package", row.package->name}});
    return text(lang, "usb_no_driver");
}

Gtk::Widget* usb_row(const AppWidgets& w, const UsbPrinterRow& usb, Lang lang) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
    texts->set_hexpand(true);
    // Plain text only: a device chooses its own strings.
    for (const std::string& content : {usb.printer.name, usb_detail_text(usb, lang)}) {
        auto* l = Gtk::make_managed<Gtk::Label>();
        l->set_use_markup(false);
        l->set_text(content);
        l->set_xalign(0);
        l->set_ellipsize(Pango::EllipsizeMode::END);
        l->set_tooltip_text(content);
        if (texts->get_first_child() != nullptr) l->add_css_class("dim-label");
        texts->append(*l);
    }
    row->append(*texts);
    const auto action_button = [&](const std::string& caption, UsbAction action) {
        auto* b = Gtk::make_managed<Gtk::Button>(caption);
        b->set_valign(Gtk::Align::CENTER);
        b->signal_clicked().connect([&w, action, usb] {
            if (w.usb_action) w.usb_action(action, usb);
        });
        row->append(*b);
    };
    if (w.network.queues && has_usb_queue(usb.printer, *w.network.queues)) {
        auto* added = Gtk::make_managed<Gtk::Label>(text(lang, "net_added"));
        row->append(*added);
    } else if (usb.printer.ipp_usb) {
        action_button(text(lang, "usb_ipp_btn"), UsbAction::SetUpIppUsb);
    } else if (usb.driver) {
        action_button(text(lang, "net_add"), UsbAction::Add);
    } else if (usb.package && !usb.package->restricted) {
        action_button(format_text(lang, "usb_install_btn", {{"package", usb.package->name}}),
                      UsbAction::InstallDriver);
    }
    return row;
}

}  // namespace

void show_printer_state(const AppWidgets& w, Lang lang) {
    const PrinterPageState& state = w.network;
    while (Gtk::Widget* child = w.usb_list->get_first_child()) w.usb_list->remove(*child);
    if (state.usb)
        for (const UsbPrinterRow& row : *state.usb) w.usb_list->append(*usb_row(w, row, lang));
    w.usb_list->set_visible(w.usb_list->get_first_child() != nullptr);
    while (Gtk::Widget* child = w.found_list->get_first_child()) w.found_list->remove(*child);
    for (const FoundPrinter& printer : state.printers)
        w.found_list->append(*printer_row(w, printer, lang));
    w.found_list->set_visible(!state.printers.empty());

    std::string note;
    if (state.address_problem != AddressProblem::None)
        note = address_problem_text(state.address_problem, lang);
    else if (state.last_add)
        note = add_result_text(*state.last_add, lang);
    else if (state.searched && state.printers.empty())
        note = text(lang, "net_none");
    set_line(w.net_note, note);

    while (Gtk::Widget* child = w.queue_list->get_first_child()) w.queue_list->remove(*child);
    // "Print queues: none" until there are rows, which speak for themselves.
    std::string queues;
    if (state.queues) {
        if (state.queues->empty()) queues = text(lang, "net_queues") + text(lang, "net_no_queues");
        for (const PrintQueue& queue : *state.queues)
            w.queue_list->append(*queue_row(w, queue, lang));
    }
    w.queue_list->set_visible(state.queues && !state.queues->empty());
    set_line(w.net_queues, queues);
    set_line(w.queue_note, state.queue_note ? queue_note_text(*state.queue_note, lang) : "");

    // The page scrolls only for the printers: it is at least as tall as it
    // is without their sections.
    w.net_frame->set_visible(false);
    w.queues_frame->set_visible(false);
    // Measured at the window's width, where the descriptions wrap.
    int width = w.window->get_width(), unused = 0;
    if (width <= 0) w.window->get_default_size(width, unused);
    int minimum = 0, natural = 0, baseline_min = 0, baseline_nat = 0;
    w.printer_box->measure(Gtk::Orientation::VERTICAL, width, minimum, natural, baseline_min,
                           baseline_nat);
    w.printer_scroll->set_min_content_height(natural);
    w.net_frame->set_visible(true);
    w.queues_frame->set_visible(state.queues.has_value());
}

}  // namespace kelmora
