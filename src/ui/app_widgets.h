// The widgets of one window that anything changes after construction.
//
// One record per window, shared by every handler and the log receiver. The
// pointers are valid for as long as the window exists; the window closes its UI
// channel before it is destroyed, so nothing reaches the record afterwards.
#pragma once

#include <gtkmm.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "hardware/graphics.h"
#include "packages/machine_survey.h"
#include "ui/ui_message.h"

namespace kelmora {

// How the last task of a window ended, shown above the log until the next
// task starts.
enum class TaskOutcome { None, Succeeded, Failed, Cancelled, SearchFinished, NoPkexec, NoPolkitd };

// What the graphics page knows about the machine; main thread only.
struct GraphicsPageState {
    bool detected = false;  // the detection has reported
    GraphicsHardware hardware;
    std::optional<InstalledGraphics> installed;  // none until xbps-query told
    bool restart_pending = false;                // a graphics install succeeded in this window
    bool choice_made = false;                    // the user has picked an NVIDIA entry
    bool choosing = false;                       // the window itself is setting the entry
    // The Install button asks "Replace nvidia580 anyway?" until this ends.
    sigc::connection confirming;
    // The open-driver button asks "Remove nvidia470 and use nouveau?" until this ends.
    sigc::connection confirming_open;
    bool open_driver_pending = false;          // the way back succeeded in this window
    std::vector<std::string> nouveau_blocked;  // files that still blacklist nouveau
};

// What a queue's row asks for.
enum class QueueAction { TestPage, MakeDefault, Remove, Resume, CancelJobs };

// What a USB printer's row asks for: a queue with the driver CUPS named, the
// package that brings a driver, or ipp-usb for an IPP-over-USB printer.
enum class UsbAction { Add, InstallDriver, SetUpIppUsb };

// What the printer page knows about the network and CUPS; main thread only.
struct PrinterPageState {
    bool searched = false;  // a network search has ended in this window
    std::vector<FoundPrinter> printers;
    std::vector<FoundScanner> scanners;
    std::optional<std::vector<PrintQueue>> queues;  // none while lpstat cannot tell
    std::optional<PrinterAdded> last_add;
    // After a search the page shows its search button again once laid out.
    bool reveal_search = false;
    std::optional<QueueNote> queue_note;
    // The typed address that was refused, and why (runs nothing).
    AddressProblem address_problem = AddressProblem::None;
    // The queue whose Remove button asks "Remove NAME?" until this ends.
    std::string confirming_remove;
    sigc::connection confirming_remove_timer;
    // The queue whose Cancel All Jobs button asks first, the same way.
    std::string confirming_cancel;
    // The queues whose settings are open under their row.
    std::set<std::string> settings_open;
    // The printers on this machine's USB ports; none until read.
    std::optional<std::vector<UsbPrinterRow>> usb;
};

// What the scanner page knows; main thread only.
struct ScannerPageState {
    bool asked = false;      // a search was started in this window
    bool searching = false;  // one runs now
    std::optional<ScannerListing> listing;
    std::chrono::steady_clock::time_point listed_at;
    std::vector<ScannerFix> fixes;
    // The test scan that runs (its device), and its process group to cancel it.
    std::string scanning;
    std::shared_ptr<std::atomic<pid_t>> scan_group = std::make_shared<std::atomic<pid_t>>(0);
    std::shared_ptr<std::atomic<bool>> scan_cancelled = std::make_shared<std::atomic<bool>>(false);
    // The last test scan of each scanner (by name): its picture, or why not.
    std::map<std::string, std::pair<std::string, ScanFailure>> results;
    // Private, made on the first test scan; shared with the window's end.
    std::shared_ptr<std::filesystem::path> scan_dir = std::make_shared<std::filesystem::path>();
    AddressProblem address_problem = AddressProblem::None;
    std::optional<ScannerAdded> last_add;
};

// What the page about the rest of the machine knows; main thread only.
struct MachinePageState {
    bool asked = false;       // read when the page is first shown, then after every task
    bool reading = false;     // a reading runs now
    bool read_again = false;  // asked while one ran: what it finds may be old
    std::optional<MachineSurvey> survey;
    // What Look for Missing Firmware found; none before it ran in this window.
    std::optional<std::vector<MissingFirmware>> firmware;
    unsigned lookups = 0;            // how many lookups have ended in this window
    bool microcode_restart = false;  // microcode went on in this window
    // The Remove button of broadcom-wl-dkms asks on itself until this ends.
    bool confirming_remove_wl = false;
    sigc::connection confirm_timer;
};

struct AppWidgets {
    Gtk::ApplicationWindow* window = nullptr;
    Gtk::Stack* stack = nullptr;
    Gtk::Box* gpu_box = nullptr;
    Gtk::ScrolledWindow* gpu_scroll = nullptr;  // the graphics page, in the stack
    Gtk::Box* printer_box = nullptr;
    Gtk::Box* scanner_box = nullptr;
    Gtk::Label* gpu_cards = nullptr;   // the detected cards
    Gtk::Label* gpu_status = nullptr;  // installed drivers, restart notice
    Gtk::Frame* nv_frame = nullptr;
    Gtk::Label* nv_notes = nullptr;         // under the NVIDIA choice
    Gtk::Image* nv_warning_icon = nullptr;  // beside the notes while there are any
    Gtk::Label* nv_module = nullptr;        // kernels without the module, beside the notes
    Gtk::Button* btn_nv_repair = nullptr;   // shown with nv_module
    Gtk::Button* btn_nv_open = nullptr;     // back to nouveau, shown with a generation
    Gtk::Button* btn_nvidia = nullptr;
    Gtk::ComboBoxText* combo_nvidia = nullptr;
    Gtk::Frame* amd_frame = nullptr;
    Gtk::Inscription* amd_label = nullptr;
    Gtk::Button* btn_amd = nullptr;
    Gtk::Frame* intel_frame = nullptr;
    Gtk::Inscription* intel_label = nullptr;
    Gtk::Button* btn_intel = nullptr;
    Gtk::Frame* pr_srv_frame = nullptr;
    Gtk::Label* pr_srv_label = nullptr;
    Gtk::Button* btn_setup_print = nullptr;
    Gtk::Label* pr_srv_status = nullptr;
    Gtk::ScrolledWindow* printer_scroll = nullptr;  // the printer page, in the stack
    Gtk::Frame* queues_frame = nullptr;             // your printers: the queues
    Gtk::Frame* net_frame = nullptr;                // printers to add: USB, network, address
    Gtk::Box* usb_list = nullptr;                   // one row per USB printer
    Gtk::Box* found_list = nullptr;                 // one row per found printer
    Gtk::Label* net_note = nullptr;                 // nothing found, or how adding ended
    Gtk::Label* net_queues = nullptr;               // "Print queues:", or that there are none
    Gtk::Box* queue_list = nullptr;                 // one row per queue, with its buttons
    Gtk::Label* queue_note = nullptr;               // how the last test page went
    Gtk::Entry* address_entry = nullptr;            // a printer's address, typed
    Gtk::Button* btn_add_address = nullptr;
    Gtk::Frame* pr_drv_frame = nullptr;
    Gtk::CheckButton* chk_hp = nullptr;
    Gtk::CheckButton* chk_brother_pr = nullptr;
    Gtk::CheckButton* chk_epson_pr = nullptr;
    Gtk::CheckButton* chk_gutenprint = nullptr;
    Gtk::Button* btn_install_print_drivers = nullptr;
    Gtk::Frame* scan_srv_frame = nullptr;
    Gtk::Label* scan_srv_label = nullptr;
    Gtk::Button* btn_setup_scan = nullptr;
    Gtk::Label* scan_srv_status = nullptr;
    Gtk::Frame* scan_apps_frame = nullptr;
    Gtk::CheckButton* chk_brother_scan4 = nullptr;
    Gtk::CheckButton* chk_brother_scan5 = nullptr;
    Gtk::CheckButton* chk_simple_scan = nullptr;
    Gtk::CheckButton* chk_skanlite = nullptr;
    Gtk::Button* btn_install_scan_components = nullptr;
    Gtk::ScrolledWindow* scanner_scroll = nullptr;  // the scanner page, in the stack
    Gtk::Label* scan_count = nullptr;               // under the status: how many were found
    Gtk::Frame* scanners_frame = nullptr;
    Gtk::Box* scanner_list = nullptr;    // one row per scanner, with Test Scan
    Gtk::Label* scanner_note = nullptr;  // searching, none found, how adding went
    Gtk::Box* scanner_fixes = nullptr;   // what to do when one is missing
    Gtk::Button* btn_search_scanners = nullptr;
    Gtk::Box* scanner_by_address = nullptr;  // shown while no network scanner is found
    Gtk::Entry* scanner_address_entry = nullptr;
    Gtk::Button* btn_add_scanner = nullptr;
    Gtk::ScrolledWindow* machine_scroll = nullptr;  // the page of the rest of the machine
    Gtk::Box* machine_box = nullptr;
    Gtk::Label* machine_note = nullptr;    // while it is read
    Gtk::Box* machine_sections = nullptr;  // every section but the note; off while busy
    Gtk::Frame* cpu_frame = nullptr;
    Gtk::Frame* wifi_frame = nullptr;
    Gtk::Frame* bt_frame = nullptr;
    Gtk::Frame* sound_frame = nullptr;
    Gtk::Frame* fw_frame = nullptr;
    Gtk::Box* cpu_list = nullptr;  // one row per device, each with its button
    Gtk::Box* wifi_list = nullptr;
    Gtk::Box* bt_list = nullptr;
    Gtk::Box* sound_list = nullptr;
    Gtk::Label* fw_desc = nullptr;
    Gtk::Box* fw_list = nullptr;  // one row per missing file
    Gtk::Button* btn_firmware = nullptr;
    Gtk::Label* lang_label = nullptr;
    Gtk::Spinner* spinner = nullptr;
    Gtk::Label* task_outcome = nullptr;   // above the log
    Gtk::Label* platform_note = nullptr;  // this is no Void system: said once, above the pages
    Gtk::TextView* log_view = nullptr;
    Gtk::Button* btn_scan_network = nullptr;
    Gtk::Button* btn_polkit = nullptr;

