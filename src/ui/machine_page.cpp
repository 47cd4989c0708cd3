#include "ui/machine_page.h"

#include "i18n/catalogue.h"

namespace kelmora {
namespace {

std::string text(Lang lang, std::string_view key) {
    return std::string(get_text(lang, key));
}

void clear(Gtk::Box* box) {
    while (Gtk::Widget* child = box->get_first_child()) box->remove(*child);
}

std::string row_title(const MachineRow& row, Lang lang, bool usb_wifi) {
    if (!row.name.empty()) return row.name;
    if (usb_wifi) return format_text(lang, "mc_usb_wifi", {{"ids", row.ids}});
    return format_text(lang, "mc_device", {{"ids", row.ids}});
}

// One device: its name and what is known of it on the left, its button on the right.
Gtk::Widget* device_row(const AppWidgets& w, const MachineRow& row, const std::string& title,
                        std::vector<std::string> lines, Lang lang) {
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
    texts->set_hexpand(true);
    if (!title.empty()) texts->append(*plain_label(title, false));
    const std::string state = machine_state_text(row, lang, w.machine.microcode_restart);
    for (const std::string& line : lines) texts->append(*plain_label(line, true));
    const bool attention =
        row.action != MachineAction::None || row.state == DeviceState::RadioSwitchedOff ||
        row.state == DeviceState::BluetoothLogInAgain ||
        (w.machine.microcode_restart && row.state == DeviceState::MicrocodeInstalled);
    Gtk::Label* state_line = plain_label(state, !attention && !title.empty());
    if (attention) state_line->add_css_class("kelmora-warning");
    texts->append(*state_line);
    box->append(*texts);
    const bool confirming = row.action == MachineAction::RemoveWl && w.machine.confirming_remove_wl;
    const std::string caption = machine_action_text(row, lang, confirming);
    if (!caption.empty()) {
        auto* button = Gtk::make_managed<Gtk::Button>(caption);
        button->set_valign(Gtk::Align::CENTER);
        if (row.action != MachineAction::RemoveWl) button->add_css_class("suggested-action");
        if (confirming) button->add_css_class("destructive-action");
        button->signal_clicked().connect([&w, row] {
            if (w.machine_action) w.machine_action(row);
        });
        box->append(*button);
    }
    return box;
}

void fill(Gtk::Box* list, const std::vector<Gtk::Widget*>& rows, const std::string& none) {
    clear(list);
    for (Gtk::Widget* row : rows) list->append(*row);
    if (rows.empty()) list->append(*plain_label(none, true));
}

}  // namespace

std::string machine_state_text(const MachineRow& row, Lang lang, bool microcode_restart) {
    const auto driver = [&](std::string_view key) {
        return format_text(lang, key, {{"driver", row.driver}});
    };
    switch (row.state) {
        case DeviceState::MicrocodeMissing:
            return text(lang, "st_ucode_no");
        case DeviceState::AmdMicrocodeMissing:
            return text(lang, "st_amd_missing");
        case DeviceState::MicrocodeInstalled:
            return text(lang, microcode_restart ? "st_ucode_boot" : "st_ucode_ok");
        case DeviceState::OtherProcessor:
            return text(lang, "st_other_cpu");
        case DeviceState::Driven:
            return driver("st_driven");
        case DeviceState::NoDriver:
            return text(lang, "st_no_driver");
        case DeviceState::WlMissing:
            return text(lang, "st_wl_missing");
        case DeviceState::WlAfterRestart:
            return text(lang, "st_wl_restart");
        case DeviceState::FirmwareMissing:
            return driver("st_fw_missing");
        case DeviceState::SofFirmwareMissing:
            return driver("st_sof_missing");
        case DeviceState::RadioBlocked:
            return text(lang, "st_blocked");
        case DeviceState::RadioSwitchedOff:
            return text(lang, "st_switched_off");
        case DeviceState::BluetoothOn:
            return text(lang, "st_bt_on");
        case DeviceState::BluetoothNotSetUp:
            return text(lang, "st_bt_setup");
        case DeviceState::BluetoothNotInGroup:
            return text(lang, "st_bt_group");
        case DeviceState::BluetoothLogInAgain:
            return text(lang, "st_bt_login");
    }
    return {};
}

std::string machine_action_text(const MachineRow& row, Lang lang, bool confirming) {
    switch (row.action) {
        case MachineAction::InstallMicrocode:
        case MachineAction::InstallPackage:
            return format_text(lang, "usb_install_btn", {{"package", row.argument}});
        case MachineAction::InstallWl:
            return format_text(lang, "usb_install_btn", {{"package", "broadcom-wl-dkms"}});
        case MachineAction::RemoveWl:
            return confirming ? format_text(lang, "q_remove_ask", {{"name", "broadcom-wl-dkms"}})
                              : text(lang, "mc_wl_remove_btn");
        case MachineAction::Unblock:
            return text(lang, "mc_unblock_btn");
        case MachineAction::SetUpBluetooth:
            return text(lang, "mc_bt_setup_btn");
        case MachineAction::JoinBluetoothGroup:
            return text(lang, "mc_bt_group_btn");
        case MachineAction::None:
            break;
    }
    return {};
}

void show_machine_state(const AppWidgets& w, Lang lang) {
    const MachinePageState& state = w.machine;
    const bool reading = !state.survey;
    w.machine_note->set_visible(reading);
    w.machine_note->set_text(text(lang, "mc_reading"));
    w.machine_sections->set_visible(!reading);
    if (reading) return;
    const MachineSurvey& survey = *state.survey;

    std::vector<Gtk::Widget*> rows;
    for (const MachineRow& row : survey.processor) {
        std::vector<std::string> lines;
        if (!row.detail.empty())
            lines.push_back(format_text(lang, "mc_microcode", {{"rev", row.detail}}));
        rows.push_back(device_row(w, row, row.name, std::move(lines), lang));
    }
    fill(w.cpu_list, rows, text(lang, "mc_none_cpu"));

    rows.clear();
    for (const MachineRow& row : survey.wifi) {
        const bool usb = row.ids.find(':') == std::string::npos;
        std::vector<std::string> lines;
        if (!row.name.empty()) lines.push_back(row.ids);
        rows.push_back(device_row(w, row, row_title(row, lang, usb), std::move(lines), lang));
    }
    fill(w.wifi_list, rows, text(lang, "mc_none_wifi"));

    rows.clear();
    for (const MachineRow& row : survey.bluetooth) {
        const std::string title =
            row.ids.empty() ? std::string() : format_text(lang, "mc_adapter", {{"ids", row.ids}});
        rows.push_back(device_row(w, row, title, {}, lang));
    }
    fill(w.bt_list, rows, text(lang, "mc_none_bt"));

    rows.clear();
    for (const MachineRow& row : survey.sound) {
        std::vector<std::string> lines;
        if (!row.name.empty()) lines.push_back(row.ids);
        rows.push_back(device_row(w, row, row_title(row, lang, false), std::move(lines), lang));
    }
    fill(w.sound_list, rows, text(lang, "mc_none_sound"));

    clear(w.fw_list);
    if (state.firmware) {
        for (const MissingFirmware& missing : *state.firmware) {
            MachineRow row{DeviceState::Driven};
            row.action = MachineAction::InstallPackage;
            row.argument = missing.package;
            auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
            auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
            texts->set_hexpand(true);
            texts->append(*plain_label(missing.file, false));
            texts->append(*plain_label(
                format_text(lang, missing.package_installed ? "mc_fw_not_in" : "mc_fw_package",
                            {{"package", missing.package}}),
                true));
            box->append(*texts);
            w.fw_list->append(*box);
            if (missing.package_installed) continue;  // nothing to install brings it
            auto* button = Gtk::make_managed<Gtk::Button>(machine_action_text(row, lang, false));
            button->set_valign(Gtk::Align::CENTER);
            button->signal_clicked().connect([&w, row] {
                if (w.machine_action) w.machine_action(row);
            });
            box->append(*button);
        }
        if (state.firmware->empty())
            w.fw_list->append(*plain_label(text(lang, "mc_fw_none"), true));
    }
    w.fw_list->set_visible(state.firmware.has_value());
}

}  // namespace kelmora
