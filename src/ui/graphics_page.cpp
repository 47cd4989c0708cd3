#include "ui/graphics_page.h"

#include "i18n/catalogue.h"
#include "process/process.h"
#include "ui/actions.h"
#include "ui/graphics_text.h"
#include "ui/task_hold.h"

namespace kelmora {
namespace {

bool has_vendor(const GraphicsHardware& hardware, std::uint16_t vendor) {
    for (const DisplayController& card : hardware.cards)
        if (card.vendor == vendor && (vendor != pci_vendor_nvidia || recommended_driver(card)))
            return true;
    return false;
}

bool driver_drives(NvidiaDriver driver, const GraphicsHardware& hardware) {
    for (const DisplayController& card : hardware.cards)
        if (card.vendor == pci_vendor_nvidia && recommended_driver(card) &&
            driver_supports(driver, nvidia_arch(card.device_name)))
            return true;
    return false;
}

NvidiaDriver driver_at(int index) {
    return static_cast<NvidiaDriver>(index < 0 || index > 3 ? 0 : index);
}

// The suggested style marks the buttons for the cards of this machine; until
// the detection reports, the NVIDIA one keeps it as it always had. A choice
// that drives none of the NVIDIA cards is not suggested.
void suggest_buttons(const AppWidgets& w) {
    const GraphicsHardware& hardware = w.graphics.hardware;
    const bool nvidia_fits = !choice_drives_none(hardware, w.combo_nvidia->get_active_row_number());
    const std::array<std::pair<Gtk::Button*, bool>, 3> buttons = {{
        {w.btn_nvidia, multilib_system && has_vendor(hardware, pci_vendor_nvidia) && nvidia_fits &&
                           !w.graphics.confirming.connected()},
        {w.btn_amd, has_vendor(hardware, pci_vendor_amd)},
        {w.btn_intel, has_vendor(hardware, pci_vendor_intel)},
    }};
    for (const auto& [button, suggested] : buttons) {
        if (suggested)
            button->add_css_class("suggested-action");
        else
            button->remove_css_class("suggested-action");
    }
}

std::string notes_text(const AppWidgets& w, Lang lang) {
    const auto& installed = w.graphics.installed;
    return nvidia_notes_text(w.graphics.hardware, w.combo_nvidia->get_active_row_number(), lang,
                             multilib_system,
                             installed ? installed->nvidia : std::vector<std::string>{});
}

void show_warning_icon(const AppWidgets& w) {
    w.nv_warning_icon->set_visible(!w.nv_notes->get_text().empty() ||
                                   !w.nv_module->get_text().empty());
}

}  // namespace

bool choice_drives_none(const GraphicsHardware& hardware, int chosen) {
    return has_vendor(hardware, pci_vendor_nvidia) && !driver_drives(driver_at(chosen), hardware);
}

std::string generation_at_risk(const GraphicsHardware& hardware,
                               const std::optional<InstalledGraphics>& installed, int chosen) {
    if (!installed || !choice_drives_none(hardware, chosen)) return {};
    const std::string_view wanted = nvidia_driver_package(driver_at(chosen));
    for (const std::string& generation : installed->nvidia) {
        if (generation == wanted) continue;
        for (int i = 0; i < 4; ++i)
            if (nvidia_driver_package(driver_at(i)) == generation &&
                driver_drives(driver_at(i), hardware))
                return generation;
    }
    return {};
}

namespace {

// A button that asks in place: its label turns into the question, in the
// destructive style, for a few seconds.
void confirm_on(const AppWidgetsRef& widgets, Gtk::Button* button, sigc::connection& confirming,
                const std::string& question) {
    // The question takes the button's place without moving its neighbours:
    // at the width the button had, cut where it is longer.
    // (The label asks for almost no width of its own; the button keeps the
    // width it had, and the label is cut to it.)
    int width = 0, natural = 0, baseline_min = 0, baseline_nat = 0;
    button->measure(Gtk::Orientation::HORIZONTAL, -1, width, natural, baseline_min, baseline_nat);
    width = button->get_width() > 0 ? natural : 0;  // drawn at its natural width
    button->set_label(question);
    if (auto* label = dynamic_cast<Gtk::Label*>(button->get_child()); label && width > 0) {
        label->set_ellipsize(Pango::EllipsizeMode::END);
        label->set_max_width_chars(1);
        button->set_size_request(width, -1);
    }
    gtk_accessible_update_property(GTK_ACCESSIBLE(button->gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   question.c_str(), -1);
    button->set_tooltip_text(question);
    button->add_css_class("destructive-action");
    confirming = Glib::signal_timeout().connect_seconds(
        [weak = std::weak_ptr<const AppWidgets>(widgets)] {
            if (const auto alive = weak.lock()) end_confirmation(*alive);
            return false;
        },
        confirm_seconds);
    suggest_buttons(*widgets);
}

void unconfirm(Gtk::Button* button, sigc::connection& confirming, std::string_view label_key) {
    if (!confirming.connected()) return;
    confirming.disconnect();
    const std::string label(get_text(load_lang(), label_key));
    button->set_label(label);
    button->set_size_request(-1, -1);
    button->set_tooltip_text("");
    gtk_accessible_update_property(GTK_ACCESSIBLE(button->gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   label.c_str(), -1);
    button->remove_css_class("destructive-action");
}

}  // namespace

void ask_to_confirm(const AppWidgetsRef& widgets, const std::string& generation) {
    confirm_on(widgets, widgets->btn_nvidia, widgets->graphics.confirming,
               format_text(load_lang(), "nv_confirm", {{"name", generation}}));
}

void ask_to_confirm_replace(const AppWidgetsRef& widgets, const std::string& installed,
                            const std::string& chosen) {
    confirm_on(widgets, widgets->btn_nvidia, widgets->graphics.confirming,
               format_text(load_lang(), "nv_replace_ask", {{"old", installed}, {"new", chosen}}));
}

void ask_to_confirm_open(const AppWidgetsRef& widgets, const std::string& generations) {
    confirm_on(widgets, widgets->btn_nv_open, widgets->graphics.confirming_open,
               format_text(load_lang(), "nv_open_confirm", {{"name", generations}}));
}

void end_confirmation(const AppWidgets& w) {
    unconfirm(w.btn_nvidia, w.graphics.confirming, "nv_btn");
    unconfirm(w.btn_nv_open, w.graphics.confirming_open, "nv_open_btn");
    suggest_buttons(w);
}

void show_graphics_state(const AppWidgets& w, Lang lang) {
    const GraphicsPageState& state = w.graphics;
    std::string cards =
        state.detected ? graphics_cards_text(state.hardware.cards, lang) : std::string();
    if (const std::string hybrid = hybrid_graphics_text(state.hardware, state.installed, lang);
        state.detected && !hybrid.empty())
        cards += "\n" + hybrid;
    set_line(w.gpu_cards, cards);
    std::string status = graphics_status_text(state.installed, state.restart_pending, lang);
    if (state.open_driver_pending)
        status += (status.empty() ? "" : " — ") + std::string(get_text(lang, "gpu_open_restart"));
    if (!state.nouveau_blocked.empty()) {
        std::string files;
        for (const std::string& f : state.nouveau_blocked) files += (files.empty() ? "" : ", ") + f;
        status +=
            (status.empty() ? "" : "\n") + format_text(lang, "nv_blacklisted", {{"files", files}});
    }
    set_line(w.gpu_status, status);
    set_line(w.nv_notes, notes_text(w, lang));
    const std::string module = nvidia_module_text(state.installed, lang);
    set_line(w.nv_module, module);
    w.btn_nv_repair->set_visible(!module.empty());
    w.btn_nv_open->set_visible(state.installed && !state.installed->nvidia.empty());
    if (!w.btn_nv_open->get_visible())
        unconfirm(w.btn_nv_open, w.graphics.confirming_open, "nv_open_btn");
    show_warning_icon(w);
}

void apply_graphics_hardware(const AppWidgets& w, GraphicsHardware hardware) {
    w.graphics.hardware = std::move(hardware);
    w.graphics.detected = true;
    if (!w.graphics.choice_made)
        if (const auto fits = single_recommendation(w.graphics.hardware.cards))
            set_nvidia_choice(w, static_cast<int>(*fits));
    suggest_buttons(w);
    show_graphics_state(w, load_lang());
}

void apply_installed_drivers(const AppWidgets& w, std::optional<InstalledGraphics> drivers) {
    w.graphics.installed = std::move(drivers);
    show_graphics_state(w, load_lang());
}

void on_nvidia_choice_changed(const AppWidgets& w) {
    if (!w.graphics.choosing && w.combo_nvidia->get_active_row_number() >= 0)
        w.graphics.choice_made = true;
    set_line(w.nv_notes, notes_text(w, load_lang()));
    show_warning_icon(w);
    end_confirmation(w);
    suggest_buttons(w);
}

void set_nvidia_choice(const AppWidgets& w, int index) {
    w.graphics.choosing = true;
    w.combo_nvidia->set_active(index);
    w.graphics.choosing = false;
}

void start_graphics_detection(const AppWidgets& w, UiSender sender) {
    // A few sysfs reads, and the PCI ID database, which takes longer: off the
    // main thread, so that the window comes up as fast as without it.
    spawn_detached([sender = std::move(sender), root = w.root, hold = ApplicationHold::acquire()] {
        sender.send(GraphicsDetected{detect_graphics_hardware(root)});
        report_machine_state(sender, root);
    });
}

}  // namespace kelmora
