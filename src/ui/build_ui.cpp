#include "ui/build_ui.h"

#include "process/process.h"
#include "services/service_setup.h"
#include "ui/actions.h"
#include "ui/auth_agent.h"
#include "ui/busy_state.h"
#include "ui/graphics_page.h"
#include "ui/log_receiver.h"
#include "ui/update_ui_text.h"

namespace kelmora {
namespace {

template <class W>
W* margins(W* widget, int n) {
    widget->set_margin_start(n);
    widget->set_margin_end(n);
    widget->set_margin_top(n);
    widget->set_margin_bottom(n);
    return widget;
}

Gtk::Box* box(Gtk::Orientation orientation, int spacing) {
    return Gtk::make_managed<Gtk::Box>(orientation, spacing);
}

// A section: a frame whose child is a box with margins 8.
Gtk::Box* section(Gtk::Box* page, Gtk::Frame*& frame, const char* label,
                  Gtk::Orientation orientation, int spacing) {
    frame = Gtk::make_managed<Gtk::Frame>(label);
    Gtk::Box* inner = margins(box(orientation, spacing), 8);
    frame->set_child(*inner);
    page->append(*frame);
    return inner;
}

Gtk::Image* icon(const char* name) {
    auto* image = Gtk::make_managed<Gtk::Image>();
    image->set_from_icon_name(name);
    image->set_icon_size(Gtk::IconSize::LARGE);
    return image;
}

// Spacing and margins are kept small enough that the tallest page, with the
// log open, fits a 768-pixel laptop screen in every language.
Gtk::Box* page_box() {
    Gtk::Box* page = box(Gtk::Orientation::VERTICAL, 8);
    page->set_margin_top(0);
    page->set_margin_bottom(10);
    page->set_margin_start(15);
    page->set_margin_end(15);
    return page;
}

// The text beside an icon and a button: it takes the row's width and wraps
// at words onto a second line there, so a long translation neither widens the
// window nor breaks early. Two lines fit the button's height. (A wrapping
// label would do, but GTK 4.8 then measures the row by its baselines taller
// at a large width than at its minimum one, and warns.)
Gtk::Inscription* description_label() {
    auto* text = Gtk::make_managed<Gtk::Inscription>();
    text->set_hexpand(true);
    text->set_xalign(0);
    text->set_yalign(0.5);
    text->set_min_lines(2);
    text->set_nat_lines(2);
    text->set_wrap_mode(Pango::WrapMode::WORD);
    return text;
}

// The window's own styles: GTK 4.8's default theme gives a label with the
// "warning" class no colour, and draws no focus ring in a text view. Its
// spinner turns a little every frame, and without a GPU every frame redraws
// the whole window (about 8 ms of a 2-core machine's CPU per frame, half a
// core while a task runs): turning in twelve steps a second still reads as
// busy and redraws a fifth as often.
void add_style(const Glib::RefPtr<Gdk::Display>& display) {
    static bool added = false;
    if (added || !display) return;
    added = true;
    auto provider = Gtk::CssProvider::create();
    provider->load_from_data(
        ".kelmora-warning { color: mix(@warning_color, @theme_fg_color, 0.35); }\n"
        "textview.kelmora-log:focus-within { outline: 2px solid @theme_selected_bg_color;"
        " outline-offset: -2px; }\n"
        "spinner:checked { animation-timing-function: steps(12); }\n"
        // The theme makes every tab at least 100 px wide: four tabs and the
        // language would not fit a laptop screen. Each takes its title's width.
        "stackswitcher > button { min-width: 48px; }\n");
    Gtk::StyleContext::add_provider_for_display(display, provider,
                                                GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

// Ctrl+Q closes every window (a running task keeps the process until it
// ends, as when the windows are closed by hand); Ctrl+W closes this one.
void add_shortcuts(const Glib::RefPtr<Gtk::Application>& app, Gtk::ApplicationWindow& window) {
    if (!app->has_action("quit")) {
        app->add_action("quit", [weak = std::weak_ptr<Gtk::Application>(app)] {
            if (const auto a = weak.lock())
                for (Gtk::Window* w : a->get_windows()) w->close();
        });
        app->set_accel_for_action("app.quit", "<Control>q");
        app->set_accel_for_action("win.close", "<Control>w");
    }
    window.add_action("close", [&window] { window.close(); });
}

// Description above status line, as used by both service sections.
Gtk::Box* service_column(Gtk::Label*& description, Gtk::Label*& status) {
    Gtk::Box* column = box(Gtk::Orientation::VERTICAL, 5);
    column->set_hexpand(true);
    description = Gtk::make_managed<Gtk::Label>();
    description->set_xalign(0);
    description->set_wrap(true);
    status = Gtk::make_managed<Gtk::Label>();
    status->set_halign(Gtk::Align::START);
    column->append(*description);
    column->append(*status);
    return column;
}

Gtk::Button* button(const char* label, const char* css_class) {
    auto* b = Gtk::make_managed<Gtk::Button>();
    if (label != nullptr) b->set_label(label);
    if (css_class != nullptr) b->add_css_class(css_class);
    return b;
}

Gtk::Box* check_column(Gtk::Box* column, std::initializer_list<Gtk::CheckButton**> checks) {
    for (Gtk::CheckButton** check : checks) {
        *check = Gtk::make_managed<Gtk::CheckButton>();
        column->append(**check);
    }
    return column;
}

void name_accessible(Gtk::Widget& widget, const char* name) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   name, -1);
}

// A combo box takes the keyboard focus with a toggle button inside it, which
// GTK 4.8 names after its type; both get the name.
template <class Name>
void name_combo(Gtk::ComboBoxText& combo, Name& name) {
    std::vector<Gtk::Widget*> parts = {&combo};
    for (std::size_t i = 0; i < parts.size(); ++i)
        for (Gtk::Widget* c = parts[i]->get_first_child(); c != nullptr; c = c->get_next_sibling())
            parts.push_back(c);
    for (Gtk::Widget* part : parts) {
        if (part != &combo && !GTK_IS_TOGGLE_BUTTON(part->gobj())) continue;
        if constexpr (std::is_same_v<Name, Gtk::Label>)
            gtk_accessible_update_relation(GTK_ACCESSIBLE(part->gobj()),
                                           GTK_ACCESSIBLE_RELATION_LABELLED_BY, name.gobj(),
                                           nullptr, -1);
        else
            name_accessible(*part, name);
    }
}

// What a task draws first, as it starts and its first output arrives, would
// be prepared in that very frame and stall the window for tens of
// milliseconds: the spinner's icon (only an SVG in the default theme, so its
// first draw loads the SVG image loader) and the glyphs of the log's font
// (rasterised into the renderer's glyph cache). Both are prepared once the
// window has drawn itself: the icon into the icon theme's cache that the
// spinner draws from (looked up as the theme's style looks it up), and the
// printable ASCII glyphs by rendering them once, off screen, with the window's
// renderer at the window's scale.
void prepare_first_task_frame(Gtk::Window& window, Gtk::Spinner& spinner, Gtk::TextView& log) {
    sigc::connection idle = Glib::signal_idle().connect(
        [&window, &spinner, &log] {
            const int icon_size = 16;
            Gtk::IconTheme::get_for_display(spinner.get_display())
                ->lookup_icon("process-working-symbolic", icon_size, spinner.get_scale_factor())
                ->snapshot(Gtk::Snapshot::create(), icon_size, icon_size);
            GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window.gobj()));
            if (renderer == nullptr) return false;
            std::string ascii;
            for (char c = ' '; c <= '~'; ++c) ascii += c;
            GtkSnapshot* snapshot = gtk_snapshot_new();
            const auto scale = static_cast<float>(window.get_scale_factor());
            gtk_snapshot_scale(snapshot, scale, scale);
            const GdkRGBA black{0, 0, 0, 1};
            gtk_snapshot_append_layout(snapshot, log.create_pango_layout(ascii)->gobj(), &black);
            if (GskRenderNode* node = gtk_snapshot_free_to_node(snapshot)) {
                if (GdkTexture* texture = gsk_renderer_render_texture(renderer, node, nullptr))
                    g_object_unref(texture);
                gsk_render_node_unref(node);
            }
            return false;
        },
        Glib::PRIORITY_LOW);
    // A window closed at once never runs it.
    window.signal_destroy().connect([idle]() mutable { idle.disconnect(); });
}

