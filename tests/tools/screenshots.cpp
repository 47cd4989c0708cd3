// Renders the window's pages to PNG files for the README:
//   kelmora-screenshots OUTPUT_DIR
// Each shot is a fresh window in the given language with the given page shown,
// drawn offscreen through the window's own renderer (no window manager needed).
#include <gtkmm.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "hardware/graphics.h"
#include "i18n/lang.h"
#include "ui/build_ui.h"
#include "ui/busy_state.h"
#include "ui/graphics_page.h"
#include "ui/printer_page.h"
#include "ui/machine_page.h"
#include "ui/scanner_page.h"

namespace {

void iterate(int ms) {
    const gint64 end = g_get_monotonic_time() + ms * 1000;
    while (g_get_monotonic_time() < end)
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
}

bool save(Gtk::Window& window, const std::string& file) {
    auto paintable = Gtk::WidgetPaintable::create(window);
    const int w = window.get_width(), h = window.get_height();
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(GDK_PAINTABLE(paintable->gobj()), snapshot, w, h);
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    if (node == nullptr) return false;
    GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window.gobj()));
    graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, static_cast<float>(w), static_cast<float>(h));
    GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &bounds);
    const bool ok = gdk_texture_save_to_png(texture, file.c_str());
    g_object_unref(texture);
    gsk_render_node_unref(node);
    return ok;
}

