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

}  // namespace

void show_printer_state(const AppWidgets& w, Lang lang) {
    const PrinterPageState& state = w.network;
    while (Gtk::Widget* child = w.found_list->get_first_child()) w.found_list->remove(*child);
    for (const FoundPrinter& printer : state.printers)
        w.found_list->append(*printer_row(w, printer, lang));
    w.found_list->set_visible(!state.printers.empty());

    std::string note;
    if (state.last_add)
        note = add_result_text(*state.last_add, lang);
    else if (state.searched && state.printers.empty())
        note = text(lang, "net_none");
    set_line(w.net_note, note);

    std::string queues;
    if (state.queues) {
        for (const PrintQueue& queue : *state.queues)
            queues += (queues.empty() ? "" : ", ") + plain_display_text(queue.name);
        queues = text(lang, "net_queues") + (queues.empty() ? text(lang, "net_no_queues") : queues);
    }
    set_line(w.net_queues, queues);

    std::string scanners;
    for (const FoundScanner& scanner : state.scanners)
        scanners += (scanners.empty() ? "" : ", ") + scanner.name +
                    (scanner.protocol.empty() ? "" : " (" + scanner.protocol + ")");
    set_line(w.net_scanners, scanners.empty() ? "" : text(lang, "net_scanners") + scanners);

    // The page scrolls only for what the network adds: it is at least as tall
    // as it is without the section, which shows once there is anything to say.
    w.net_frame->set_visible(false);
    // Measured at the window's width, where the descriptions wrap.
    int width = w.window->get_width(), unused = 0;
    if (width <= 0) w.window->get_default_size(width, unused);
    int minimum = 0, natural = 0, baseline_min = 0, baseline_nat = 0;
    w.printer_box->measure(Gtk::Orientation::VERTICAL, width, minimum, natural, baseline_min,
                           baseline_nat);
    w.printer_scroll->set_min_content_height(natural);
    w.net_frame->set_visible(state.searched || state.queues.has_value());
}

}  // namespace kelmora