// GTK 4.8's expander keeps the keyboard focus once it has it (Tab moves it
// nowhere while collapsed). This focus handler gives the usual order: the
// expander's title, then, when expanded, what it shows. gtkmm 4.8 has no
// focus_vfunc to override, so it goes into the class of gtkmm's expanders.
gboolean log_expander_focus(GtkWidget* self, GtkDirectionType direction) {
    GtkRoot* root = gtk_widget_get_root(self);
    GtkWidget* focus = root != nullptr ? gtk_root_get_focus(root) : nullptr;
    GtkExpander* expander = GTK_EXPANDER(self);
    GtkWidget* child =
        gtk_expander_get_expanded(expander) ? gtk_expander_get_child(expander) : nullptr;
    const bool on_title = focus == self;
    const bool in_child = child != nullptr && focus != nullptr &&
                          (focus == child || gtk_widget_is_ancestor(focus, child));
    const bool forward =
        direction == GTK_DIR_TAB_FORWARD || direction == GTK_DIR_DOWN || direction == GTK_DIR_RIGHT;
    if (in_child) {
        if (gtk_widget_child_focus(child, direction)) return TRUE;
        return forward ? FALSE : gtk_widget_grab_focus(self);
    }
    if (forward) {
        if (!on_title) return gtk_widget_grab_focus(self);
        return child != nullptr && gtk_widget_child_focus(child, direction);
    }
    if (on_title) return FALSE;
    // Coming back from after the expander: its content first.
    if (child != nullptr && gtk_widget_child_focus(child, direction)) return TRUE;
    return gtk_widget_grab_focus(self);
}

}  // namespace