    // Where the window reads this machine (service paths, repository files,
    // hardware): "/" but in tests.
    std::filesystem::path root = "/";
    // xbps-install is there to run (a Void system).
    bool xbps = true;

    // The outcome that task_outcome shows; main thread only, like the widgets.
    mutable TaskOutcome outcome = TaskOutcome::None;
    // The step that runs now, shown in place of the outcome while busy.
    mutable std::optional<StepReport> step;
    mutable GraphicsPageState graphics;
    mutable PrinterPageState network;
    mutable ScannerPageState scanners;
    mutable MachinePageState machine;
    // Starts adding a found printer (set by build_ui; holds the window's sender).
    std::function<void(const FoundPrinter&)> add_printer;
    // Starts what a queue's row asks for (set by build_ui).
    std::function<void(QueueAction, const std::string&)> queue_action;
    // Starts what a USB printer's row asks for (set by build_ui).
    std::function<void(UsbAction, const UsbPrinterRow&)> usb_action;
    // A queue's setting changed in its row (queue, key, value), and one job's
    // Cancel (set by build_ui).
    std::function<void(const std::string&, const std::string&, const std::string&)> queue_setting;
    std::function<void(const QueueJob&)> cancel_job;
    // Lists the scanners again, off the main thread (set by build_ui).
    std::function<void()> search_scanners;
    // A scanner row's Test Scan (or its cancel), and a fix's button.
    std::function<void(const Scanner&)> test_scan;
    std::function<void(const ScannerFix&)> apply_fix;

