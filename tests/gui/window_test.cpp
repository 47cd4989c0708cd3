// Real windows under a (virtual) display, driven by clicks, with fake tools on PATH.
#include <gtest/gtest.h>

#include "i18n/catalogue.h"
#include "i18n/lang.h"
#include "packages/install_plan.h"
#include "test_support.h"
#include "ui/build_ui.h"
#include "ui/busy_state.h"
#include "ui/graphics_page.h"
#include "ui/log_receiver.h"

namespace kelmora {
namespace {

using test::FakeTools;
using test::run_until;

Glib::RefPtr<Gtk::Application> application() {
    static Glib::RefPtr<Gtk::Application> app = [] {
        auto a = Gtk::Application::create("com.tamsel.pellin.tests",
                                          Gio::Application::Flags::NON_UNIQUE);
        a->register_application();  // runs startup, which initialises GTK
        return a;
    }();
    return app;
}

// True when each text occurs in `text` after the previous one.
bool in_order(const std::string& text, const std::vector<std::string>& parts) {
    std::size_t at = 0;
    for (const auto& part : parts) {
        at = text.find(part, at);
        if (at == std::string::npos) return false;
        at += part.size();
    }
    return true;
}

// As a person clicks: nothing happens on an insensitive button.
void click(Gtk::Button* button) {
    if (button == nullptr) {
        ADD_FAILURE() << "no such button";
        return;
    }
    if (button->is_sensitive()) g_signal_emit_by_name(button->gobj(), "clicked");
}

class Window : public ::testing::Test {
  protected:
    test::TempDir home;
    test::EnvGuard env;
    FakeTools fakes;
    MainWindow win;

