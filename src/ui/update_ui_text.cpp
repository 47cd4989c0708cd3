#include "ui/update_ui_text.h"

#include "i18n/catalogue.h"
#include "ui/busy_state.h"
#include "ui/graphics_page.h"
#include "ui/machine_page.h"
#include "ui/printer_page.h"
#include "ui/scanner_page.h"
#include "ui/status_lines.h"

namespace kelmora {
namespace {

// From bytes: Glib::ustring(const char*, n) would count n characters, not bytes.
Glib::ustring text(std::string_view t) {
    return Glib::ustring(std::string(t));
}

Glib::ustring text(Lang lang, std::string_view key) {
    return text(get_text(lang, key));
}

}  // namespace

void update_ui_text(Lang lang, const AppWidgets& w) {
    w.window->set_title(text(window_title_text(lang)));
    w.stack->get_page(*w.gpu_scroll)->set_title(text(lang, "tab_graphics"));
    w.stack->get_page(*w.printer_scroll)->set_title(text(lang, "tab_printer"));
    w.stack->get_page(*w.scanner_scroll)->set_title(text(lang, "tab_scanner"));
    w.stack->get_page(*w.machine_scroll)->set_title(text(lang, "tab_machine"));
    w.cpu_frame->set_label(text(lang, "mc_cpu_title"));
    w.wifi_frame->set_label(text(lang, "mc_wifi_title"));
    w.bt_frame->set_label(text(lang, "mc_bt_title"));
    w.sound_frame->set_label(text(lang, "mc_sound_title"));
    w.fw_frame->set_label(text(lang, "mc_fw_title"));
    w.fw_desc->set_text(text(lang, "mc_fw_desc"));
    w.btn_firmware->set_label(text(lang, "mc_fw_btn"));

    w.nv_frame->set_label(text(lang, "nv_title"));
    end_confirmation(w);
    w.btn_nvidia->set_label(text(lang, "nv_btn"));
    w.btn_nv_repair->set_label(text(lang, "nv_repair_btn"));
    w.btn_nv_open->set_label(text(lang, "nv_open_btn"));
    w.btn_add_address->set_label(text(lang, "addr_btn"));
    w.address_entry->set_placeholder_text(text(lang, "addr_hint"));
    gtk_accessible_update_property(GTK_ACCESSIBLE(w.address_entry->gobj()),
                                   GTK_ACCESSIBLE_PROPERTY_LABEL, text(lang, "addr_name").c_str(),
                                   -1);
    // New texts for the same entries: the user's choice stays.
    const int chosen = w.combo_nvidia->get_active_row_number();
    w.graphics.choosing = true;
    w.combo_nvidia->remove_all();
    for (const char* key : {"nv_opt_current", "nv_opt_older", "nv_opt_legacy", "nv_opt_580"})
        w.combo_nvidia->append(text(lang, key));
    w.graphics.choosing = false;
    set_nvidia_choice(w, chosen < 0 ? 0 : chosen);

    w.amd_frame->set_label(text(lang, "amd_title"));
    w.amd_label->set_text(text(lang, multilib_system ? "amd_desc" : "amd_desc_64"));
    w.btn_amd->set_label(text(lang, "amd_btn"));
    w.intel_frame->set_label(text(lang, "intel_title"));
    w.intel_label->set_text(text(lang, multilib_system ? "intel_desc" : "intel_desc_64"));
    w.btn_intel->set_label(text(lang, "intel_btn"));

    w.pr_srv_frame->set_label(text(lang, "pr_srv_title"));
    w.pr_srv_label->set_label(text(lang, "pr_srv_desc"));
    w.btn_setup_print->set_label(text(lang, "pr_srv_btn"));
    w.net_frame->set_label(text(lang, "toadd_title"));
    w.queues_frame->set_label(text(lang, "yours_title"));
    w.pr_drv_frame->set_label(text(lang, "pr_drv_title"));
    w.chk_hp->set_label(text(lang, "chk_hp"));
    w.chk_brother_pr->set_label(text(lang, "chk_brother_pr"));
    w.chk_epson_pr->set_label(text(lang, "chk_epson_pr"));
    w.chk_gutenprint->set_label(text(lang, "chk_gutenprint"));
    w.btn_install_print_drivers->set_label(text(print_drivers_button_text(lang)));

    w.scan_srv_frame->set_label(text(lang, "scan_srv_title"));
    w.scan_srv_label->set_label(text(lang, "scan_srv_desc"));
    w.btn_setup_scan->set_label(text(lang, "scan_srv_btn"));
    w.scan_apps_frame->set_label(text(lang, "scan_apps_title"));
    w.chk_brother_scan4->set_label(text(lang, "chk_brother_scan4"));
    w.chk_brother_scan5->set_label(text(lang, "chk_brother_scan5"));
    w.chk_simple_scan->set_label(text(lang, "chk_simple_scan"));
    w.chk_skanlite->set_label(text(lang, "chk_skanlite"));
    w.btn_install_scan_components->set_label(text(scan_components_button_text(lang)));
    w.scanners_frame->set_label(text(lang, "scanners_title"));
    w.btn_search_scanners->set_label(text(lang, "scan_again_btn"));
    w.btn_add_scanner->set_label(text(lang, "scan_addr_btn"));
    w.scanner_address_entry->set_placeholder_text(text(lang, "scan_addr_hint"));
    gtk_accessible_update_property(GTK_ACCESSIBLE(w.scanner_address_entry->gobj()),
                                   GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   text(lang, "scan_addr_name").c_str(), -1);

    w.lang_label->set_label(text(lang, "lang_select"));
    w.btn_scan_network->set_label(text(lang, "btn_scan_network"));
    w.btn_polkit->set_label(text(polkit_button_text(lang)));

    set_line(w.platform_note, w.xbps ? std::string() : std::string(get_text(lang, "not_void")));
    for (Gtk::Button* button : w.action_buttons())
        if (!usable(w, button)) button->set_sensitive(false);
    show_graphics_state(w, lang);
    show_printer_state(w, lang);  // after every text: it measures the page
    show_scanner_state(w, lang);
    show_machine_state(w, lang);
    show_outcome(w, lang);
    update_service_status(lang, w);
}

void on_language_changed(int active_index, const AppWidgets& widgets, const UiSender& sender) {
    const Lang lang = lang_from_index(active_index);
    save_lang(lang);  // before the refresh below reads it back
    update_ui_text(lang, widgets);
    sender.send(RefreshStatus{});
}

}  // namespace kelmora