    // Reads the machine again, off the main thread; a row's button (set by build_ui).
    std::function<void()> read_machine;
    std::function<void(const MachineRow&)> machine_action;

    // The busy-state set, in the order in which it is switched.
    std::array<Gtk::Button*, 13> action_buttons() const {
        return {btn_nvidia,
                btn_nv_repair,
                btn_nv_open,
                btn_amd,
                btn_intel,
                btn_setup_print,
                btn_install_print_drivers,
                btn_setup_scan,
                btn_install_scan_components,
                btn_scan_network,
                btn_polkit,
                btn_add_address,
                btn_add_scanner};
    }
};

using AppWidgetsRef = std::shared_ptr<const AppWidgets>;

// A label for text from the machine, a backend or the network: never markup,
// wrapped (inside a word only where one is longer than the line); `dim` for
// the lines below a row's title.
inline Gtk::Label* plain_label(const std::string& content, bool dim) {
    auto* l = Gtk::make_managed<Gtk::Label>();
    l->set_use_markup(false);
    l->set_text(content);
    l->set_xalign(0);
    l->set_wrap(true);
    l->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    if (dim) l->add_css_class("dim-label");
    return l;
}

// A line that shows only while it has something to say.
inline void set_line(Gtk::Label* label, const std::string& text) {
    label->set_text(text);
    label->set_visible(!text.empty());
}

}  // namespace kelmora