void write(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// A hybrid laptop as the window sees it: Intel graphics and a GTX 1060.
std::filesystem::path laptop_root(const std::filesystem::path& dir) {
    const auto devices = dir / "sys/bus/pci/devices";
    const std::pair<const char*, const char*> cards[] = {{"0000:00:02.0", "0x8086\n0x5917"},
                                                         {"0000:01:00.0", "0x10de\n0x1c03"}};
    for (const auto& [slot, ids] : cards) {
        const std::string text = ids;
        write(devices / slot / "class", "0x030000\n");
        write(devices / slot / "vendor", text.substr(0, 6) + "\n");
        write(devices / slot / "device", text.substr(7) + "\n");
    }
    std::filesystem::create_directories(dir / "sys/bus/pci/drivers/i915");
    std::filesystem::create_symlink("../../../../sys/bus/pci/drivers/i915",
                                    devices / "0000:00:02.0/driver");
    write(kelmora::pci_ids_path(dir),
          "8086  Intel Corporation\n\t5917  UHD Graphics 620\n"
          "10de  NVIDIA Corporation\n\t1c03  GP106 [GeForce GTX 1060 6GB]\n");
    return dir;
}

// The same machine after "Set up Services" and "Set up SANE": CUPS and SANE
// installed, their services linked.
std::filesystem::path services_root(const std::filesystem::path& dir) {
    laptop_root(dir);
    for (const char* program : {"usr/bin/cupsd", "usr/bin/scanimage"}) write(dir / program, "");
    for (const char* service : {"cupsd", "avahi-daemon", "saned"}) {
        std::filesystem::create_directories(dir / "etc/sv" / service);
        std::filesystem::create_directories(dir / "var/service");
        std::filesystem::create_symlink(dir / "etc/sv" / service, dir / "var/service" / service);
    }
    return dir;
}

// A laptop with two GPUs: Intel UHD 620 drives the screen, a Turing GPU
// (class 0x0302, no boot_vga) renders on demand.
std::filesystem::path hybrid_root(const std::filesystem::path& dir) {
    laptop_root(dir);
    const auto devices = dir / "sys/bus/pci/devices";
    write(devices / "0000:00:02.0/boot_vga", "1\n");
    write(devices / "0000:01:00.0/class", "0x030200\n");
    write(devices / "0000:01:00.0/device", "0x1f99\n");
    write(devices / "0000:01:00.0/boot_vga", "0\n");
    write(dir / "sys/class/dmi/id/chassis_type", "10\n");
    write(kelmora::pci_ids_path(dir),
          "8086  Intel Corporation\n\t5917  UHD Graphics 620\n"
          "10de  NVIDIA Corporation\n\t1f99  TU117M [GeForce GTX 1650 Mobile / Max-Q]\n");
    return dir;
}

// What a test scan of a printed page looks like, small.
std::string test_scan_picture(const std::filesystem::path& dir) {
    auto surface = Cairo::ImageSurface::create(Cairo::Surface::Format::RGB24, 170, 220);
    auto cr = Cairo::Context::create(surface);
    cr->set_source_rgb(0.97, 0.97, 0.95);
    cr->paint();
    cr->set_source_rgb(0.25, 0.25, 0.3);
    cr->rectangle(18, 18, 90, 10);
    cr->fill();
    for (int line = 0; line < 14; ++line) {
        cr->rectangle(18, 44 + line * 11, line % 4 == 3 ? 80 : 134, 4);
        cr->fill();
    }
    const std::string file = (dir / "test-scan.png").string();
    surface->write_to_png(file);
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    auto app = Gtk::Application::create("com.tamsel.pellin.screenshots",
                                        Gio::Application::Flags::NON_UNIQUE);
    app->register_application();

    struct Shot {
        kelmora::Lang lang;
        const char* page;
        const char* file;
        int nvidia_entry;
        kelmora::TaskOutcome outcome = kelmora::TaskOutcome::None;
        bool log_open = false;
        bool every_notice = false;  // restart and Secure Boot notices on
        bool network = false;       // printers found, one added
        bool way_back = false;      // nvidia470 installed, its module missing
        bool to_add = false;        // the printer page scrolled to the printers to add (This
                                    // Computer: to its end)
        bool scanners = false;      // two scanners listed, one with its test scan
        bool hybrid = false;        // a laptop with two GPUs
        bool machine = false;       // This Computer of an Intel laptop, each row with its step
    } shots[] = {
        {kelmora::Lang::En, "machine", "machine.png", 0, kelmora::TaskOutcome::None, false, false,
         false, false, false, false, false, true},
        {kelmora::Lang::De, "machine", "machine-de-log.png", 0, kelmora::TaskOutcome::Succeeded,
         true, false, false, false, false, false, false, true},
        {kelmora::Lang::Es, "machine", "machine-es.png", 0, kelmora::TaskOutcome::None, false,
         false, false, false, false, false, false, true},
        {kelmora::Lang::Fr, "machine", "machine-fr-log.png", 0, kelmora::TaskOutcome::None, true,
         false, false, false, false, false, false, true},
        {kelmora::Lang::Es, "machine", "machine-firmware-es.png", 0, kelmora::TaskOutcome::None,
         false, false, false, false, true, false, false, true},
        {kelmora::Lang::En, "scanner", "scanner.png", 0, kelmora::TaskOutcome::None, false, false,
         false, false, false, true},
        {kelmora::Lang::De, "scanner", "scanner-de-log.png", 0, kelmora::TaskOutcome::Succeeded,
         true, false, false, false, false, true},
        {kelmora::Lang::En, "gpu", "graphics-laptop.png", 0, kelmora::TaskOutcome::None, false,
         false, false, false, false, false, true},
        {kelmora::Lang::Fr, "gpu", "graphics-laptop-fr-log.png", 0, kelmora::TaskOutcome::None,
         true, false, false, false, false, false, true},
        {kelmora::Lang::En, "printer", "printer-usb.png", 0, kelmora::TaskOutcome::Succeeded, false,
         false, true, false, true},
        {kelmora::Lang::Fr, "printer", "printer-usb-fr-log.png", 0, kelmora::TaskOutcome::Succeeded,
         true, false, true, false, true},
        // The way back to nouveau beside Repair, with the log open.
        {kelmora::Lang::En, "gpu", "graphics-way-back.png", 1, kelmora::TaskOutcome::Failed, false,
         false, false, true},
        {kelmora::Lang::De, "gpu", "graphics-way-back-de-log.png", 1, kelmora::TaskOutcome::Failed,
         true, true, false, true},
        {kelmora::Lang::En, "printer", "printer-network.png", 0, kelmora::TaskOutcome::Succeeded,
         false, false, true},
        {kelmora::Lang::Fr, "printer", "printer-network-fr-log.png", 0,
         kelmora::TaskOutcome::Succeeded, true, false, true},
        {kelmora::Lang::De, "printer", "printer-network-de.png", 0, kelmora::TaskOutcome::Succeeded,
         false, false, true},
        {kelmora::Lang::Es, "printer", "printer-network-es-log.png", 0,
         kelmora::TaskOutcome::Succeeded, true, false, true},
        {kelmora::Lang::En, "gpu", "graphics.png", 0},
        {kelmora::Lang::En, "printer", "printer.png", 0},
        {kelmora::Lang::De, "printer", "printer-de.png", 0},
        {kelmora::Lang::Fr, "gpu", "graphics-fr.png", 3},  // the longest driver entry
        // The longest outcome texts, with the log open: the window must still
        // fit a 1366x768 screen.
        {kelmora::Lang::Es, "printer", "printer-es.png", 0},
        {kelmora::Lang::Es, "printer", "printer-es-log.png", 0,
         kelmora::TaskOutcome::SearchFinished, true},
        {kelmora::Lang::Fr, "gpu", "graphics-fr-log.png", 3, kelmora::TaskOutcome::Failed, true},
        // The most the graphics page says: an unsupported choice, Secure Boot, a restart.
        {kelmora::Lang::De, "gpu", "graphics-de-log.png", 0, kelmora::TaskOutcome::Succeeded, true,
         true},
        {kelmora::Lang::Es, "gpu", "graphics-es-log.png", 0, kelmora::TaskOutcome::Succeeded, true,
         true},
        {kelmora::Lang::En, "printer", "printer-log.png", 0, kelmora::TaskOutcome::Succeeded, true},
    };
    char dir_template[] = "/tmp/kelmora-shots-XXXXXX";
    if (mkdtemp(dir_template) == nullptr) return 1;
    const std::filesystem::path base = dir_template;
    const std::filesystem::path plain = laptop_root(base / "plain");
    const std::filesystem::path set_up = services_root(base / "set-up");
    const std::filesystem::path laptop = hybrid_root(base / "laptop");
    const std::string picture = test_scan_picture(base);
    // The window as on Void: xbps-install is there (a stand-in that runs nothing).
    write(base / "bin/xbps-install", "#!/bin/sh\nexit 1\n");
    std::filesystem::permissions(base / "bin/xbps-install", std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    setenv("PATH", ((base / "bin").string() + ":" + (path ? path : "")).c_str(), 1);
    int failures = 0;
    for (const Shot& shot : shots) {
        kelmora::save_lang(shot.lang);
        // Printers were added and scanners listed where the services run.
        const auto& root = shot.hybrid ? laptop : shot.network || shot.scanners ? set_up : plain;
        kelmora::MainWindow win = kelmora::build_ui(app, root);
        win.widgets->stack->set_transition_type(Gtk::StackTransitionType::NONE);
        win.widgets->scanners.asked = true;  // the shot's list, not this machine's
        win.widgets->machine.asked = true;
        win.widgets->stack->set_visible_child(shot.page);
        iterate(100);  // the detection reports
        win.widgets->combo_nvidia->set_active(shot.nvidia_entry);
        if (shot.network) {
            iterate(900);  // what the machine has is reported first; the shot's state wins
            auto& net = win.widgets->network;
            net.searched = true;
            net.printers = {{"Brother HL-L2350DW series", "ipp://Brother._ipp._tcp.local/", ""},
                            {"HP LaserJet M110w [4A1B2C]", "ipp://HP._ipp._tcp.local/", ""},
                            {"NPI1234", "ipp://NPI1234.local:631/ipp/print", "NPI1234.local"}};
            net.scanners = {{"Brother MFC-L2710DW series", "http://192.0.2.9/eSCL/", "eSCL"}};
            net.queues = std::vector<kelmora::PrintQueue>{
                {"Brother_HL-L2350DW_series", "ipp://Brother._ipp._tcp.local/",
                 kelmora::QueueState::Idle, "", true},
                {"Office_Laser",
                 "ipp://192.0.2.40:631/ipp/print",
                 kelmora::QueueState::Stopped,
                 "The printer is not responding.",
                 false,
                 true,
                 2,
                 {},
                 {},
                 {{"Office_Laser-12", "anna", "48213", "Thu 10 Dec 2026 09:12:40"},
                  {"Office_Laser-13", "ben", "1024", "Thu 10 Dec 2026 09:14:02"}}},
                {"HP_LaserJet_1020",
                 "usb://HP/LaserJet%201020?serial=00CNB",
                 kelmora::QueueState::Idle,
                 "",
                 false,
                 true,
                 0,
                 {{"Black Toner", 63, "#000000", "toner"}},
                 {{kelmora::SettingKind::Paper, "PageSize", {"Letter", "A4", "Legal"}, "A4"},
                  {kelmora::SettingKind::Duplex,
                   "Duplex",
                   {"None", "DuplexNoTumble", "DuplexTumble"},
                   "DuplexNoTumble"},
                  {kelmora::SettingKind::Colour, "ColorModel", {"Gray", "RGB"}, "Gray"}}}};
            net.settings_open = {"HP_LaserJet_1020"};
            kelmora::UsbPrinterRow laser, brother, epson;
            laser.printer.name = "HP LaserJet 1020";
            laser.printer.make = "HP";
            laser.printer.model = "LaserJet 1020";
            laser.printer.serial = "00CNB";
            laser.printer.classic = true;
            laser.driver = kelmora::PrinterDriver{"drv:///sample.drv/laserjet.ppd",
                                                  "HP LaserJet Series PCL 4/5"};
            laser.cups_answered = true;
            brother.printer.name = "Brother HL-1110 series";
            brother.printer.classic = true;
            brother.cups_answered = true;
            brother.package = kelmora::DriverPackage{"brother-brlaser", false};
            epson.printer.name = "EPSON ET-2810 Series";
            epson.printer.ipp_usb = true;
            net.usb = std::vector<kelmora::UsbPrinterRow>{laser, brother, epson};
            net.queue_note =
                kelmora::QueueNote{kelmora::QueueNote::Kind::TestCompleted,
                                   "Brother_HL-L2350DW_series", "Brother_HL-L2350DW_series-12", ""};
            net.last_add =
                kelmora::PrinterAdded{kelmora::AddResult::Added, "Brother_HL-L2350DW_series"};
            kelmora::show_printer_state(*win.widgets, shot.lang);
        }
        if (shot.scanners) {
            iterate(600);
            auto& scan = win.widgets->scanners;
            scan.asked = true;
            scan.listing = kelmora::ScannerListing{
                true,
                {{"airscan:e0:Brother MFC-L2710DW series", "Brother MFC-L2710DW series",
                  "192.0.2.9", true},
                 {"epson2:libusb:001:004", "Epson Perfection V39", "USB", false}}};
            scan.results["Brother MFC-L2710DW series"] = {picture, kelmora::ScanFailure::None};
            kelmora::show_scanner_state(*win.widgets, shot.lang);
        }
        if (shot.machine) {
            using S = kelmora::DeviceState;
            using A = kelmora::MachineAction;
            kelmora::MachineSurvey survey;
            survey.processor = {{S::MicrocodeMissing, "11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz",
                                 "", "", "0xf4", A::InstallMicrocode, "intel-ucode"}};
            survey.wifi = {{S::FirmwareMissing, "Intel Corporation Wi-Fi 6 AX201", "8086:a0f0",
                            "iwlwifi", "", A::InstallPackage, "linux-firmware-network"},
                           {S::WlMissing,
                            "Broadcom Inc. and subsidiaries BCM4360 802.11ac Dual Band Wireless "
                            "Network Adapter",
                            "14e4:43a0", "", "", A::InstallWl}};
            survey.bluetooth = {{S::RadioBlocked, "", "hci0", "", "", A::Unblock, "0"},
                                {S::BluetoothNotSetUp, "", "", "", "", A::SetUpBluetooth,
                                 "libspa-bluetooth"}};
            survey.sound = {{S::SofFirmwareMissing,
                             "Intel Corporation Tiger Lake-LP Smart Sound Technology Audio "
                             "Controller",
                             "8086:a0c8", "sof-audio-pci-intel-tgl", "", A::InstallPackage,
                             "sof-firmware"}};
            win.widgets->machine.survey = survey;
            win.widgets->machine.firmware = std::vector<kelmora::MissingFirmware>{
                {"iwlwifi-cc-a0-77.ucode", "linux-firmware-network"}};
            kelmora::show_machine_state(*win.widgets, shot.lang);
        }
        if (shot.hybrid) {
            iterate(600);
            win.widgets->graphics.installed =
                kelmora::InstalledGraphics{{"nvidia"}, false, true, {}, false, "suspended"};
            kelmora::show_graphics_state(*win.widgets, shot.lang);
        }
        if (shot.every_notice) {
            win.widgets->graphics.hardware.secure_boot = true;
            win.widgets->graphics.restart_pending = true;
            kelmora::show_graphics_state(*win.widgets, shot.lang);
        }
        if (shot.way_back) {
            win.widgets->graphics.installed =
                kelmora::InstalledGraphics{{"nvidia470"}, false, false, {"6.12.7_1"}};
            kelmora::show_graphics_state(*win.widgets, shot.lang);
        }
        win.widgets->outcome = shot.outcome;
        kelmora::show_outcome(*win.widgets, shot.lang);
        win.log_expander->set_expanded(shot.log_open);
        iterate(400);
        if (shot.to_add && shot.machine) {  // the end of the page: the missing firmware
            const auto a = win.widgets->machine_scroll->get_vadjustment();
            a->set_value(a->get_upper() - a->get_page_size());
            iterate(200);
        } else if (shot.to_add) {
            double x = 0, y = 0;
            win.widgets->net_frame->translate_coordinates(*win.widgets->printer_box, 0, 0, x, y);
            win.widgets->printer_scroll->get_vadjustment()->set_value(y - 8);
            iterate(200);
        }
        const std::string file = (out / shot.file).string();
        if (save(*win.widgets->window, file)) {
            std::printf("%s %dx%d\n", file.c_str(), win.widgets->window->get_width(),
                        win.widgets->window->get_height());
        } else {
            std::fprintf(stderr, "could not render %s\n", file.c_str());
            ++failures;
        }
        win.widgets->window->destroy();
        iterate(50);
    }
    std::filesystem::remove_all(base);
    return failures == 0 ? 0 : 1;
}