    void SetUp() override {
        env.set("HOME", home.path().string());
        for (const char* v : {"LANG", "LC_ALL", "LC_MESSAGES"}) env.set(v, std::nullopt);
        // The window reads the same root as the fake xbps keeps, never this
        // machine's own files; its repositories are enabled.
        const auto dropins = root() / "usr/share/xbps.d";
        std::filesystem::create_directories(dropins);
        for (const char* r : {"nonfree", "multilib", "multilib-nonfree"})
            test::write_file(dropins / ("10-repository-" + std::string(r) + ".conf"), "");
    }
    void TearDown() override {
        for (Gtk::Window* w : application()->get_windows()) w->destroy();
        run_until([] { return false; }, std::chrono::milliseconds(20));
    }
    std::filesystem::path root() const { return fakes.dir() / "xbps-root"; }
    void open() { win = build_ui(application(), root()); }
    const AppWidgets& w() const { return *win.widgets; }
    std::string log() const { return w().log_view->get_buffer()->get_text().raw(); }
    bool busy() const { return !w().btn_amd->get_sensitive(); }
    bool log_has(const std::string& text) const { return log().find(text) != std::string::npos; }
    bool wait_for(const std::string& text) {
        return run_until([&] { return log_has(text); });
    }
    std::string stored_lang() const { return test::read_file(home / ".config/kelmora/lang"); }
    // The log from the task's own install command on (after any repository step).
    std::string main_run() const {
        const std::string text = log();
        const std::size_t at = text.rfind(R"(Starting: pkexec ["xbps-install", "-Su")");
        return at == std::string::npos ? std::string() : text.substr(at);
    }
    std::vector<std::string> last_pkexec_argv() const {
        return fakes.pkexec_argv(fakes.pkexec_calls());
    }
};

TEST_F(Window, OpensIdleWithEveryTextAppliedAndTheLanguageStored) {
    env.set("LANG", "C.UTF-8");
    open();
    EXPECT_EQ(w().window->get_title(), "Void Linux System Setup");
    EXPECT_EQ(stored_lang(), "en");
    EXPECT_EQ(w().stack->get_visible_child_name(), "gpu");
    EXPECT_EQ(w().stack->get_page(*w().printer_scroll)->get_name(), "printer");
    EXPECT_EQ(w().stack->get_page(*w().scanner_scroll)->get_title(), "Scanner");
    EXPECT_EQ(w().nv_frame->get_label(), " NVIDIA GeForce");
    EXPECT_EQ(w().btn_nvidia->get_label(), "Install Nvidia + 32-Bit");
    EXPECT_EQ(w().btn_scan_network->get_label(), "Scan for Network Printers & Scanners");
    EXPECT_EQ(w().btn_polkit->get_label(), "Setup Polkit Security Rules");
    EXPECT_EQ(w().combo_nvidia->get_active_row_number(), 0);
    EXPECT_EQ(w().combo_nvidia->get_active_text(), "Current driver (nvidia)");
    EXPECT_EQ(win.lang_combo->get_active_row_number(), 0);
    EXPECT_EQ(win.log_expander->get_label(), "Installations-Log");
    EXPECT_FALSE(win.log_expander->get_expanded());
    EXPECT_TRUE(log().empty());
    EXPECT_FALSE(w().spinner->get_spinning());
    for (Gtk::Button* b : w().action_buttons()) EXPECT_TRUE(b->get_sensitive());
    EXPECT_FALSE(w().pr_srv_status->get_label().empty());
    EXPECT_TRUE(w().pr_srv_status->get_use_markup());
    EXPECT_FALSE(w().scan_srv_label->get_use_markup());
}

TEST_F(Window, StoredLanguageWinsAndTheInitialSelectionStoresNothing) {
    env.set("LANG", "fr_FR.UTF-8");
    std::filesystem::create_directories(home / ".config/kelmora");
    test::write_file(home / ".config/kelmora/lang", "DE\n");
    open();
    EXPECT_EQ(w().window->get_title(), "Void Linux System-Setup");
    EXPECT_EQ(win.lang_combo->get_active_text(), "Deutsch");
    EXPECT_EQ(w().lang_label->get_label(), "Sprache:");
    EXPECT_EQ(stored_lang(), "DE\n");
}

TEST_F(Window, AmdInstallRunsBusyThenEndsWithTheSuccessBanner) {
    fakes.add_script("xbps-install", "echo first; sleep 0.3; echo second\n");
    open();
    click(w().btn_amd);
    EXPECT_TRUE(w().spinner->get_spinning());
    for (Gtk::Button* b : w().action_buttons()) EXPECT_FALSE(b->get_sensitive());
    EXPECT_TRUE(win.lang_combo->get_sensitive());
    EXPECT_TRUE(w().combo_nvidia->get_sensitive());
    EXPECT_TRUE(w().chk_hp->get_sensitive());
    ASSERT_TRUE(wait_for(std::string(success_banner)));
    EXPECT_FALSE(busy());
    EXPECT_FALSE(w().spinner->get_spinning());
    const std::string starting =
        R"(Starting: pkexec ["xbps-install", "-Su", "-y", "void-repo-multilib", "linux-firmware-amd", )"
        R"("mesa-dri", "vulkan-loader", "mesa-vulkan-radeon", "xf86-video-amdgpu", "mesa-vaapi", )"
        R"("mesa-dri-32bit", )"
        R"("vulkan-loader-32bit", "mesa-vulkan-radeon-32bit"])"
        "\n";
    const std::string banner = std::string(success_banner) + "\n";
    // The readers are not joined, so the child's last line may land after the
    // banner; everything else has a fixed order.
    ASSERT_TRUE(wait_for("second\n"));
    EXPECT_TRUE(main_run() == starting + "first\nsecond\n" + banner ||
                main_run() == starting + "first\n" + banner + "second\n")
        << log();
}

TEST_F(Window, DismissedAuthenticationEndsTheTaskAndTheNextClickInstallsTheChosenDriver) {
    fakes.set("pkexec.outcomes", "dismiss\n");
    open();
    w().combo_nvidia->set_active(2);
    click(w().btn_nvidia);
    ASSERT_TRUE(wait_for(std::string(failure_banner)));
    EXPECT_FALSE(busy());
    EXPECT_EQ(fakes.pkexec_calls(), 1);  // nothing runs after a dismissed step

    w().combo_nvidia->set_active(3);
    click(w().btn_nvidia);
    ASSERT_TRUE(wait_for(std::string(success_banner)));
    EXPECT_EQ(last_pkexec_argv(),
              (std::vector<std::string>{"xbps-install", "-Su", "-y", "void-repo-multilib",
                                        "void-repo-multilib-nonfree", "void-repo-nonfree",
                                        "nvidia580", "nvidia580-libs-32bit"}));
}

TEST_F(Window, MissingPkexecEndsTheTaskWithTheErrorLineAndFailure) {
    std::filesystem::remove(fakes.bin() / "pkexec");
    open();
    click(w().btn_intel);
    ASSERT_TRUE(wait_for(std::string(failure_banner)));
    EXPECT_TRUE(
        log_has("\nFehler beim Starten von pkexec: No such file or directory (os error 2)\n"));
}

TEST_F(Window, CheckButtonSelectionsDecideThePackagesAndNoneDoesNothing) {
    open();
    click(w().btn_install_print_drivers);
    click(w().btn_install_scan_components);
    EXPECT_FALSE(busy());
    EXPECT_FALSE(w().spinner->get_spinning());
    run_until([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_TRUE(log().empty());
    EXPECT_EQ(fakes.pkexec_calls(), 0);

    w().chk_skanlite->set_active(true);
    w().chk_brother_scan4->set_active(true);
    click(w().btn_install_scan_components);
    ASSERT_TRUE(wait_for(std::string(success_banner)));
    EXPECT_EQ(last_pkexec_argv(), (std::vector<std::string>{"xbps-install", "-Su", "-y",
                                                            "brother-brscan4", "skanlite"}));
    EXPECT_TRUE(w().chk_skanlite->get_active());  // nothing is reset after an install
}

TEST_F(Window, LanguageChangeReappliesTextsStoresAndKeepsChecks) {
    fakes.add_script("xbps-install", "sleep 0.5\n");
    open();
    w().chk_hp->set_active(true);
    w().combo_nvidia->set_active(2);
    click(w().btn_amd);  // a language change works while a task runs
    struct Case {
        int index;
        const char* title;
        const char* polkit;
        const char* code;
    } cases[] = {
        {1, "Void Linux System-Setup", "Sicherheitsregel (Polkit) f\xC3\xBCr App einrichten", "de"},
        {2, "Configuraci\xC3\xB3n de Sistema de Void Linux",
         "Configurar regla de seguridad (Polkit)", "es"},
        {3, "Configuration Syst\xC3\xA8me de Void Linux",
         "Configurer la r\xC3\xA8gle de s\xC3\xA9"
         "curit\xC3\xA9 (Polkit)",
         "fr"},
        {0, "Void Linux System Setup", "Setup Polkit Security Rules", "en"},
    };
    for (const auto& c : cases) {
        w().combo_nvidia->set_active(2);
        win.lang_combo->set_active(c.index);
        EXPECT_EQ(w().window->get_title(), c.title);
        EXPECT_EQ(w().btn_polkit->get_label(), c.polkit);
        EXPECT_EQ(stored_lang(), c.code);
        EXPECT_EQ(w().combo_nvidia->get_active_row_number(), 2);  // the choice stays
        EXPECT_EQ(w().combo_nvidia->get_model()->children().size(), 4u);
        EXPECT_TRUE(w().chk_hp->get_active());
        EXPECT_EQ(win.log_expander->get_label(), "Installations-Log");
        EXPECT_TRUE(busy());
    }
    win.lang_combo->set_active(1);
    run_until([] { return false; }, std::chrono::milliseconds(50));  // handles RefreshStatus
    const Glib::ustring status = w().scan_srv_status->get_text();
    EXPECT_TRUE(status == "Nicht installiert" || status == "\xE2\x97\x8B Dienst inaktiv" ||
                status == "\xE2\x97\x8F Dienst aktiv")
        << status;
    ASSERT_TRUE(wait_for(std::string(success_banner)));
}

TEST_F(Window, EveryWidgetShowsItsCatalogueTextInEveryLanguage) {
    open();
    const auto& x = w();
    const std::pair<std::function<Glib::ustring()>, const char*> wiring[] = {
        {[&] { return x.stack->get_page(*x.gpu_scroll)->get_title(); }, "tab_graphics"},
        {[&] { return x.stack->get_page(*x.printer_scroll)->get_title(); }, "tab_printer"},
        {[&] { return x.stack->get_page(*x.scanner_scroll)->get_title(); }, "tab_scanner"},
        {[&] { return x.nv_frame->get_label(); }, "nv_title"},
        {[&] { return x.btn_nvidia->get_label(); }, "nv_btn"},
        {[&] { return x.btn_nv_repair->get_label(); }, "nv_repair_btn"},
        {[&] { return x.btn_nv_open->get_label(); }, "nv_open_btn"},
        {[&] { return x.combo_nvidia->get_active_text(); }, "nv_opt_current"},
        {[&] { return x.amd_frame->get_label(); }, "amd_title"},
        {[&] { return x.amd_label->get_text(); }, "amd_desc"},
        {[&] { return x.btn_amd->get_label(); }, "amd_btn"},
        {[&] { return x.intel_frame->get_label(); }, "intel_title"},
        {[&] { return x.intel_label->get_text(); }, "intel_desc"},
        {[&] { return x.btn_intel->get_label(); }, "intel_btn"},
        {[&] { return x.pr_srv_frame->get_label(); }, "pr_srv_title"},
        {[&] { return x.pr_srv_label->get_label(); }, "pr_srv_desc"},
        {[&] { return x.btn_setup_print->get_label(); }, "pr_srv_btn"},
        {[&] { return x.pr_drv_frame->get_label(); }, "pr_drv_title"},
        {[&] { return x.chk_hp->get_label(); }, "chk_hp"},
        {[&] { return x.chk_brother_pr->get_label(); }, "chk_brother_pr"},
        {[&] { return x.chk_epson_pr->get_label(); }, "chk_epson_pr"},
        {[&] { return x.chk_gutenprint->get_label(); }, "chk_gutenprint"},
        {[&] { return x.scan_srv_frame->get_label(); }, "scan_srv_title"},
        {[&] { return x.scan_srv_label->get_label(); }, "scan_srv_desc"},
        {[&] { return x.btn_setup_scan->get_label(); }, "scan_srv_btn"},
        {[&] { return x.scan_apps_frame->get_label(); }, "scan_apps_title"},
        {[&] { return x.chk_brother_scan4->get_label(); }, "chk_brother_scan4"},
        {[&] { return x.chk_brother_scan5->get_label(); }, "chk_brother_scan5"},
        {[&] { return x.chk_simple_scan->get_label(); }, "chk_simple_scan"},
        {[&] { return x.chk_skanlite->get_label(); }, "chk_skanlite"},
        {[&] { return x.lang_label->get_label(); }, "lang_select"},
        {[&] { return x.btn_scan_network->get_label(); }, "btn_scan_network"},
        {[&] { return x.stack->get_page(*x.machine_scroll)->get_title(); }, "tab_machine"},
        {[&] { return x.cpu_frame->get_label(); }, "mc_cpu_title"},
        {[&] { return x.wifi_frame->get_label(); }, "mc_wifi_title"},
        {[&] { return x.bt_frame->get_label(); }, "mc_bt_title"},
        {[&] { return x.sound_frame->get_label(); }, "mc_sound_title"},
        {[&] { return x.fw_frame->get_label(); }, "mc_fw_title"},
        {[&] { return x.fw_desc->get_label(); }, "mc_fw_desc"},
        {[&] { return x.btn_firmware->get_label(); }, "mc_fw_btn"},
        {[&] { return x.machine_note->get_label(); }, "mc_reading"},
    };
    for (int index : {1, 2, 3, 0}) {
        win.lang_combo->set_active(index);
        const Lang lang = lang_from_index(index);
        for (const auto& [shown, key] : wiring)
            EXPECT_EQ(shown().raw(), get_text(lang, key)) << key << " " << index;
        EXPECT_EQ(x.btn_install_print_drivers->get_label().raw(), print_drivers_button_text(lang));
        EXPECT_EQ(x.btn_install_scan_components->get_label().raw(),
                  scan_components_button_text(lang));
        std::vector<std::string> entries;
        for (const char* name : {"English", "Deutsch", "Espa\xC3\xB1ol",
                                 "Fran\xC3\xA7"
                                 "ais"})
            entries.push_back(name);
        for (int i = 0; i < 4; ++i) {
            win.lang_combo->set_active(i);
            EXPECT_EQ(win.lang_combo->get_active_text().raw(), entries[i]);
        }
        win.lang_combo->set_active(index);
    }
}

TEST_F(Window, TwoScansGiveTwoResultBlocksAndOpenTheLog) {
    fakes.set("driverless.stdout", "ipp://printer.local/ipp/print\n");
    fakes.set("avahi-browse.stdout", "   hostname = [<b>x</b>]\n");
    open();
    const std::string block =
        "Scanning network for printers via AirScan & CUPS...\n\n--- NETWORK SCAN RESULTS ---\n"
        "Found: IPP (Driverless): ipp://printer.local/ipp/print\nFound: Avahi IPP: hostname = "
        "[<b>x</b>]\n"
        "----------------------------\n";
    click(w().btn_scan_network);
    EXPECT_TRUE(busy());
    ASSERT_TRUE(run_until([&] { return log() == block; }));
    EXPECT_FALSE(busy());
    EXPECT_TRUE(win.log_expander->get_expanded());
    click(w().btn_scan_network);
    ASSERT_TRUE(run_until([&] { return log() == block + block; }));
    EXPECT_TRUE(win.log_expander->get_expanded());
}

TEST_F(Window, ServiceAndPolkitButtonsEndWithBanners) {
    open();
    click(w().btn_setup_print);
    ASSERT_TRUE(wait_for(std::string(success_banner)));
    EXPECT_TRUE(in_order(
        log(), {"Aktiviere Runit-Dienste (CUPS & Avahi)...\n", std::string(success_banner)}));
    click(w().btn_setup_scan);
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_TRUE(
        in_order(log(), {"Aktiviere Runit-Dienst (saned)...\n", std::string(success_banner)}));
    click(w().btn_polkit);
    ASSERT_TRUE(
        wait_for("Schreibe Polkit Policy-Datei...\nPolkit-Policy erfolgreich registriert!\n" +
                 std::string(success_banner)));
    EXPECT_EQ(fakes.pkexec_calls(), 6);
    EXPECT_FALSE(busy());
}

TEST_F(Window, LateLineAfterDoneIsAppendedAndLeavesTheWindowIdle) {
    open();
    LogContext context = make_log_context(win.widgets, win.log_expander);
    handle_ui_message(Done{true}, context);
    handle_ui_message(Line{"late"}, context);
    handle_ui_message(Line{""}, context);
    handle_ui_message(Done{false}, context);
    EXPECT_EQ(log(),
              std::string(success_banner) + "\nlate\n\n" + std::string(failure_banner) + "\n");
    EXPECT_FALSE(busy());
    handle_ui_message(Line{std::string("nul\0byte", 8)}, context);
    end_log_dispatch(context);
    EXPECT_TRUE(
        log_has("nul\xEF\xBF\xBD"
                "byte\n"));
}

TEST_F(Window, BatchedLinesGiveTheSameLogAsOneInsertPerLine) {
    open();
    // Lines of every kind, with the other messages between them, cut into
    // dispatches of different lengths.
    std::vector<UiMessage> messages;
    std::string expected;
    const auto line = [&](std::string text) {
        expected += text + "\n";
        for (auto& c : expected)
            if (c == '\0') c = '?';
        messages.emplace_back(std::in_place_type<Line>, std::move(text));
    };
    for (int i = 0; i < 3000; ++i) {
        line("line " + std::to_string(i));
        if (i % 700 == 0) line("");
        if (i % 900 == 1) line(std::string(100000, 'x'));  // over the batch limit alone
        if (i % 1000 == 2) line(std::string("a\0b", 3));
        if (i % 1100 == 3) {
            messages.emplace_back(std::in_place_type<Done>, i % 2 == 0);
            expected += std::string(i % 2 == 0 ? success_banner : failure_banner) + "\n";
        }
        if (i % 1300 == 4) messages.emplace_back(std::in_place_type<RefreshStatus>);
        if (i % 1500 == 5) {
            messages.emplace_back(std::in_place_type<ScanResults>,
                                  std::vector<std::string>{"Avahi IPP: hostname = [x]"});
            expected += scan_result_block({"Avahi IPP: hostname = [x]"});
        }
    }
    LogContext context = make_log_context(win.widgets, win.log_expander);
    std::size_t next = 0;
    for (std::size_t cut : {1u, 2u, 5u, 700u, 1u, 4000u, 100000u}) {
        for (std::size_t i = 0; i < cut && next < messages.size(); ++i)
            handle_ui_message(std::move(messages[next++]), context);
        end_log_dispatch(context);
    }
    ASSERT_EQ(next, messages.size());
    std::string text = log();
    const std::string replacement = "\xEF\xBF\xBD";
    for (std::size_t at; (at = text.find(replacement)) != std::string::npos;)
        text.replace(at, replacement.size(), "?");
    EXPECT_EQ(text, expected);
}

TEST_F(Window, ClosingTheWindowWhileATaskStreamsIsSafe) {
    fakes.add_script("xbps-install",
                     "i=0; while [ $i -lt 3000 ]; do echo \"line $i\"; i=$((i+1)); done\n");
    open();
    click(w().btn_amd);
    ASSERT_TRUE(wait_for("line 10\n"));
    UiReceiver receiver = win.receiver;
    win = MainWindow{};
    application()->get_windows().front()->close();
    EXPECT_FALSE(receiver.attached());
    // The worker and readers run on and their sends fail quietly.
    run_until([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_TRUE(application()->get_windows().empty());

    // Closed before it ever went idle: what a window prepares for its first
    // task then never touches the destroyed widgets.
    open();
    win = MainWindow{};
    application()->get_windows().front()->destroy();
    run_until([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_TRUE(application()->get_windows().empty());
}

TEST_F(Window, TwoWindowsHaveTheirOwnBusyStateLogAndTasks) {
    fakes.add_script("xbps-install",
                     "i=0; while [ $i -lt 2000 ]; do echo \"$1 $i\"; i=$((i+1)); done\n");
    open();
    MainWindow first = win;
    open();
    click(first.widgets->btn_amd);
    EXPECT_FALSE(w().spinner->get_spinning());  // the other window stays idle
    EXPECT_TRUE(w().btn_amd->get_sensitive());
    click(w().btn_intel);
    const auto banner_in = [](const MainWindow& m) {
        return m.widgets->log_view->get_buffer()->get_text().raw().find(
                   std::string(success_banner)) != std::string::npos;
    };
    ASSERT_TRUE(run_until([&] { return banner_in(first) && banner_in(win); }));
    const std::string a = first.widgets->log_view->get_buffer()->get_text().raw(), b = log();
    // Each window shows its own run in full: the -Su argument tells them apart.
    EXPECT_NE(a.find("-Su 1999\n"), std::string::npos);
    EXPECT_NE(b.find("-Su 1999\n"), std::string::npos);
    EXPECT_NE(a.find("linux-firmware-amd"), std::string::npos);
    EXPECT_EQ(a.find("linux-firmware-intel"), std::string::npos);
    EXPECT_NE(b.find("linux-firmware-intel"), std::string::npos);
}

TEST_F(Window, AThousandLanguageChangesWhileATaskStreams) {
    fakes.add_script("xbps-install",
                     "i=0; while [ $i -lt 3000 ]; do echo \"line $i\"; i=$((i+1)); done\n");
    open();
    click(w().btn_amd);
    for (int i = 0; i < 1000; ++i) {
        win.lang_combo->set_active(i % 4);
        g_main_context_iteration(nullptr, FALSE);
    }
    ASSERT_TRUE(wait_for(std::string(success_banner)));
    run_until([&] { return log_has("line 2999\n"); });
    const std::string text = log();
    for (int i = 0; i < 3000; i += 499)
        EXPECT_NE(text.find("\nline " + std::to_string(i) + "\n"), std::string::npos);
    EXPECT_EQ(stored_lang(), "fr");  // 999 % 4 == 3
    EXPECT_EQ(w().window->get_title(), "Configuration Syst\xC3\xA8me de Void Linux");
    EXPECT_FALSE(busy());
}

}  // namespace
}  // namespace kelmora

namespace kelmora {
namespace {

TEST_F(Window, TabReachesAndLeavesEveryControlWithTheLogCollapsedOrOpen) {
    open();
    const auto chain = [&] {
        // Tab from the start until the focus comes back to where it first was.
        std::vector<Gtk::Widget*> seen;
        for (int i = 0; i < 60; ++i) {
            w().window->child_focus(Gtk::DirectionType::TAB_FORWARD);
            Gtk::Widget* focus = w().window->get_focus();
            if (!seen.empty() && focus == seen.front()) return seen;
            seen.push_back(focus);
        }
        return std::vector<Gtk::Widget*>{};  // never came back: a trap
    };
    const auto reached = [](const std::vector<Gtk::Widget*>& c, Gtk::Widget* target) {
        return std::any_of(c.begin(), c.end(), [&](Gtk::Widget* f) {
            return f != nullptr && (f == target || f->is_ancestor(*target));
        });
    };
    for (bool expanded : {false, true}) {
        win.log_expander->set_expanded(expanded);
        w().window->unset_focus();
        const std::vector<Gtk::Widget*> c = chain();
        ASSERT_FALSE(c.empty()) << "focus trapped, log expanded: " << expanded;
        for (Gtk::Widget* target :
             {static_cast<Gtk::Widget*>(win.lang_combo),
              static_cast<Gtk::Widget*>(w().combo_nvidia),
              static_cast<Gtk::Widget*>(w().btn_nvidia), static_cast<Gtk::Widget*>(w().btn_intel),
              static_cast<Gtk::Widget*>(w().btn_polkit),
              static_cast<Gtk::Widget*>(win.log_expander)})
            EXPECT_TRUE(reached(c, target)) << "log expanded: " << expanded;
        EXPECT_EQ(reached(c, w().log_view), expanded);
    }
}

TEST_F(Window, TheOutcomeShowsAboveTheLogInTheInterfaceLanguageUntilTheNextTask) {
    // The log is collapsed by default: without this a success, a failure and a
    // dismissed password dialog all look like nothing happened.
    const auto outcome = [&] { return std::string(w().task_outcome->get_text()); };
    open();
    EXPECT_EQ(outcome(), "");
    fakes.set("pkexec.outcomes", "ok\nok\nok\ndismiss\nfail\n");
    click(w().btn_setup_print);
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(outcome(), "Done");
    // The window reads the machine through its root: cupsd is there now, its
    // service link is not (the fake ln makes none).
    EXPECT_NE(w().pr_srv_status->get_label().raw().find("Service inactive"), std::string::npos);
    // A dismissed password before anything changed is a cancel, not a failure;
    // the log still ends with the failure banner.
    click(w().btn_amd);
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(outcome(), "Cancelled \u2014 nothing was changed");
    EXPECT_FALSE(w().task_outcome->has_css_class("error"));
    EXPECT_TRUE(log().ends_with(std::string(failure_banner) + "\n"));
    click(w().btn_amd);
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(outcome(), "Failed \u2014 see the log");
    win.lang_combo->set_active(1);
    EXPECT_EQ(outcome(), "Fehlgeschlagen \u2014 siehe Log");
    click(w().btn_scan_network);
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(outcome(), "Suche beendet \u2014 siehe Log");
    // polkit not running: its fix, as an error, and the buttons usable again.
    fakes.set("pkexec.outcomes", "noauthority\n");
    std::filesystem::remove(fakes.dir() / "pkexec.count");
    click(w().btn_amd);
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(outcome(), "Polkit läuft nicht \u2014 aktivieren Sie die Dienste dbus und polkitd");
    EXPECT_TRUE(w().task_outcome->has_css_class("error"));
    EXPECT_TRUE(w().btn_amd->get_sensitive());
}

// The last line stays in view after every append, also in a log so long that
// the view has not laid out the lines above it yet (and then counts them as
// 0 px high, so that the bottom of the scroll range is a line in the middle);
// a user who scrolled up to read is left where they are.
TEST_F(Window, TheLogShowsItsEndAfterATaskUnlessTheUserReadsAbove) {
    std::string many;
    for (int i = 0; i < 20000; ++i) many += "line " + std::to_string(i) + " of a long install\n";
    fakes.set("xbps.stdout", many);
    open();
    win.log_expander->set_expanded(true);
    const auto adjustment =
        dynamic_cast<Gtk::ScrolledWindow*>(w().log_view->get_parent())->get_vadjustment();
    const auto settle = [] { run_until([] { return false; }, std::chrono::milliseconds(300)); };
    const auto at_end = [&] {  // the last line lies within the visible part
        Gdk::Rectangle visible, last;
        w().log_view->get_visible_rect(visible);
        w().log_view->get_iter_location(w().log_view->get_buffer()->end(), last);
        return last.get_y() >= visible.get_y() &&
               last.get_y() + last.get_height() <= visible.get_y() + visible.get_height();
    };
    click(w().btn_amd);
    ASSERT_TRUE(wait_for(std::string(success_banner)));
    settle();
    EXPECT_GT(adjustment->get_upper(), 2 * adjustment->get_page_size());
    EXPECT_TRUE(at_end()) << adjustment->get_value() << " of " << adjustment->get_upper();

    // The user scrolls up right after a line arrived, before the view laid it
    // out: the scroll to the end asked for with that line does not take them back.
    append_log(w(), "one more line\n");
    adjustment->set_value(0);
    settle();
    EXPECT_EQ(adjustment->get_value(), 0);

    click(w().btn_intel);
    ASSERT_TRUE(run_until([&] {
        return log().rfind(std::string(success_banner)) > log().find(std::string(success_banner));
    }));
    settle();
    EXPECT_EQ(adjustment->get_value(), 0);

    adjustment->set_value(adjustment->get_upper() -
                          adjustment->get_page_size());  // back at the end
    click(w().btn_scan_network);
    ASSERT_TRUE(wait_for("--- NETWORK SCAN RESULTS ---"));
    settle();
    EXPECT_TRUE(at_end()) << adjustment->get_value() << " of " << adjustment->get_upper();
}

// A driver that fits the card is not replaced by one that drives none of the
// machine's cards with one unnoticed click: the first click only asks.
TEST_F(Window, AWrongGenerationOverAFittingOneNeedsASecondClick) {
    test::write_pci_ids(root());
    test::write_pci_device(root(), "0000:01:00.0", "0x030000", "0x10de", "0x1c03", "nvidia");
    std::string db = "xbps\n";
    for (const std::string& member : nvidia_generation_members("nvidia580")) db += member + "\n";
    fakes.set("xbps-installed", db);
    open();
    const auto& x = w();
    ASSERT_TRUE(run_until([&] { return x.gpu_status->get_visible(); }));
    EXPECT_TRUE(x.btn_nvidia->has_css_class("suggested-action"));
    x.combo_nvidia->set_active(0);  // "nvidia" does not drive a Pascal card
    EXPECT_FALSE(x.btn_nvidia->has_css_class("suggested-action"));
    EXPECT_TRUE(x.nv_warning_icon->get_visible());
    EXPECT_TRUE(x.nv_notes->has_css_class("kelmora-warning"));
    click(x.btn_nvidia);
    EXPECT_EQ(x.btn_nvidia->get_label(), "Replace nvidia580 anyway?");
    EXPECT_TRUE(x.btn_nvidia->has_css_class("destructive-action"));
    run_until([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(fakes.pkexec_calls(), 0);  // the first click ran nothing
    click(x.btn_nvidia);
    ASSERT_TRUE(wait_for(std::string(success_banner)));
    EXPECT_EQ(last_pkexec_argv().back(), "nvidia-libs-32bit");
    EXPECT_EQ(x.btn_nvidia->get_label().raw(), get_text(Lang::En, "nv_btn"));
    // Choosing another entry ends a question nobody answered.
    x.combo_nvidia->set_active(3);
    x.combo_nvidia->set_active(0);
    EXPECT_EQ(generation_at_risk(x.graphics.hardware, x.graphics.installed, 0), "");  // now nvidia
    EXPECT_EQ(generation_at_risk(x.graphics.hardware,
                                 InstalledGraphics{{"nvidia580"}, false, false, {}}, 0),
              "nvidia580");
    EXPECT_EQ(generation_at_risk(x.graphics.hardware,
                                 InstalledGraphics{{"nvidia390"}, false, false, {}}, 3),
              "");  // a fitting choice puts nothing at risk
}

// A switch between generations that both drive the card still removes one:
// the first click asks on the button (which keeps its size), the second runs.
// A laptop with two GPUs says which drives the screen and how the NVIDIA one sleeps.
TEST_F(Window, ASwitchAsksFirstAndALaptopNamesItsTwoGpus) {
    test::write_pci_ids(root());
    test::write_pci_device(root(), "0000:00:02.0", "0x030000", "0x8086", "0x5917", "i915");
    test::write_file(root() / "sys/bus/pci/devices/0000:00:02.0/boot_vga", "1\n");
    test::write_pci_device(root(), "0000:01:00.0", "0x030200", "0x10de", "0x1c03", "nvidia");
    test::write_file(root() / "sys/bus/pci/devices/0000:01:00.0/power/runtime_status",
                     "suspended\n");
    test::write_file(root() / "sys/class/dmi/id/chassis_type", "10\n");
    std::string db = "xbps\n";
    for (const std::string& member : nvidia_generation_members("nvidia470")) db += member + "\n";
    fakes.set("xbps-installed", db);
    open();
    const auto& x = w();
    ASSERT_TRUE(run_until([&] { return x.graphics.installed.has_value() && x.graphics.detected; }));
    EXPECT_NE(x.gpu_cards->get_text().raw().find(
                  "Laptop with two GPUs: the screen runs on Intel, the NVIDIA GPU renders what you "
                  "start with prime-run \u2014 NVIDIA GPU power state: suspended"),
              std::string::npos)
        << x.gpu_cards->get_text();
    x.combo_nvidia->set_active(3);
    EXPECT_EQ(x.nv_notes->get_text().raw(), "X11 sessions only");  // 470 is installed
    run_until([] { return false; }, std::chrono::milliseconds(100));
    const int width = x.btn_nvidia->get_width();
    click(x.btn_nvidia);
    EXPECT_EQ(x.btn_nvidia->get_label(), "Replace nvidia470 with nvidia580?");
    EXPECT_TRUE(x.btn_nvidia->has_css_class("destructive-action"));
    run_until([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(x.btn_nvidia->get_width(), width);
    EXPECT_EQ(fakes.pkexec_calls(), 0);
    click(x.btn_nvidia);
    ASSERT_TRUE(run_until([&] { return !busy(); }, std::chrono::seconds(60)));
    EXPECT_EQ(last_pkexec_argv().back(), "nvidia580-libs-32bit");
    EXPECT_EQ(x.btn_nvidia->get_label().raw(), get_text(Lang::En, "nv_btn"));
}

// Read-only texts take no Tab stop; Ctrl+W closes the window, Ctrl+Q every window.
TEST_F(Window, KeyboardShortcutsCloseWindowsAndTextsAreNoTabStops) {
    open();
    EXPECT_FALSE(w().gpu_cards->get_selectable());
    EXPECT_TRUE(w().log_view->has_css_class("kelmora-log"));  // its focus ring
    const MainWindow first = win;
    open();
    ASSERT_EQ(application()->get_windows().size(), 2u);
    EXPECT_TRUE(w().window->activate_action("win.close"));
    ASSERT_TRUE(run_until([] { return application()->get_windows().size() == 1; }));
    open();
    application()->activate_action("quit");
    ASSERT_TRUE(run_until([] { return application()->get_windows().empty(); }));
    std::vector<Glib::ustring> accels = application()->get_accels_for_action("app.quit");
    EXPECT_EQ(accels, std::vector<Glib::ustring>{"<Control>q"});
    accels = application()->get_accels_for_action("win.close");
    EXPECT_EQ(accels, std::vector<Glib::ustring>{"<Control>w"});
}

// While a task runs, the line beside the spinner names its step in the
// interface language, and the outcome replaces it at the end.
TEST_F(Window, TheRunningStepIsNamedInTheInterfaceLanguage) {
    const struct {
        StepReport step;
        Lang lang;
        const char* shown;
    } cases[] = {
        {{Activity::Repositories, {}, 1, 4}, Lang::En, "Step 1 of 4: Enabling repositories"},
        {{Activity::SelfUpdate, {}, 2, 4}, Lang::De, "Schritt 2 von 4: xbps wird aktualisiert"},
        {{Activity::PoolCheck, {}, 3, 5}, Lang::Es, "Paso 3 de 5: Comprobando los repositorios"},
        {{Activity::Remove, "nvidia580", 4, 5},
         Lang::Fr,
         "Étape 4 sur 5 : Suppression de nvidia580"},
        {{Activity::Install, {}, 1, 1}, Lang::En, "Installing packages"},
        {{Activity::ModuleBuild, {}, 2, 3}, Lang::De, "Schritt 2 von 3: Kernelmodul wird gebaut"},
        {{Activity::ModuleCheck, {}, 5, 5}, Lang::En, "Step 5 of 5: Checking the kernel module"},
        {{Activity::Services, {}, 2, 2}, Lang::Fr, "Étape 2 sur 2 : Activation des services"},
        {{Activity::Polkit, {}, 1, 1}, Lang::Es, "Escribiendo la regla de Polkit"},
        {{Activity::AddPrinter, "Brother HL", 1, 1},
         Lang::De,
         "Drucker „Brother HL“ wird hinzugefügt"},
        {{Activity::Search, {}, 1, 1}, Lang::En, "Searching the network"},
    };
    for (const auto& c : cases) EXPECT_EQ(step_text(c.step, c.lang), c.shown);
    open();
    enter_busy_state(w());
    show_step(w(), {Activity::Remove, "nvidia580", 3, 4});
    EXPECT_EQ(std::string(w().task_outcome->get_text()), "Step 3 of 4: Removing nvidia580");
    win.lang_combo->set_active(1);  // follows the language
    EXPECT_EQ(std::string(w().task_outcome->get_text()),
              "Schritt 3 von 4: nvidia580 wird entfernt");
    leave_busy_state(w(), TaskOutcome::Succeeded);
    EXPECT_EQ(std::string(w().task_outcome->get_text()), "Fertig");
}

TEST_F(Window, APascalCardStartsAtTheFittingDriverAndTheChoiceSurvivesALanguageChange) {
    test::write_pci_ids(root());
    test::write_pci_device(root(), "0000:00:02.0", "0x030000", "0x8086", "0x5917", "i915");
    test::write_pci_device(root(), "0000:01:00.0", "0x030000", "0x10de", "0x1c03", "nouveau");
    open();
    const auto& x = w();
    ASSERT_TRUE(run_until([&] { return x.gpu_cards->get_visible(); }));
    // Both cards of the hybrid laptop, and the 580 entry chosen for the Pascal one.
    EXPECT_EQ(x.gpu_cards->get_text().raw(),
              "Intel UHD Graphics 620 — driver in use: i915\n"
              "NVIDIA GP106 [GeForce GTX 1060 6GB] — driver in use: nouveau — recommended: "
              "nvidia580");
    EXPECT_EQ(x.combo_nvidia->get_active_row_number(), 3);
    EXPECT_FALSE(x.nv_notes->get_visible());
    EXPECT_TRUE(x.btn_nvidia->has_css_class("suggested-action"));
    EXPECT_TRUE(x.btn_intel->has_css_class("suggested-action"));
    EXPECT_FALSE(x.btn_amd->has_css_class("suggested-action"));

    win.lang_combo->set_active(3);
    EXPECT_EQ(x.combo_nvidia->get_active_row_number(), 3);
    EXPECT_NE(x.gpu_cards->get_text().raw().find("recommandé : nvidia580"), std::string::npos);
    // A choice that ignores the card: a warning, and the button still works.
    x.combo_nvidia->set_active(0);
    EXPECT_TRUE(x.nv_notes->get_visible());
    EXPECT_EQ(x.nv_notes->get_text().raw().rfind(get_text(Lang::Fr, "nv_unsupported"), 0), 0u);
    win.lang_combo->set_active(1);
    EXPECT_EQ(x.combo_nvidia->get_active_row_number(), 0);
    EXPECT_EQ(x.nv_notes->get_text().raw().rfind(get_text(Lang::De, "nv_unsupported"), 0), 0u);

    x.combo_nvidia->set_active(3);
    // xbps-query answers after the detection.
    ASSERT_TRUE(run_until([&] { return x.gpu_status->get_visible(); }));
    EXPECT_EQ(x.gpu_status->get_text().raw(), "Installiert: keine Grafiktreiber-Pakete");
    click(x.btn_nvidia);
    ASSERT_TRUE(wait_for(std::string(success_banner)));
    EXPECT_EQ(last_pkexec_argv().back(), "nvidia580-libs-32bit");
    EXPECT_EQ(x.gpu_status->get_text().raw(),
              "Installiert: nvidia580 — " + std::string(get_text(Lang::De, "gpu_restart")));
}

TEST_F(Window, AFailedGraphicsInstallPromisesNoRestartAndNoCardSaysSo) {
    fakes.set("pkexec.outcomes", "dismiss\n");
    open();
    ASSERT_TRUE(run_until([&] { return w().gpu_cards->get_visible(); }));
    EXPECT_EQ(w().gpu_cards->get_text().raw(), get_text(Lang::En, "gpu_none"));
    EXPECT_EQ(w().combo_nvidia->get_active_row_number(), 0);
    click(w().btn_amd);
    ASSERT_TRUE(wait_for(std::string(failure_banner)));
    EXPECT_EQ(w().gpu_status->get_text().raw(), "Installed: no graphics driver packages");
}

TEST_F(Window, AnInstalledDriverWithoutItsModuleIsNamedAtStartAndOneClickRepairsIt) {
    std::string db = "xbps\nlinux-lts\nlinux6.6 6.6.63_1\n";
    for (const std::string& member : nvidia_generation_members("nvidia580")) db += member + "\n";
    fakes.set("xbps-installed", db);
    std::filesystem::create_directories(root() / "usr/lib/modules/6.6.63_1/kernel");
    test::write_file(root() / "proc/sys/kernel/osrelease", "6.6.63_1\n");
    open();
    const auto& x = w();
    ASSERT_TRUE(run_until([&] { return x.btn_nv_repair->get_visible(); }));
    EXPECT_EQ(x.nv_module->get_text().raw(),
              std::string(get_text(Lang::En, "nv_module_missing")) + "6.6.63_1.");
    click(x.btn_nv_repair);
    EXPECT_FALSE(x.btn_nv_repair->get_sensitive());  // one of the task buttons
    ASSERT_TRUE(wait_for(std::string(success_banner)));
    EXPECT_TRUE(in_order(log(), {R"(["xbps-install", "-Su", "-y", "linux6.6-headers"])",
                                 R"(["xbps-reconfigure", "-f", "nvidia580-dkms"])",
                                 "for kernel-6.6.63_1... done."}));
    EXPECT_FALSE(x.btn_nv_repair->get_visible());
    EXPECT_NE(x.gpu_status->get_text().raw().find(get_text(Lang::En, "gpu_restart")),
              std::string::npos);
}

// The way back to nouveau: offered only with a generation installed; the
// first click only asks on the button, the second runs the plan, and the page
// then shows no generation and says the open driver comes with a restart.
TEST_F(Window, TheOpenDriverIsTwoClicksAwayAndOnlyWithAGenerationInstalled) {
    open();
    const auto& x = w();
    ASSERT_TRUE(run_until([&] { return x.gpu_status->get_visible(); }));
    EXPECT_FALSE(x.btn_nv_open->get_visible());
    std::string db = "xbps\n";
    for (const std::string& member : nvidia_generation_members("nvidia470")) db += member + "\n";
    fakes.set("xbps-installed", db);
    test::write_file(root() / "usr/lib/modprobe.d/nvidia.conf", "blacklist nouveau\n");
    click(x.btn_amd);  // any task asks again what is installed
    ASSERT_TRUE(run_until([&] { return !busy() && x.btn_nv_open->get_visible(); }));
    const int calls = fakes.pkexec_calls();
    click(x.btn_nv_open);
    EXPECT_EQ(x.btn_nv_open->get_label(), "Remove nvidia470 and use nouveau?");
    EXPECT_TRUE(x.btn_nv_open->has_css_class("destructive-action"));
    EXPECT_FALSE(busy());
    EXPECT_EQ(fakes.pkexec_calls(), calls);
    click(x.btn_nv_open);
    EXPECT_TRUE(busy());
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(x.btn_nv_open->get_label(), "Use the open driver (nouveau)");
    EXPECT_TRUE(log_has(R"(["xbps-remove", "-Ry", "nvidia470")"));
    ASSERT_TRUE(run_until([&] { return !x.btn_nv_open->get_visible(); }));
    EXPECT_NE(x.gpu_status->get_text().raw().find(get_text(Lang::En, "gpu_open_restart")),
              std::string::npos);
    EXPECT_EQ(x.gpu_status->get_text().raw().find("nvidia470"), std::string::npos);
    EXPECT_FALSE(x.nv_module->get_visible());
}

// A 1366x768 laptop screen, less its panels: every page with the log open
// and the most the graphics page can say, in every language.
TEST_F(Window, TheWindowFitsALaptopScreenInEveryLanguage) {
    test::write_pci_ids(root());
    test::write_pci_device(root(), "0000:00:02.0", "0x030000", "0x8086", "0x5917", "i915");
    test::write_pci_device(root(), "0000:01:00.0", "0x030000", "0x10de", "0x1c03");
    open();
    const auto& x = w();
    ASSERT_TRUE(
        run_until([&] { return x.gpu_cards->get_visible() && x.gpu_status->get_visible(); }));
    x.graphics.hardware.secure_boot = true;
    x.graphics.restart_pending = true;
    x.graphics.installed = InstalledGraphics{{"nvidia580"}, true, true, {"6.12.7_1", "6.6.63_1"}};
    x.combo_nvidia->set_active(0);  // the unsupported-card warning
    x.outcome = TaskOutcome::SearchFinished;
    // A network full of printers, queues and scanners: the printer page scrolls.
    x.network.searched = true;
    for (std::size_t i = 0; i < found_row_limit; ++i) {
        const std::string n = "Printer " + std::to_string(i) + " with a rather long model name";
        x.network.printers.push_back({n, "ipp://p" + std::to_string(i) + "._ipp._tcp.local/", ""});
        x.network.scanners.push_back({n, "http://192.0.2.1/eSCL/", "eSCL"});
    }
    x.network.queues = std::vector<PrintQueue>{{"office", "ipp://o/"}, {"home", "ipp://h/"}};
    x.network.last_add = PrinterAdded{AddResult::NoDescription, ""};
    // This Computer with a row of every kind, the longest states and buttons.
    test::write_intel_laptop(root());
    fakes.set("xbps-installed", "xbps\nlinux6.18 6.18.2_1\npipewire\n");
    x.stack->set_visible_child("machine");
    ASSERT_TRUE(run_until([&] { return x.machine.survey.has_value(); }));
    x.machine.firmware = std::vector<MissingFirmware>{
        {"iwlwifi-cc-a0-77.ucode", "linux-firmware-network"},
        {"mediatek/WIFI_RAM_CODE_MT7961_1.bin", "linux-firmware-network"}};
    win.log_expander->set_expanded(true);
    // English last: choosing the language the window already has re-renders nothing.
    for (int lang : {1, 2, 3, 0}) {
        win.lang_combo->set_active(lang);
        for (const char* page : {"gpu", "printer", "scanner", "machine"}) {
            x.stack->set_visible_child(page);
            run_until([] { return false; }, std::chrono::milliseconds(100));
            EXPECT_LE(x.window->get_height(), 700) << lang << " " << page;
            EXPECT_LE(x.window->get_width(), 683) << lang << " " << page;
        }
    }
}

Gtk::Widget* nth_child(Gtk::Widget* list, int n) {
    Gtk::Widget* row = list->get_first_child();
    for (int i = 0; row != nullptr && i < n; ++i) row = row->get_next_sibling();
    return row;
}

// The first line of queue row `n` ("NAME — state").
std::string queue_row_title(const AppWidgets& x, int n) {
    Gtk::Widget* row = nth_child(x.queue_list, n);
    if (row == nullptr) return {};
    auto* texts = row->get_first_child()->get_first_child();
    return static_cast<Gtk::Label*>(texts->get_first_child())->get_text().raw();
}

// What a button shows: its label, or the caption its stack of captions shows.
std::string caption(Gtk::Button* b) {
    if (!b->get_label().empty()) return b->get_label().raw();
    if (auto* captions = dynamic_cast<Gtk::Stack*>(b->get_child()))
        if (auto* shown = dynamic_cast<Gtk::Label*>(captions->get_visible_child()))
            return shown->get_text().raw();
    return {};
}

// The button showing `label` anywhere below `top`, or null.
Gtk::Button* button_below(Gtk::Widget* top, const std::string& label) {
    for (Gtk::Widget* c = top ? top->get_first_child() : nullptr; c; c = c->get_next_sibling()) {
        if (auto* b = dynamic_cast<Gtk::Button*>(c); b && caption(b) == label) return b;
        if (Gtk::Button* inner = button_below(c, label)) return inner;
    }
    return nullptr;
}

// Queue row `n`'s button showing `label`, or null.
Gtk::Button* queue_button(const AppWidgets& x, int n, const std::string& label) {
    return button_below(nth_child(x.queue_list, n), label);
}

// The widgets of one row of the found-printers list: name, address, and the
// "Add" button or the "Added" label.
std::vector<Gtk::Widget*> row_parts(Gtk::Widget* row) {
    std::vector<Gtk::Widget*> parts;
    for (Gtk::Widget* c = row->get_first_child(); c != nullptr; c = c->get_next_sibling())
        parts.push_back(c);
    return parts;
}

// The queues CUPS has, as rows: the default is marked and has no Make
// Default; Make Default and Remove go through lpadmin; Remove asks on its
// button first; a bad address says why and runs nothing.
TEST_F(Window, EachQueueIsARowThatCanBecomeTheDefaultOrBeRemovedAndBadAddressesRunNothing) {
    fakes.set("cups-running", "");
    fakes.set("cups-queues",
              "Office ipp://office.local/ipp/print\nLab ipp://lab.local/ipp/print\n");
    fakes.set("cups-default", "Office\n");
    fakes.set("cups-stopped", "Lab The printer is not responding.\n");
    open();
    const auto& x = w();
    x.stack->set_visible_child("printer");
    ASSERT_TRUE(run_until([&] { return x.queue_list->get_visible(); }));
    EXPECT_EQ(queue_row_title(x, 0), "Office \u2014 idle \u00b7 Default");
    EXPECT_EQ(queue_row_title(x, 1), "Lab \u2014 stopped: The printer is not responding.");
    EXPECT_EQ(queue_button(x, 0, "Make Default"), nullptr);
    ASSERT_NE(queue_button(x, 1, "Make Default"), nullptr);

    click(queue_button(x, 1, "Make Default"));
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(last_pkexec_argv(), (std::vector<std::string>{"lpadmin", "-d", "Lab"}));
    ASSERT_TRUE(run_until([&] { return queue_button(x, 1, "Make Default") == nullptr; }));

    const int calls = fakes.pkexec_calls();
    click(queue_button(x, 0, "Remove"));
    EXPECT_FALSE(busy());
    EXPECT_EQ(fakes.pkexec_calls(), calls);
    Gtk::Button* ask = queue_button(x, 0, "Remove Office?");
    ASSERT_NE(ask, nullptr);
    EXPECT_TRUE(ask->has_css_class("destructive-action"));
    click(ask);
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(last_pkexec_argv(), (std::vector<std::string>{"lpadmin", "-x", "Office"}));
    ASSERT_TRUE(run_until([&] { return queue_row_title(x, 1).empty(); }));
    EXPECT_EQ(queue_row_title(x, 0).rfind("Lab \u2014 ", 0), 0u);

    const int before = fakes.pkexec_calls();
    for (const char* bad : {"printer;reboot", "http://evil/", ""}) {
        x.address_entry->set_text(bad);
        click(x.btn_add_address);
        EXPECT_FALSE(busy()) << bad;
        EXPECT_FALSE(x.net_note->get_text().empty()) << bad;
    }
    EXPECT_EQ(x.net_note->get_text().raw(), "Type the printer's address first");
    EXPECT_EQ(fakes.pkexec_calls(), before);
}

// A stopped queue gets going again with one click; a queue's jobs go with two
// (the first asks, and the button keeps its size); supplies show as bars
// named for screen readers.
TEST_F(Window, AStoppedQueueResumesAndItsJobsCanAllBeCancelled) {
    fakes.set("cups-running", "");
    fakes.set("cups-queues", "Laser usb://HP/LaserJet%201020?serial=00CNB\n");
    fakes.set("cups-stopped", "Laser Paper jam.\n");
    fakes.set("cups-rejecting", "Laser\n");
    fakes.set("cups-jobs", "Laser-12 anna 1024 Tue\nLaser-13 anna 2048 Tue\n");
    fakes.set("cups-supplies", "Laser|Black Toner,Drum|63,-2|#000000,none|toner,opc\n");
    open();
    const auto& x = w();
    x.stack->set_visible_child("printer");
    ASSERT_TRUE(run_until([&] { return queue_button(x, 0, "Resume") != nullptr; }));
    EXPECT_EQ(queue_row_title(x, 0),
              "Laser \u2014 stopped: Paper jam. \u00b7 not accepting jobs \u00b7 jobs waiting: 2");
    // One bar, for the level the printer knows.
    std::vector<Gtk::LevelBar*> bars;
    std::vector<Gtk::Widget*> todo = {nth_child(x.queue_list, 0)};
    while (!todo.empty()) {
        Gtk::Widget* c = todo.back();
        todo.pop_back();
        if (auto* bar = dynamic_cast<Gtk::LevelBar*>(c)) bars.push_back(bar);
        for (Gtk::Widget* k = c->get_first_child(); k; k = k->get_next_sibling()) todo.push_back(k);
    }
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0]->get_value(), 63);

    // Every report of the machine is in (each rebuilds the rows), and laid out.
    ASSERT_TRUE(run_until([&] { return x.network.usb.has_value(); }));
    run_until([] { return false; }, std::chrono::milliseconds(100));
    Gtk::Button* cancel = queue_button(x, 0, "Cancel All Jobs");
    ASSERT_NE(cancel, nullptr);
    const int width = cancel->get_width();
    const int calls = fakes.pkexec_calls();
    click(cancel);
    EXPECT_FALSE(busy());
    EXPECT_EQ(fakes.pkexec_calls(), calls);  // the first click only asks
    Gtk::Button* ask = queue_button(x, 0, "Cancel all jobs?");
    ASSERT_NE(ask, nullptr);
    run_until([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(ask->get_width(), width);
    click(ask);
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(last_pkexec_argv(), (std::vector<std::string>{"cancel", "-a", "Laser"}));
    EXPECT_EQ(test::read_file(fakes.dir() / "cups-jobs"), "");

    fakes.set("cups-jobs", "Laser-14 anna 1024 Tue\n");
    click(queue_button(x, 0, "Resume"));
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(last_pkexec_argv(), (std::vector<std::string>{"cupsaccept", "Laser"}));
    ASSERT_TRUE(run_until([&] { return queue_button(x, 0, "Resume") == nullptr; }));
    EXPECT_EQ(queue_row_title(x, 0), "Laser \u2014 idle");  // the kept job printed
}

// Widgets of type T below `top`, in the order they are laid out.
template <typename T>
std::vector<T*> all_below(Gtk::Widget* top) {
    std::vector<T*> found;
    for (Gtk::Widget* c = top ? top->get_first_child() : nullptr; c; c = c->get_next_sibling()) {
        if (auto* t = dynamic_cast<T*>(c)) found.push_back(t);
        for (T* inner : all_below<T>(c)) found.push_back(inner);
    }
    return found;
}

// A queue's settings open under its row with the PPD's values in words, the
// current defaults chosen; a change runs one lpadmin -o through pkexec and the
// row reads the queue again. Each job has a Cancel of its own: the user's own
// job goes without a password, another's through pkexec, and the other stays.
TEST_F(Window, AQueuesSettingsChangeInPlaceAndOneJobIsCancelledAlone) {
    const std::string me = current_user_name();
    fakes.set("cups-running", "");
    fakes.set("cups-queues", "Laser usb://HP/LaserJet?serial=1\n");
    fakes.set("cups-ppd/Laser",
              "PageSize/Media Size: *Letter A4 Legal\n"
              "Duplex/2-Sided Printing: *None DuplexNoTumble DuplexTumble\n"
              "ColorModel/Color Mode: *RGB Gray\n"
              "Resolution/Resolution: *600dpi 1200dpi\n");
    fakes.set("cups-jobs", "Laser-12 " + me + " 1024 Tue\nLaser-13 someone-else 2048 Tue\n");
    open();
    const auto& x = w();
    x.stack->set_visible_child("printer");
    ASSERT_TRUE(run_until([&] {
        return queue_row_title(x, 0) == "Laser \u2014 idle \u00b7 jobs waiting: 2 \u00b7 Letter";
    }));
    // One line until opened: the settings are there, hidden.
    std::vector<Gtk::DropDown*> choices = all_below<Gtk::DropDown>(nth_child(x.queue_list, 0));
    ASSERT_EQ(choices.size(), 3u);  // paper, two-sided, colour; not the resolution
    EXPECT_FALSE(choices[0]->get_parent()->get_parent()->get_visible());
    std::vector<Gtk::ToggleButton*> toggles;  // the drop-downs hold toggles of their own
    for (Gtk::ToggleButton* t : all_below<Gtk::ToggleButton>(nth_child(x.queue_list, 0)))
        if (t->get_tooltip_text() == "Settings") toggles.push_back(t);
    ASSERT_EQ(toggles.size(), 1u);
    click(toggles[0]);
    EXPECT_TRUE(choices[0]->get_parent()->get_parent()->get_visible());
    const auto words = [](Gtk::DropDown* d) {
        std::vector<std::string> out;
        auto list = std::dynamic_pointer_cast<Gtk::StringList>(d->get_model());
        for (guint i = 0; list && i < list->get_n_items(); ++i) out.push_back(list->get_string(i));
        return out;
    };
    EXPECT_EQ(words(choices[0]), (std::vector<std::string>{"Letter", "A4", "Legal"}));
    EXPECT_EQ(words(choices[1]), (std::vector<std::string>{"Off", "Long edge", "Short edge"}));
    EXPECT_EQ(words(choices[2]), (std::vector<std::string>{"Colour", "Grey"}));
    EXPECT_EQ(choices[0]->get_selected(), 0u);

    choices[1]->set_selected(1);  // Long edge
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(last_pkexec_argv(),
              (std::vector<std::string>{"lpadmin", "-p", "Laser", "-o", "Duplex=DuplexNoTumble"}));
    // Read again: the new default is chosen, the settings stay open.
    ASSERT_TRUE(run_until([&] {
        const auto now = all_below<Gtk::DropDown>(nth_child(x.queue_list, 0));
        return now.size() == 3 && now[1]->get_selected() == 1u &&
               now[1]->get_parent()->get_parent()->get_visible();
    })) << log();

    // The user's own job: cancel as the user, no pkexec.
    const int calls = fakes.pkexec_calls();
    auto cancels = [&] {
        std::vector<Gtk::Button*> found;
        for (Gtk::Button* b : all_below<Gtk::Button>(nth_child(x.queue_list, 0)))
            if (caption(b) == "Cancel") found.push_back(b);
        return found;
    };
    ASSERT_EQ(cancels().size(), 2u);
    click(cancels()[0]);
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(fakes.pkexec_calls(), calls);
    EXPECT_EQ(test::read_file(fakes.dir() / "cups-jobs"), "Laser-13 someone-else 2048 Tue\n");
    ASSERT_TRUE(run_until([&] { return cancels().size() == 1; }));
    // Another's: through pkexec.
    click(cancels()[0]);
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(last_pkexec_argv(), (std::vector<std::string>{"cancel", "Laser-13"}));
    EXPECT_EQ(test::read_file(fakes.dir() / "cups-jobs"), "");
}

// A USB printer: a row with the driver CUPS ranks first, Add makes its queue
// with the address CUPS lists for its serial number; one without a driver
// names its package; an IPP-over-USB one offers ipp-usb, never a usb:// queue.
TEST_F(Window, AUsbPrinterGoesFromItsRowToAQueueAndOneWithoutADriverNamesItsPackage) {
    const auto usb = root() / "sys/bus/usb/devices";
    const auto printer = [&](const std::string& dev, const std::string& protocol,
                             const std::string& id, const std::string& serial) {
        test::write_file(usb / dev / "idVendor", "03f0\n");
        test::write_file(usb / dev / "idProduct", "0517\n");
        test::write_file(usb / dev / "serial", serial + "\n");
        test::write_file(usb / dev / "manufacturer", "Maker\n");
        test::write_file(usb / dev / "product", "Printer " + dev + "\n");
        const auto itf = usb / (dev + ":1.0");
        test::write_file(itf / "bInterfaceClass", "07\n");
        test::write_file(itf / "bInterfaceSubClass", "01\n");
        test::write_file(itf / "bInterfaceProtocol", protocol + "\n");
        if (!id.empty()) test::write_file(itf / "ieee1284_id", id);
    };
    printer("1-1", "02", "MFG:HP;MDL:LaserJet 1020;CMD:ZJS;", "00CNB");
    printer("1-2", "02", "MFG:Brother;MDL:HL-1110 series;CMD:PJL;", "E7");
    printer("1-3", "04", "", "Q1");
    fakes.set("cups-running", "");
    fakes.set("cups-usb",
              "usb://HP/LaserJet%201020?serial=OTHER|HP LaserJet 1020|\n"
              "usb://HP/LaserJet%201020?serial=00CNB|HP LaserJet 1020|"
              "MFG:HP;MDL:LaserJet 1020;CMD:ZJS;\n");
    fakes.set("cups-drivers",
              "LaserJet drv:///sample.drv/laserjet.ppd HP LaserJet Series PCL 4/5\n");
    fakes.set("xbps-installed", "xbps\ncups\n");
    open();
    const auto& x = w();
    x.stack->set_visible_child("printer");
    ASSERT_TRUE(run_until([&] { return x.usb_list->get_visible(); }));
    const auto texts = [&](int n) {
        std::vector<std::string> out;
        for (Gtk::Widget* l = nth_child(x.usb_list, n)->get_first_child()->get_first_child(); l;
             l = l->get_next_sibling())
            out.push_back(static_cast<Gtk::Label*>(l)->get_text().raw());
        return out;
    };
    EXPECT_EQ(texts(0), (std::vector<std::string>{
                            "HP LaserJet 1020", "USB \u00b7 driver: HP LaserJet Series PCL 4/5"}));
    EXPECT_EQ(texts(1),
              (std::vector<std::string>{"Brother HL-1110 series",
                                        "USB \u00b7 no driver yet: brother-brlaser brings one"}));
    EXPECT_EQ(texts(2)[1], "USB \u00b7 IPP over USB: driverless, through ipp-usb");
    EXPECT_NE(button_below(nth_child(x.usb_list, 1), "Install brother-brlaser"), nullptr);
    EXPECT_NE(button_below(nth_child(x.usb_list, 2), "Set Up"), nullptr);
    EXPECT_EQ(button_below(nth_child(x.usb_list, 2), "Add"), nullptr);

    click(button_below(nth_child(x.usb_list, 0), "Add"));
    ASSERT_TRUE(wait_for(std::string(success_banner)));
    EXPECT_EQ(last_pkexec_argv(),
              (std::vector<std::string>{"lpadmin", "-p", "HP_LaserJet_1020", "-E", "-v",
                                        "usb://HP/LaserJet%201020?serial=00CNB", "-m",
                                        "drv:///sample.drv/laserjet.ppd"}));
    EXPECT_EQ(x.net_note->get_text().raw(), "HP_LaserJet_1020: ready to print.");
    ASSERT_TRUE(run_until(
        [&] { return queue_row_title(x, 0) == "HP_LaserJet_1020 \u2014 idle \u00b7 A4"; }));
    auto* added = dynamic_cast<Gtk::Label*>(nth_child(x.usb_list, 0)->get_last_child());
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->get_text().raw(), "Added");

    // IPP over USB: ipp-usb and Avahi set up, then the printer ipp-usb
    // announces on loopback is added as a driverless queue, never usb://.
    const std::string loopback = "ipp://localhost:60000/ipp/print";
    fakes.set("driverless.stdout", loopback + "\n");
    fakes.set("cups-reachable", loopback + "\n");
    const int before = fakes.pkexec_calls();
    click(button_below(nth_child(x.usb_list, 2), "Set Up"));
    ASSERT_TRUE(busy());
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    std::vector<std::string> firsts;
    for (int n = before + 1; n <= fakes.pkexec_calls(); ++n)
        firsts.push_back(fakes.pkexec_argv(n)[0]);
    EXPECT_EQ(firsts, (std::vector<std::string>{"xbps-install", "ln", "ln", "lpadmin"}));
    EXPECT_EQ(fakes.pkexec_argv(before + 3)[2], "/etc/sv/ipp-usb");
    EXPECT_EQ(last_pkexec_argv(),
              (std::vector<std::string>{"lpadmin", "-p", "Maker_Printer_1-3", "-E", "-v", loopback,
                                        "-m", "everywhere"}));

    // The package, then the page looks again: the driver CUPS has now.
    click(button_below(nth_child(x.usb_list, 1), "Install brother-brlaser"));
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    EXPECT_EQ(last_pkexec_argv().back(), "brother-brlaser");
}

// The scanner page lists what SANE finds when first shown (one row for a
// device seen over eSCL, WSD and the maker's backend); Test Scan shows the
// picture, a second click cancels a scan that hangs, a scanner that does
// not answer says so; a USB scanner SANE does not list names its package.
TEST_F(Window, TheScannerPageListsTestsAndNamesWhatIsMissing) {
    fakes.set("sane-devices",
              "airscan:e0:Brother MFC-L2710DW|Brother|MFC-L2710DW|eSCL network scanner\n"
              "airscan:w1:Brother MFC-L2710DW|Brother|MFC-L2710DW|WSD network scanner\n"
              "escl:http://192.0.2.9:80|BROTHER|MFC-L2710DW|flatbed scanner\n");
    fakes.set("airscan-discover.stdout",
              "[devices]\n  Brother MFC-L2710DW = http://192.0.2.9:80/eSCL/, eSCL\n");
    const auto usb = root() / "sys/bus/usb/devices";
    test::write_file(usb / "1-1/idVendor", "04b8\n");
    test::write_file(usb / "1-1/product", "Perfection V39\n");
    test::write_file(usb / "1-1:1.0/bInterfaceClass", "ff\n");
    open();
    const auto& x = w();
    EXPECT_FALSE(x.scanners.asked);  // nothing is listed before the page is shown
    x.stack->set_visible_child("scanner");
    ASSERT_TRUE(run_until([&] { return x.scanners.listing.has_value(); }));
    EXPECT_EQ(x.scan_count->get_text().raw(), "Scanners found: 1");
    const auto row = [&] { return nth_child(x.scanner_list, 0); };
    ASSERT_NE(row(), nullptr);
    EXPECT_EQ(nth_child(x.scanner_list, 1), nullptr);
    // The Epson on the cable is not listed: its package is named, with a button.
    ASSERT_NE(button_below(x.scanner_fixes, "Install imagescan"), nullptr);
    EXPECT_FALSE(x.scanner_by_address->get_visible());  // a network scanner was found

    click(button_below(row(), "Test Scan"));
    ASSERT_TRUE(run_until([&] { return x.scanners.scanning.empty(); }));
    Gtk::Picture* picture = nullptr;
    for (Gtk::Widget* c = row()->get_first_child(); c; c = c->get_next_sibling())
        if (auto* p = dynamic_cast<Gtk::Picture*>(c)) picture = p;
    ASSERT_NE(picture, nullptr);
    const std::string file = picture->get_file()->get_path();
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(std::filesystem::status(std::filesystem::path(file).parent_path()).permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);  // the user's alone
    EXPECT_EQ(fakes.pkexec_calls(), 0);            // as the user

    fakes.set("sane-hang", "");
    click(button_below(row(), "Test Scan"));
    ASSERT_TRUE(run_until([&] { return std::filesystem::exists(fakes.dir() / "sane-scanning"); }));
    click(button_below(row(), "Cancel"));
    ASSERT_TRUE(run_until([&] { return x.scanners.scanning.empty(); }, std::chrono::seconds(10)));
    EXPECT_NE(button_below(row(), "Test Scan"), nullptr);
    std::filesystem::remove(fakes.dir() / "sane-hang");

    fakes.set("sane-fail", "");
    click(button_below(row(), "Test Scan"));
    ASSERT_TRUE(run_until([&] { return x.scanners.scanning.empty(); }));
    bool said = false;
    for (Gtk::Widget* c = row()->get_first_child(); c; c = c->get_next_sibling())
        if (auto* l = dynamic_cast<Gtk::Label*>(c))
            said = said || l->get_text() ==
                               "The scanner did not answer: is it switched on and "
                               "connected?";
    EXPECT_TRUE(said);

    // Nothing on the network: Add Scanner by Address, and a bad one runs nothing.
    fakes.set("sane-devices", "");
    click(x.btn_search_scanners);
    ASSERT_TRUE(run_until([&] { return !x.scanners.searching; }));
    EXPECT_TRUE(x.scanner_by_address->get_visible());
    x.scanner_address_entry->set_text("scanner;reboot");
    click(x.btn_add_scanner);
    EXPECT_FALSE(busy());
    EXPECT_EQ(x.scanner_note->get_text().substr(0, 30), "That is not a scanner's addres");

    const auto dir = *x.scanners.scan_dir;
    x.window->destroy();
    run_until([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_FALSE(std::filesystem::exists(dir));  // the pictures go with the window
}

// On a system without xbps-install the window says once that it sets up
// Void, and the install buttons stay off, also after another task.
TEST_F(Window, WithoutXbpsTheWindowSaysSoOnceAndInstallsNothing) {
    std::filesystem::remove(fakes.bin() / "xbps-install");
    open();
    const auto& x = w();
    ASSERT_TRUE(x.platform_note->get_visible());
    EXPECT_EQ(x.platform_note->get_text().substr(0, 30), "kelmora sets up Void Linux: th");
    EXPECT_FALSE(x.btn_amd->get_sensitive());
    EXPECT_FALSE(x.btn_setup_print->get_sensitive());
    EXPECT_TRUE(x.btn_scan_network->get_sensitive());
    click(x.btn_scan_network);
    ASSERT_TRUE(run_until([&] { return !x.spinner->get_spinning(); }));
    EXPECT_FALSE(x.btn_amd->get_sensitive());
    EXPECT_TRUE(x.btn_scan_network->get_sensitive());
    win.lang_combo->set_active(1);
    EXPECT_EQ(x.platform_note->get_text().substr(0, 28), "kelmora richtet Void Linux e");
}

TEST_F(Window, AFoundPrinterIsAddedWithOneClickAndThenShowsAsAdded) {
    const std::string uri = "ipp://Brother%20HL-L2350DW%20series._ipp._tcp.local/";
    fakes.set("cups-running", "");
    fakes.set("cups-reachable", uri + "\n");
    // Enough printers that the list pushes the search button out of the page.
    std::string more;
    for (int i = 0; i < 8; ++i)
        more += "ipp://Office%20" + std::to_string(i) + "._ipp._tcp.local/\n";
    fakes.set("driverless.stdout", uri + "\nipp://%E2%80%AEevil%0Aname._ipp._tcp.local/\n" + more);
    fakes.set("avahi-browse.stdout",
              "=  eth0 IPv4 Brother HL-L2350DW series   Internet Printer   local\n"
              "   hostname = [BRN3C2AF4.local]\n   port = [631]\n");
    fakes.set("airscan-discover.stdout",
              "[devices]\n  Brother MFC-L2710DW = http://192.0.2.9:80/eSCL/, eSCL\n");
    open();
    const auto& x = w();
    x.stack->set_visible_child("printer");
    EXPECT_TRUE(x.net_frame->get_visible());  // it holds the search button
    EXPECT_FALSE(x.queues_frame->get_visible());
    ASSERT_TRUE(run_until([&] { return x.net_queues->get_visible(); }));  // lpstat answered
    EXPECT_EQ(x.net_queues->get_text().raw(), "Print queues: none");
    click(x.btn_scan_network);
    ASSERT_TRUE(run_until([&] { return !busy(); }));
    ASSERT_TRUE(x.net_frame->get_visible());
    std::vector<Gtk::Widget*> rows;
    for (Gtk::Widget* r = x.found_list->get_first_child(); r; r = r->get_next_sibling())
        rows.push_back(r);
    ASSERT_EQ(rows.size(), 10u);
    const auto parts = row_parts(rows[0]);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(static_cast<Gtk::Label*>(parts[0])->get_text().raw(), "Brother HL-L2350DW series");
    EXPECT_EQ(static_cast<Gtk::Label*>(row_parts(rows[1])[0])->get_text().raw(), "evil name");
    // The address as a person reads it, not percent-encoded.
    EXPECT_EQ(static_cast<Gtk::Label*>(parts[1])->get_text().raw(),
              "ipp://Brother HL-L2350DW series._ipp._tcp.local/");
    // The search button, below the list, is in view again once it is laid out.
    const auto page = x.printer_scroll->get_vadjustment();
    run_until([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_GT(page->get_upper(), page->get_page_size());  // the list did push it down
    EXPECT_GE(page->get_value(), page->get_upper() - page->get_page_size() - 1);
    auto* add = dynamic_cast<Gtk::Button*>(parts[2]);
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->get_label().raw(), "Add");

    click(add);
    ASSERT_TRUE(wait_for(std::string(success_banner)));
    EXPECT_EQ(last_pkexec_argv(),
              (std::vector<std::string>{"lpadmin", "-p", "Brother_HL-L2350DW_series", "-E", "-v",
                                        uri, "-m", "everywhere"}));
    EXPECT_EQ(x.net_note->get_text().raw(), "Brother_HL-L2350DW_series: ready to print.");
    EXPECT_FALSE(x.net_queues->get_visible());  // the row says it
    EXPECT_EQ(queue_row_title(x, 0), "Brother_HL-L2350DW_series \u2014 idle \u00b7 A4");
    win.lang_combo->set_active(1);
    Gtk::Widget* first = x.found_list->get_first_child();
    auto* added = dynamic_cast<Gtk::Label*>(row_parts(first).back());
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->get_text().raw(), "Hinzugefügt");
    EXPECT_EQ(x.net_note->get_text().raw(), "Brother_HL-L2350DW_series: bereit zum Drucken.");
}

// Every label's text below `top`, one a line, in order.
std::string texts_below(Gtk::Widget* top) {
    std::string all;
    for (Gtk::Widget* c = top ? top->get_first_child() : nullptr; c; c = c->get_next_sibling()) {
        if (auto* l = dynamic_cast<Gtk::Label*>(c)) all += l->get_text().raw() + "\n";
        all += texts_below(c);
    }
    return all;
}

// The made-up Intel laptop, from its page: nothing is read before the page is
// shown; each device's button runs its one plan (microcode with the
// initramfs of linux6.18, the Broadcom driver with linux6.18-headers and its
// way back, the radio unblocked, Bluetooth set up and the group joined,
// SOF firmware), and the kernel log's missing file gets its package.
TEST_F(Window, ThisComputerSetsUpEachDeviceOfAnIntelLaptopWithOneClick) {
    test::write_intel_laptop(root());
    std::filesystem::create_directories(root() / "usr/lib/modules/6.18.2_1/kernel");
    fakes.set("xbps-installed", "xbps\nlinux6.18 6.18.2_1\npipewire\n");
    fakes.set("dmesg", test::intel_laptop_kernel_log());
    open();
    const auto& x = w();
    EXPECT_FALSE(x.machine.asked);
    x.stack->set_visible_child("machine");
    ASSERT_TRUE(run_until([&] { return x.machine.survey.has_value(); }));
    EXPECT_TRUE(
        in_order(texts_below(x.cpu_list),
                 {"11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz", "Microcode revision 0xf4",
                  "Microcode updates are not installed (intel-ucode)."}));
    EXPECT_TRUE(in_order(texts_below(x.wifi_list),
                         {"Intel Corporation Wi-Fi 6 AX201", "8086:a0f0",
                          "Driver: iwlwifi · its firmware is not installed.",
                          "Broadcom Inc. and subsidiaries BCM4360", "14e4:43a0",
                          "No driver in use; broadcom-wl-dkms drives this card."}));
    EXPECT_TRUE(
        in_order(texts_below(x.bt_list), {"Adapter hci0", "Blocked by software.",
                                          "Bluetooth is not set up (bluez and its service)."}));
    EXPECT_TRUE(in_order(texts_below(x.sound_list),
                         {"Tiger Lake-LP", "Driver: sof-audio-pci-intel-tgl · the SOF firmware"}));
    EXPECT_EQ(fakes.pkexec_calls(), 0);
    int calls = 0;
    const auto ran = [&](std::vector<std::vector<std::string>> argvs) {
        EXPECT_TRUE(run_until([&] { return !busy() && x.machine.survey && !x.machine.reading; }));
        std::vector<std::vector<std::string>> got;
        while (calls < fakes.pkexec_calls()) got.push_back(fakes.pkexec_argv(++calls));
        return got == argvs;
    };

    // Microcode: the package, then linux6.18's initramfs; a restart loads it.
    click(button_below(x.cpu_list, "Install intel-ucode"));
    EXPECT_TRUE(ran(
        {{"xbps-install", "-Su", "-y", "intel-ucode"}, {"xbps-reconfigure", "-f", "linux6.18"}}));
    EXPECT_NE(texts_below(x.cpu_list).find("Restart to load the update"), std::string::npos);
    EXPECT_EQ(button_below(x.cpu_list, "Install intel-ucode"), nullptr);

    // The Broadcom card: the driver with the running kernel's headers, its
    // module checked; the way back asks first.
    click(button_below(x.wifi_list, "Install broadcom-wl-dkms"));
    EXPECT_TRUE(ran({{"xbps-install", "-Su", "-y", "broadcom-wl-dkms", "linux6.18-headers"}}));
    EXPECT_TRUE(log_has("wl-Modul geprüft: vorhanden für den Kernel, der startet."));
    EXPECT_NE(texts_below(x.wifi_list).find("broadcom-wl-dkms is installed; restart to use it."),
              std::string::npos);
    click(button_below(x.wifi_list, "Remove broadcom-wl-dkms"));
    EXPECT_FALSE(busy());
    click(button_below(x.wifi_list, "Remove broadcom-wl-dkms?"));
    EXPECT_TRUE(ran({{"xbps-remove", "-Ry", "broadcom-wl-dkms"}}));
    EXPECT_NE(button_below(x.wifi_list, "Install broadcom-wl-dkms"), nullptr);

    // The iwlwifi card's firmware package.
    click(button_below(x.wifi_list, "Install linux-firmware-network"));
    EXPECT_TRUE(ran({{"xbps-install", "-Su", "-y", "linux-firmware-network"}}));
    EXPECT_NE(texts_below(x.wifi_list).find("Driver: iwlwifi\n"), std::string::npos);

    // Bluetooth: the block, then bluez with PipeWire's part and both
    // services, then the group, which counts from the next login.
    click(button_below(x.bt_list, "Unblock"));
    EXPECT_TRUE(ran({{"rfkill", "unblock", "0"}}));
    EXPECT_NE(texts_below(x.bt_list).find("On."), std::string::npos);
    click(button_below(x.bt_list, "Set Up Bluetooth"));
    EXPECT_TRUE(ran({{"xbps-install", "-Su", "-y", "bluez", "dbus", "libspa-bluetooth"},
                     {"ln", "-sf", "/etc/sv/dbus", "/var/service/"},
                     {"ln", "-sf", "/etc/sv/bluetoothd", "/var/service/"}}));
    click(button_below(x.bt_list, "Add Me to the Group"));
    EXPECT_TRUE(ran({{"gpasswd", "-a", current_user_name(), "bluetooth"}}));
    EXPECT_NE(texts_below(x.bt_list).find("Log out and in again to use the group bluetooth."),
              std::string::npos);

    click(button_below(x.sound_list, "Install sof-firmware"));
    EXPECT_TRUE(ran({{"xbps-install", "-Su", "-y", "sof-firmware"}}));
    EXPECT_NE(texts_below(x.sound_list).find("Driver: sof-audio-pci-intel-tgl\n"),
              std::string::npos);

    // The kernel log, read as root: the file the network package brought is
    // there now; of the others it names, one is in a package to install, one
    // is not in its installed package (Void does not ship it): no button.
    fakes.set("dmesg", test::intel_laptop_kernel_log() +
                           "[    4.1] i915 0000:00:02.0: Direct firmware load for "
                           "i915/tgl_guc_70.bin failed with error -2\n"
                           "[    4.2] bluetooth hci0: Direct firmware load for "
                           "intel/ibt-0040-0041.sfi failed with error -2\n"
                           "[    4.3] x: Direct firmware load for ../../etc/shadow failed with "
                           "error -2\n");
    click(x.btn_firmware);
    EXPECT_TRUE(ran({{"dmesg"}}));
    ASSERT_TRUE(x.machine.firmware.has_value());
    EXPECT_EQ(*x.machine.firmware,
              (std::vector<MissingFirmware>{
                  {"i915/tgl_guc_70.bin", "linux-firmware-intel", false},
                  {"intel/ibt-0040-0041.sfi", "linux-firmware-network", true}}));
    EXPECT_TRUE(in_order(
        texts_below(x.fw_list),
        {"i915/tgl_guc_70.bin", "In package linux-firmware-intel", "intel/ibt-0040-0041.sfi",
         "linux-firmware-network is installed and does not have it"}));
    EXPECT_EQ(button_below(x.fw_list, "Install linux-firmware-network"), nullptr);
    EXPECT_FALSE(log_has("shadow"));  // the kernel log itself is not shown
    // Once its package put it there, a file leaves the list.
    test::write_file(root() / "usr/lib/firmware/i915/tgl_guc_70.bin.zst", "");
    click(button_below(x.fw_list, "Install linux-firmware-intel"));
    EXPECT_TRUE(ran({{"xbps-install", "-Su", "-y", "linux-firmware-intel"}}));
    EXPECT_EQ(*x.machine.firmware,
              (std::vector<MissingFirmware>{
                  {"intel/ibt-0040-0041.sfi", "linux-firmware-network", true}}));
    test::write_file(root() / "usr/lib/firmware/intel/ibt-0040-0041.sfi", "");
    click(x.btn_firmware);
    EXPECT_TRUE(ran({{"dmesg"}}));
    EXPECT_NE(texts_below(x.fw_list).find("The kernel found all the firmware it asked for."),
              std::string::npos);
}

}  // namespace
}  // namespace kelmora
