#include "ui/scanner_page.h"

#include "i18n/catalogue.h"

namespace kelmora {
namespace {

std::string text(Lang lang, std::string_view key) {
    return std::string(get_text(lang, key));
}

void name_accessible(Gtk::Widget& widget, const std::string& name) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   name.c_str(), -1);
}

Gtk::Widget* scanner_row(const AppWidgets& w, const Scanner& scanner, Lang lang) {
    const ScannerPageState& state = w.scanners;
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
    texts->set_hexpand(true);
    texts->append(*plain_label(scanner.name, false));
    texts->append(*plain_label(scanner.connection, true));
    row->append(*texts);
    const bool running = state.scanning == scanner.device;
    auto* test = Gtk::make_managed<Gtk::Button>(
        text(lang, running ? "scan_cancel_btn" : "scan_test_btn"));
    test->set_valign(Gtk::Align::CENTER);
    // One test scan at a time; the one that runs can be cancelled.
    test->set_sensitive(state.scanning.empty() || running);
    test->signal_clicked().connect([&w, scanner] {
        if (w.test_scan) w.test_scan(scanner);
    });
    row->append(*test);
    column->append(*row);
    const auto result = state.results.find(scanner.name);
    if (running) {
        column->append(*plain_label(text(lang, "scan_running"), true));
    } else if (result != state.results.end()) {
        const auto& [file, failure] = result->second;
        if (failure == ScanFailure::None) {
            auto* picture = Gtk::make_managed<Gtk::Picture>();
            picture->set_filename(file);
            picture->set_content_fit(Gtk::ContentFit::CONTAIN);
            picture->set_size_request(160, 160);
            picture->set_halign(Gtk::Align::START);
            name_accessible(*picture, format_text(lang, "scan_pic_name", {{"name", scanner.name}}));
            column->append(*picture);
        } else {
            auto* line = plain_label(scan_failure_text(failure, lang), false);
            line->add_css_class("kelmora-warning");
            column->append(*line);
        }
    }
    return column;
}

Gtk::Widget* fix_row(const AppWidgets& w, const ScannerFix& fix, Lang lang) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    std::string what, caption;
    using Kind = ScannerFix::Kind;
    switch (fix.kind) {
        case Kind::Install:
            what = format_text(lang, "fix_install", {{"name", fix.subject}, {"package", fix.package}});
            caption = format_text(lang, "usb_install_btn", {{"package", fix.package}});
            break;
        case Kind::EnableHpaio:
            what = format_text(lang, "fix_hpaio", {{"name", fix.subject}});
            caption = text(lang, "fix_hpaio_btn");
            break;
        case Kind::JoinGroup:
            what = format_text(lang, "fix_group", {{"group", fix.subject}});
            caption = text(lang, "fix_group_btn");
            break;
        case Kind::LogInAgain:
            what = text(lang, "fix_login");
            break;
        case Kind::BrotherNetwork:
            what = format_text(lang, "fix_brother", {{"name", fix.subject}});
            break;
    }
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    texts->set_hexpand(true);
    auto* line = plain_label(what, false);
    line->add_css_class("kelmora-warning");
    texts->append(*line);
    if (!fix.command.empty()) {
        auto* command = plain_label(fix.command, false);
        command->set_selectable(true);
        command->add_css_class("monospace");
        texts->append(*command);
    }
    row->append(*texts);
    if (!caption.empty()) {
        auto* b = Gtk::make_managed<Gtk::Button>(caption);
        b->set_valign(Gtk::Align::CENTER);
        b->signal_clicked().connect([&w, fix] {
            if (w.apply_fix) w.apply_fix(fix);
        });
        row->append(*b);
    }
    return row;
}

}  // namespace

std::string scan_failure_text(ScanFailure failure, Lang lang) {
    switch (failure) {
        case ScanFailure::NoAnswer:
            return text(lang, "scan_fail_answer");
        case ScanFailure::NameMoved:
            return text(lang, "scan_fail_moved");
        case ScanFailure::Denied:
            return text(lang, "scan_fail_denied");
        case ScanFailure::Busy:
            return text(lang, "scan_fail_busy");
        case ScanFailure::FeederEmpty:
            return text(lang, "scan_fail_feeder");
        case ScanFailure::Cancelled:
            return text(lang, "scan_fail_cancel");
        case ScanFailure::NotInstalled:
            return text(lang, "scan_no_sane");
        case ScanFailure::None:
        case ScanFailure::Failed:
            break;
    }
    return text(lang, "scan_fail_other");
}

void show_scanner_state(const AppWidgets& w, Lang lang) {
    const ScannerPageState& state = w.scanners;
    while (Gtk::Widget* child = w.scanner_list->get_first_child()) w.scanner_list->remove(*child);
    const std::vector<Scanner> none;
    const std::vector<Scanner>& scanners = state.listing ? state.listing->scanners : none;
    for (const Scanner& scanner : scanners) w.scanner_list->append(*scanner_row(w, scanner, lang));
    w.scanner_list->set_visible(!scanners.empty());

    std::string note;
    if (state.address_problem != AddressProblem::None)
        note = text(lang, "scan_addr_bad");
    else if (state.last_add)
        note = text(lang, *state.last_add == ScannerAdded::Added      ? "scan_added"
                          : *state.last_add == ScannerAdded::NoAnswer ? "scan_add_none"
                          : *state.last_add == ScannerAdded::Cancelled ? "outcome_cancel"
                                                                      : "scan_add_failed");
    else if (state.searching)
        note = text(lang, "scan_searching");
    else if (state.listing && !state.listing->ran)
        note = text(lang, "scan_no_sane");
    else if (state.listing && scanners.empty())
        note = text(lang, "scan_none");
    set_line(w.scanner_note, note);
    set_line(w.scan_count,
             state.listing && state.listing->ran
                 ? format_text(lang, "scan_count", {{"n", std::to_string(scanners.size())}})
                 : std::string());

    while (Gtk::Widget* child = w.scanner_fixes->get_first_child()) w.scanner_fixes->remove(*child);
    for (const ScannerFix& fix : state.fixes) w.scanner_fixes->append(*fix_row(w, fix, lang));
    w.scanner_fixes->set_visible(!state.fixes.empty());
    // A scanner mDNS does not reach is added by its address.
    const bool network = std::any_of(scanners.begin(), scanners.end(),
                                     [](const Scanner& s) { return s.network; });
    w.scanner_by_address->set_visible(state.listing && state.listing->ran && !network);
    w.btn_search_scanners->set_sensitive(!state.searching);
}

}  // namespace kelmora