MainWindow build_ui(const Glib::RefPtr<Gtk::Application>& app, const std::filesystem::path& root) {
    auto w = std::make_shared<AppWidgets>();
    w->root = root;
    MainWindow result;

    // 1. The window and its widget tree.
    w->window = Gtk::make_managed<Gtk::ApplicationWindow>(app);  // deleted when destroyed
    w->window->set_title("Void Linux System Setup");
    w->window->set_default_size(680, 650);

    Gtk::Box* main_column = box(Gtk::Orientation::VERTICAL, 0);

    Gtk::Box* header = margins(box(Gtk::Orientation::HORIZONTAL, 10), 15);
    header->set_margin_top(10);
    header->set_margin_bottom(10);
    w->spinner = Gtk::make_managed<Gtk::Spinner>();
    w->spinner->set_valign(Gtk::Align::CENTER);
    w->stack = Gtk::make_managed<Gtk::Stack>();
    result.stack_switcher = Gtk::make_managed<Gtk::StackSwitcher>();
    result.stack_switcher->set_stack(*w->stack);
    result.stack_switcher->set_halign(Gtk::Align::CENTER);
    result.stack_switcher->set_hexpand(true);
    Gtk::Box* lang_box = box(Gtk::Orientation::HORIZONTAL, 5);
    lang_box->set_halign(Gtk::Align::END);
    lang_box->set_valign(Gtk::Align::CENTER);
    w->lang_label = Gtk::make_managed<Gtk::Label>("Language:");
    result.lang_combo = Gtk::make_managed<Gtk::ComboBoxText>();
    for (const char* name : {"English", "Deutsch", "Español", "Français"})
        result.lang_combo->append(name);
    lang_box->append(*w->lang_label);
    lang_box->append(*result.lang_combo);
    header->append(*result.stack_switcher);
    header->append(*lang_box);

    w->stack->set_transition_type(Gtk::StackTransitionType::SLIDE_LEFT_RIGHT);
    w->stack->set_transition_duration(250);
    w->gpu_box = page_box();
    w->printer_box = page_box();
    w->scanner_box = page_box();
    // The graphics page scrolls, as the printer page does, when the NVIDIA
    // section has much to say (every notice, Repair and the way back).
    w->gpu_scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    w->gpu_scroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    w->gpu_scroll->set_child(*w->gpu_box);
    w->stack->add(*w->gpu_scroll, "gpu", "Graphics");
    // The printer page scrolls when the network fills its list, so that the
    // window keeps its size.
    w->printer_scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    w->printer_scroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    w->printer_scroll->set_child(*w->printer_box);
    // After a search the list grows above the search button; once laid out,
    // the page scrolls so that the button (at its end) is in view again.
    w->printer_scroll->get_vadjustment()->signal_changed().connect(
        [w = w.get(), a = w->printer_scroll->get_vadjustment().get()] {
            if (w->network.reveal_search) a->set_value(a->get_upper() - a->get_page_size());
        });
    w->stack->set_vexpand(true);  // the pages take the window's height
    w->stack->add(*w->printer_scroll, "printer", "Printer");
    // The scanner page scrolls, as the printer page does, when it lists much.
    w->scanner_scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    w->scanner_scroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    w->scanner_scroll->set_child(*w->scanner_box);
    w->stack->add(*w->scanner_scroll, "scanner", "Scanner");
    // The rest of the machine, read when the page is first shown.
    w->machine_box = page_box();
    w->machine_scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    w->machine_scroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    w->machine_scroll->set_child(*w->machine_box);
    w->stack->add(*w->machine_scroll, "machine", "This Computer");

    // Graphics page: the cards of this machine, then one section per maker.
    Gtk::Box* machine = box(Gtk::Orientation::VERTICAL, 2);
    w->gpu_box->append(*machine);
    w->gpu_cards = Gtk::make_managed<Gtk::Label>();
    w->gpu_cards->set_wrap(true);
    w->gpu_cards->set_xalign(0);
    w->gpu_cards->set_visible(false);
    machine->append(*w->gpu_cards);
    w->gpu_status = Gtk::make_managed<Gtk::Label>();
    w->gpu_status->set_wrap(true);
    w->gpu_status->set_xalign(0);
    w->gpu_status->set_visible(false);
    machine->append(*w->gpu_status);

    Gtk::Box* nv_column =
        section(w->gpu_box, w->nv_frame, " NVIDIA GeForce", Gtk::Orientation::VERTICAL, 6);
    Gtk::Box* nv = box(Gtk::Orientation::HORIZONTAL, 10);
    w->combo_nvidia = Gtk::make_managed<Gtk::ComboBoxText>();
    w->combo_nvidia->set_hexpand(true);
    w->btn_nvidia = button("Install", "suggested-action");
    nv->append(*icon("video-display-symbolic"));
    nv->append(*w->combo_nvidia);
    nv->append(*w->btn_nvidia);
    nv_column->append(*nv);
    // Whether the choice fits the card, and what else stands in the way; the
    // kernels that the installed generation has no module for, with the
    // button that builds it, beside the notes (a row of its own would make
    // the page too tall for a laptop screen).
    Gtk::Box* nv_below = box(Gtk::Orientation::HORIZONTAL, 10);
    w->nv_notes = Gtk::make_managed<Gtk::Label>();
    w->nv_notes->set_xalign(0);
    w->nv_notes->set_wrap(true);
    w->nv_notes->add_css_class("warning");
    w->nv_notes->add_css_class("kelmora-warning");
    w->nv_notes->set_visible(false);
    Gtk::Box* nv_texts = box(Gtk::Orientation::VERTICAL, 0);
    nv_texts->set_hexpand(true);
    nv_texts->append(*w->nv_notes);
    w->nv_module = Gtk::make_managed<Gtk::Label>();
    w->nv_module->set_xalign(0);
    w->nv_module->set_wrap(true);
    w->nv_module->add_css_class("warning");
    w->nv_module->add_css_class("kelmora-warning");
    w->nv_module->set_visible(false);
    nv_texts->append(*w->nv_module);
    w->btn_nv_repair = button(nullptr, nullptr);
    w->btn_nv_repair->set_valign(Gtk::Align::CENTER);
    w->btn_nv_repair->set_visible(false);
    w->nv_warning_icon = Gtk::make_managed<Gtk::Image>();
    w->nv_warning_icon->set_from_icon_name("dialog-warning-symbolic");
    w->nv_warning_icon->add_css_class("kelmora-warning");
    w->nv_warning_icon->set_valign(Gtk::Align::START);
    w->nv_warning_icon->set_visible(false);
    nv_below->append(*w->nv_warning_icon);
    nv_below->append(*nv_texts);
    nv_below->append(*w->btn_nv_repair);
    // The way back to nouveau, beside Repair (beside Install it would widen
    // the window past a laptop's screen); shown while a generation is installed.
    w->btn_nv_open = button(nullptr, nullptr);
    w->btn_nv_open->set_valign(Gtk::Align::CENTER);
    w->btn_nv_open->set_visible(false);
    nv_below->append(*w->btn_nv_open);
    nv_column->append(*nv_below);
    // The drivers exist for x86_64 with glibc only.
    w->combo_nvidia->set_sensitive(multilib_system);
    w->btn_nvidia->set_sensitive(multilib_system);

    Gtk::Box* amd =
        section(w->gpu_box, w->amd_frame, " AMD Radeon", Gtk::Orientation::HORIZONTAL, 15);
    w->amd_label = description_label();
    w->btn_amd = button(nullptr, nullptr);
    amd->append(*icon("video-display-symbolic"));
    amd->append(*w->amd_label);
    amd->append(*w->btn_amd);

    Gtk::Box* intel =
        section(w->gpu_box, w->intel_frame, " Intel", Gtk::Orientation::HORIZONTAL, 15);
    w->intel_label = description_label();
    w->btn_intel = button(nullptr, nullptr);
    intel->append(*icon("video-display-symbolic"));
    intel->append(*w->intel_label);
    intel->append(*w->btn_intel);

    // Printer page.
    Gtk::Box* pr_srv = section(w->printer_box, w->pr_srv_frame, " 1. Print Services",
                               Gtk::Orientation::HORIZONTAL, 15);
    w->btn_setup_print = button(nullptr, "suggested-action");
    pr_srv->append(*icon("printer-symbolic"));
    pr_srv->append(*service_column(w->pr_srv_label, w->pr_srv_status));
    pr_srv->append(*w->btn_setup_print);

    Gtk::Box* pr_drv =
        section(w->printer_box, w->pr_drv_frame, " 2. Drivers", Gtk::Orientation::VERTICAL, 8);
    check_column(pr_drv, {&w->chk_hp, &w->chk_brother_pr, &w->chk_epson_pr, &w->chk_gutenprint});
    w->btn_install_print_drivers = button(nullptr, nullptr);
    w->btn_install_print_drivers->set_margin_top(10);
    pr_drv->append(*w->btn_install_print_drivers);

    const auto line = [](Gtk::Box* into, Gtk::Label*& label) {
        label = Gtk::make_managed<Gtk::Label>();
        label->set_xalign(0);
        label->set_wrap(true);
        label->set_use_markup(false);
        into->append(*label);
    };
    // The queues CUPS has, each with what can be done with it.
    Gtk::Box* yours =
        section(w->printer_box, w->queues_frame, " Your Printers", Gtk::Orientation::VERTICAL, 6);
    line(yours, w->net_queues);
    w->queue_list = box(Gtk::Orientation::VERTICAL, 8);
    yours->append(*w->queue_list);
    line(yours, w->queue_note);
    w->queues_frame->set_visible(false);

    // What can become a queue: the printers on the USB ports, those the
    // network announces (the search button below them), and one typed in.
    Gtk::Box* net =
        section(w->printer_box, w->net_frame, " Printers to Add", Gtk::Orientation::VERTICAL, 6);
    w->usb_list = box(Gtk::Orientation::VERTICAL, 4);
    w->usb_list->set_visible(false);
    net->append(*w->usb_list);
    w->found_list = box(Gtk::Orientation::VERTICAL, 4);
    net->append(*w->found_list);
    line(net, w->net_note);
    w->btn_scan_network = Gtk::make_managed<Gtk::Button>();
    w->btn_scan_network->set_icon_name("network-wired-symbolic");
    net->append(*w->btn_scan_network);
    // A printer the search does not find (another subnet, mDNS blocked),
    // added by its address.
    Gtk::Box* by_address = box(Gtk::Orientation::HORIZONTAL, 8);
    w->address_entry = Gtk::make_managed<Gtk::Entry>();
    w->address_entry->set_hexpand(true);
    w->address_entry->set_max_length(static_cast<int>(printer_address_limit));
    w->btn_add_address = button(nullptr, nullptr);
    by_address->append(*w->address_entry);
    by_address->append(*w->btn_add_address);
    net->append(*by_address);

    // Scanner page.
    Gtk::Box* scan_srv = section(w->scanner_box, w->scan_srv_frame, " 1. Scanner Interface",
                                 Gtk::Orientation::HORIZONTAL, 15);
    w->btn_setup_scan = button(nullptr, "suggested-action");
    scan_srv->append(*icon("scanner-symbolic"));
    Gtk::Box* scan_column = service_column(w->scan_srv_label, w->scan_srv_status);
    w->scan_count = Gtk::make_managed<Gtk::Label>();
    w->scan_count->set_halign(Gtk::Align::START);
    w->scan_count->set_visible(false);
    scan_column->append(*w->scan_count);
    scan_srv->append(*scan_column);
    scan_srv->append(*w->btn_setup_scan);

    // The scanners SANE finds, each with a test scan, and what to do when one
    // is missing.
    Gtk::Box* scanners =
        section(w->scanner_box, w->scanners_frame, " Scanners", Gtk::Orientation::VERTICAL, 6);
    w->scanner_list = box(Gtk::Orientation::VERTICAL, 6);
    w->scanner_list->set_visible(false);
    scanners->append(*w->scanner_list);
    w->scanner_note = Gtk::make_managed<Gtk::Label>();
    w->scanner_note->set_xalign(0);
    w->scanner_note->set_wrap(true);
    w->scanner_note->set_visible(false);
    scanners->append(*w->scanner_note);
    w->scanner_fixes = box(Gtk::Orientation::VERTICAL, 6);
    w->scanner_fixes->set_visible(false);
    scanners->append(*w->scanner_fixes);
    w->scanner_by_address = box(Gtk::Orientation::HORIZONTAL, 8);
    w->scanner_address_entry = Gtk::make_managed<Gtk::Entry>();
    w->scanner_address_entry->set_hexpand(true);
    w->scanner_address_entry->set_max_length(static_cast<int>(printer_address_limit));
    w->btn_add_scanner = button(nullptr, nullptr);
    w->scanner_by_address->append(*w->scanner_address_entry);
    w->scanner_by_address->append(*w->btn_add_scanner);
    w->scanner_by_address->set_visible(false);
    scanners->append(*w->scanner_by_address);
    w->btn_search_scanners = button(nullptr, nullptr);
    w->btn_search_scanners->set_halign(Gtk::Align::END);
    scanners->append(*w->btn_search_scanners);

    Gtk::Box* scan_apps = section(w->scanner_box, w->scan_apps_frame, " 2. Scanner Apps",
                                  Gtk::Orientation::VERTICAL, 8);
    check_column(scan_apps, {&w->chk_brother_scan4, &w->chk_brother_scan5, &w->chk_simple_scan,
                             &w->chk_skanlite});
    w->btn_install_scan_components = button(nullptr, nullptr);
    w->btn_install_scan_components->set_margin_top(10);
    scan_apps->append(*w->btn_install_scan_components);

    // This Computer: a section per kind of device, each a list of rows, and
    // the firmware the kernel missed.
    w->machine_note = Gtk::make_managed<Gtk::Label>();
    w->machine_note->set_xalign(0);
    w->machine_box->append(*w->machine_note);
    w->machine_sections = box(Gtk::Orientation::VERTICAL, 8);
    w->machine_sections->set_visible(false);
    w->machine_box->append(*w->machine_sections);
    const auto device_section = [&](Gtk::Frame*& frame, Gtk::Box*& list) {
        list = section(w->machine_sections, frame, "", Gtk::Orientation::VERTICAL, 6);
    };
    device_section(w->cpu_frame, w->cpu_list);
    device_section(w->wifi_frame, w->wifi_list);
    device_section(w->bt_frame, w->bt_list);
    device_section(w->sound_frame, w->sound_list);
    Gtk::Box* firmware =
        section(w->machine_sections, w->fw_frame, "", Gtk::Orientation::VERTICAL, 6);
    Gtk::Box* fw_top = box(Gtk::Orientation::HORIZONTAL, 10);
    w->fw_desc = Gtk::make_managed<Gtk::Label>();
    w->fw_desc->set_xalign(0);
    w->fw_desc->set_wrap(true);
    w->fw_desc->set_hexpand(true);
    w->btn_firmware = button(nullptr, nullptr);
    w->btn_firmware->set_valign(Gtk::Align::CENTER);
    fw_top->append(*w->fw_desc);
    fw_top->append(*w->btn_firmware);
    firmware->append(*fw_top);
    w->fw_list = box(Gtk::Orientation::VERTICAL, 6);
    w->fw_list->set_visible(false);
    firmware->append(*w->fw_list);

    // Bottom row and log.
    Gtk::Box* bottom = margins(box(Gtk::Orientation::HORIZONTAL, 10), 15);
    bottom->set_margin_top(0);
    w->btn_polkit = button(nullptr, "flat");
    bottom->append(*w->btn_polkit);
    // The step that runs, beside the spinner, then how the task ended: right
    // above the log that tells the details (in the header it would widen the
    // window beyond a small screen).
    Gtk::Box* status = box(Gtk::Orientation::HORIZONTAL, 8);
    status->set_hexpand(true);
    w->task_outcome = Gtk::make_managed<Gtk::Label>();
    w->task_outcome->set_valign(Gtk::Align::CENTER);
    w->task_outcome->set_hexpand(true);
    w->task_outcome->set_xalign(1);
    // A long step in a narrow window is cut, never makes the window wider.
    // w->task_outcome->set_ellipsize(Pango::EllipsizeMode::END);
    status->append(*w->spinner);
    status->append(*w->task_outcome);
    bottom->append(*status);

    result.log_expander = Gtk::make_managed<Gtk::Expander>("Installations-Log");
    GTK_WIDGET_CLASS(G_OBJECT_GET_CLASS(result.log_expander->gobj()))->focus = log_expander_focus;
    result.log_expander->set_margin_start(15);
    result.log_expander->set_margin_end(15);
    result.log_expander->set_margin_bottom(15);
    auto* scrolled = Gtk::make_managed<Gtk::ScrolledWindow>();
    scrolled->set_min_content_height(150);
    scrolled->set_max_content_height(150);
    w->log_view = Gtk::make_managed<Gtk::TextView>();
    w->log_view->set_editable(false);
    // A read-only log needs no undo history, which would keep a copy of every
    // line inserted.
    w->log_view->get_buffer()->set_enable_undo(false);
    w->log_view->set_monospace(true);
    w->log_view->add_css_class("kelmora-log");
    scrolled->set_child(*w->log_view);
    result.log_expander->set_child(*scrolled);

    // On a system without xbps (any but Void) the window says so once.
    w->xbps = program_on_path("xbps-install");
    w->platform_note = Gtk::make_managed<Gtk::Label>();
    w->platform_note->set_wrap(true);
    w->platform_note->set_xalign(0);
    w->platform_note->set_margin_start(15);
    w->platform_note->set_margin_end(15);
    w->platform_note->set_margin_bottom(6);
    w->platform_note->add_css_class("kelmora-warning");
    w->platform_note->set_visible(false);
    main_column->append(*header);
    main_column->append(*w->platform_note);
    main_column->append(*w->stack);
    main_column->append(*bottom);
    main_column->append(*result.log_expander);
    w->window->set_child(*main_column);

    // Names for the controls that have no label of their own, for screen readers.
    name_combo(*result.lang_combo, *w->lang_label);
    name_combo(*w->combo_nvidia, "NVIDIA GeForce");
    // Without these two, GTK 4.8 offers the C++ type name ("gtkmm__GtkExpander").
    name_accessible(*result.log_expander, "Installations-Log");
    name_accessible(*w->log_view, "Installations-Log");
    add_style(w->window->get_display());
    add_shortcuts(app, *w->window);
    w->window->present();
    prepare_first_task_frame(*w->window, *w->spinner, *w->log_view);

    // 2.-5. The record, the start language and every text.
    result.widgets = w;
    const Lang lang = load_lang();
    update_ui_text(lang, *w);
    result.lang_combo->set_active(static_cast<int>(lang));  // before the handler exists
    w->combo_nvidia->signal_changed().connect([w = w.get()] { on_nvidia_choice_changed(*w); });

    // 6. The UI channel and its receiver.
    // Handled in time slices with one buffer insert for consecutive lines and
    // one scroll per dispatch, so that a child that prints as fast as it can
    // never freezes the window.
    auto context = std::make_shared<LogContext>(make_log_context(w, result.log_expander));
    follow_log_end(context, *scrolled);
    UiChannel<UiMessage>::Options options;
    options.slice = log_dispatch_slice;
    options.after_dispatch = [context] { end_log_dispatch(*context); };
    auto [sender, receiver] = UiChannel<UiMessage>::create(
        [context](UiMessage&& message) { handle_ui_message(std::move(message), *context); },
        std::move(options));
    result.receiver = receiver;
    // Later sends fail rather than reach destroyed widgets.
    w->window->signal_destroy().connect([receiver] { receiver.close(); });

    // 7. The ten handlers, each with its own sender copy.
    const AppWidgetsRef widgets = w;
    Gtk::ComboBoxText* lang_combo = result.lang_combo;
    lang_combo->signal_changed().connect([widgets, sender, lang_combo] {
        on_language_changed(lang_combo->get_active_row_number(), *widgets, sender);
    });
    const auto connect = [&](Gtk::Button* b,
                             void (*handler)(const AppWidgetsRef&, const UiSender&)) {
        b->signal_clicked().connect([widgets, sender, handler] { handler(widgets, sender); });
    };
    connect(w->btn_nvidia, on_install_nvidia);
    connect(w->btn_nv_repair, on_repair_nvidia);
    connect(w->btn_nv_open, on_use_open_driver);
    connect(w->btn_amd, on_install_amd);
    connect(w->btn_intel, on_install_intel);
    w->btn_setup_print->signal_clicked().connect(
        [widgets, sender] { on_setup_services(print_service_recipe(), widgets, sender); });
    connect(w->btn_install_print_drivers, on_install_print_drivers);
    w->btn_setup_scan->signal_clicked().connect(
        [widgets, sender] { on_setup_services(scan_service_recipe(), widgets, sender); });
    connect(w->btn_install_scan_components, on_install_scan_components);
    connect(w->btn_scan_network, on_scan_network);
    connect(w->btn_polkit, on_register_polkit);

    w->add_printer = [weak = std::weak_ptr<const AppWidgets>(w), sender](const FoundPrinter& p) {
        if (const auto widgets = weak.lock()) on_add_printer(widgets, sender, p);
    };
    w->queue_action = [weak = std::weak_ptr<const AppWidgets>(w), sender](
                          QueueAction action, const std::string& queue) {
        if (const auto widgets = weak.lock()) on_queue_action(widgets, sender, action, queue);
    };
    w->queue_setting = [weak = std::weak_ptr<const AppWidgets>(w), sender](
                           const std::string& queue, const std::string& key,
                           const std::string& value) {
        if (const auto widgets = weak.lock()) on_queue_setting(widgets, sender, queue, key, value);
    };
    w->cancel_job = [weak = std::weak_ptr<const AppWidgets>(w), sender](const QueueJob& job) {
        if (const auto widgets = weak.lock()) on_cancel_job(widgets, sender, job);
    };
    w->usb_action = [weak = std::weak_ptr<const AppWidgets>(w), sender](UsbAction action,
                                                                        const UsbPrinterRow& row) {
        if (const auto widgets = weak.lock()) on_usb_action(widgets, sender, action, row);
    };
    connect(w->btn_add_address, on_add_by_address);
    w->search_scanners = [weak = std::weak_ptr<const AppWidgets>(w), sender] {
        if (const auto widgets = weak.lock()) search_scanners(widgets, sender);
    };
    w->test_scan = [weak = std::weak_ptr<const AppWidgets>(w), sender](const Scanner& scanner) {
        if (const auto widgets = weak.lock()) on_test_scan(widgets, sender, scanner);
    };
    w->apply_fix = [weak = std::weak_ptr<const AppWidgets>(w), sender](const ScannerFix& fix) {
        if (const auto widgets = weak.lock()) on_scanner_fix(widgets, sender, fix);
    };
    connect(w->btn_search_scanners, search_scanners);
    w->read_machine = [weak = std::weak_ptr<const AppWidgets>(w), sender] {
        if (const auto widgets = weak.lock()) read_machine(widgets, sender);
    };
    w->machine_action = [weak = std::weak_ptr<const AppWidgets>(w), sender](const MachineRow& row) {
        if (const auto widgets = weak.lock()) on_machine_action(widgets, sender, row);
    };
    connect(w->btn_firmware, on_look_for_firmware);
    connect(w->btn_add_scanner, on_add_scanner_by_address);
    w->scanner_address_entry->signal_activate().connect([widgets, sender] {
        if (widgets->btn_add_scanner->get_sensitive()) on_add_scanner_by_address(widgets, sender);
    });
    // The scanners are listed, and the machine read, when their page is first shown. (The record
    // may be gone while the window is destroyed and the stack lets go of its pages.)
    w->stack->property_visible_child().signal_changed().connect(
        [weak = std::weak_ptr<const AppWidgets>(w)] {
            const auto alive = weak.lock();
            if (alive && alive->stack->get_visible_child() == alive->scanner_scroll &&
                !alive->scanners.asked && alive->search_scanners)
                alive->search_scanners();
            if (alive && alive->stack->get_visible_child() == alive->machine_scroll &&
                !alive->machine.asked && alive->read_machine)
                alive->read_machine();
        });
    // A scanner's pictures are private and go with the window, also when the
    // record went first.
    w->window->signal_destroy().connect([dir = w->scanners.scan_dir] {
        std::error_code ignored;
        if (!dir->empty()) std::filesystem::remove_all(*dir, ignored);
    });
    // Enter in the field adds, as the button does.
    w->address_entry->signal_activate().connect([widgets, sender] {
        if (widgets->btn_add_address->get_sensitive()) on_add_by_address(widgets, sender);
    });
    start_graphics_detection(*w, sender);
    enable_own_agent();

    // 8. Our own sender goes out of scope here; the handlers keep the channel open.
    return result;
}

}  // namespace kelmora
