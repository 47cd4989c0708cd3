#include "ui/actions.h"

#include "packages/firmware_packages.h"
#include "packages/machine_tasks.h"
#include "packages/packages.h"
#include "packages/plan_runner.h"
#include "packages/xbps.h"
#include "printing/discovery.h"
#include "printing/printer_queue.h"
#include "services/polkit_policy.h"
#include "ui/busy_state.h"
#include "ui/graphics_page.h"
#include "ui/machine_page.h"
#include "ui/printer_page.h"
#include "ui/scanner_page.h"
#include "ui/task_hold.h"

#include <signal.h>
#include <stdlib.h>

namespace kelmora {
namespace {

// Every task ends this way: what is installed now, before the task ends, as
// the status lines, then Done.
void finish_task(const UiSender& sender, const std::filesystem::path& root, TaskResult result,
                 bool restart_needed = false) {
    report_machine_state(sender, root);
    sender.send(Done{result, result && restart_needed, result.cancelled(), result.kind});
}

}  // namespace

void start_install_task(PackageList packages, UiSender sender, AppWidgetsRef widgets,
                        bool graphics) {
    start_task(*widgets, [packages = std::move(packages), sender = std::move(sender),
                          root = widgets->root, graphics] {
        finish_task(sender, root, run_pkexec_xbps(packages, log_sink(sender), root), graphics);
    });
}

void on_install_nvidia(const AppWidgetsRef& widgets, const UiSender& sender) {
    const AppWidgets& w = *widgets;
    const int chosen = w.combo_nvidia->get_active_row_number();
    // A driver for a card the machine has is never replaced by one that
    // drives none of its cards with a single unnoticed click.
    const std::string at_risk =
        generation_at_risk(w.graphics.hardware, w.graphics.installed, chosen);
    if (!at_risk.empty() && !w.graphics.confirming.connected()) {
        ask_to_confirm(widgets, at_risk);
        return;
    }
    // Nor is any installed generation removed without a word first.
    const PackageList packages = nvidia_packages(chosen);
    const std::string wanted = generation_of(packages);
    std::string replaced;
    if (w.graphics.installed)
        for (const std::string& g : w.graphics.installed->nvidia)
            if (g != wanted) replaced += (replaced.empty() ? "" : ", ") + g;
    if (!replaced.empty() && !w.graphics.confirming.connected()) {
        ask_to_confirm_replace(widgets, replaced, wanted);
        return;
    }
    end_confirmation(w);
    start_install_task(packages, sender, widgets, true);
}

void on_install_amd(const AppWidgetsRef& widgets, const UiSender& sender) {
    start_install_task(amd_packages(), sender, widgets, true);
}

void on_install_intel(const AppWidgetsRef& widgets, const UiSender& sender) {
    start_install_task(intel_packages(), sender, widgets, true);
}

void on_repair_nvidia(const AppWidgetsRef& widgets, const UiSender& sender) {
    start_task(*widgets, [sender, root = widgets->root] {
        finish_task(sender, root, repair_nvidia_module(log_sink(sender), root), true);
    });
}

void on_use_open_driver(const AppWidgetsRef& widgets, const UiSender& sender) {
    const AppWidgets& w = *widgets;
    if (!w.graphics.confirming_open.connected()) {
        std::string generations;
        if (w.graphics.installed)
            for (const std::string& g : w.graphics.installed->nvidia)
                generations += (generations.empty() ? "" : ", ") + g;
        ask_to_confirm_open(widgets, generations);
        return;
    }
    end_confirmation(w);
    start_task(*widgets, [sender, root = widgets->root] {
        std::vector<std::string> blocking;
        const TaskResult result = use_open_driver(log_sink(sender), blocking, root);
        if (result || !blocking.empty())
            sender.send(OpenDriverChecked{result, std::move(blocking)});
        finish_task(sender, root, result);
    });
}

void on_install_print_drivers(const AppWidgetsRef& widgets, const UiSender& sender) {
    const AppWidgets& w = *widgets;
    PackageList list =
        print_driver_packages({w.chk_hp->get_active(), w.chk_brother_pr->get_active(),
                               w.chk_epson_pr->get_active(), w.chk_gutenprint->get_active()});
    if (!list.empty()) start_install_task(std::move(list), sender, widgets);
}

void on_install_scan_components(const AppWidgetsRef& widgets, const UiSender& sender) {
    const AppWidgets& w = *widgets;
    PackageList list =
        scanner_packages({w.chk_brother_scan4->get_active(), w.chk_brother_scan5->get_active(),
                          w.chk_simple_scan->get_active(), w.chk_skanlite->get_active()});
    if (!list.empty()) start_install_task(std::move(list), sender, widgets);
}

void on_setup_services(const ServiceRecipe& recipe, const AppWidgetsRef& widgets,
                       const UiSender& sender) {
    start_task(*widgets, [recipe, sender, root = widgets->root] {
        finish_task(sender, root, run_service_setup(recipe, log_sink(sender)));
    });
}

void on_register_polkit(const AppWidgetsRef& widgets, const UiSender& sender) {
    start_task(*widgets, [sender, root = widgets->root] {
        finish_task(sender, root, register_polkit_policy(log_sink(sender)));
    });
}

void on_scan_network(const AppWidgetsRef& widgets, const UiSender& sender) {
    // Sent before the worker exists, so it always precedes the result block.
    sender.send(Line{"Scanning network for printers via AirScan & CUPS..."});
    start_task(*widgets, [sender, root = widgets->root] {
        sender.send(StepStarted{{Activity::Search, {}, 1, 1}});
        ScanResults results = discover_network_devices();
        report_machine_state(sender, root);
        sender.send(std::move(results));
    });
}

void on_add_printer(const AppWidgetsRef& widgets, const UiSender& sender, FoundPrinter printer) {
    widgets->network.address_problem = AddressProblem::None;
    start_task(*widgets, [printer = std::move(printer), sender, root = widgets->root] {
        PrinterAdded added = add_printer_queue(printer, log_sink(sender));
        const TaskResult result = added.task;
        sender.send(std::move(added));
        finish_task(sender, root, result);
    });
}

namespace {

void end_remove_confirmation(const AppWidgets& w) {
    w.network.confirming_remove_timer.disconnect();
    w.network.confirming_remove.clear();
    w.network.confirming_cancel.clear();
}

void send_test_page(const AppWidgetsRef& widgets, const UiSender& sender, std::string queue) {
    start_task(*widgets, [queue = std::move(queue), sender, root = widgets->root] {
        const LogSink log = log_sink(sender);
        log.step({Activity::TestPage, queue, 1, 1});
        const TestPageSent sent = print_test_page(queue, log);
        using Kind = QueueNote::Kind;
        const Kind kind = sent.no_test_page  ? Kind::NoTestPage
                          : sent.job.empty() ? Kind::TestRefused
                                             : Kind::TestSent;
        sender.send(QueueNoted{{kind, queue, sent.job, {}}});
        finish_task(sender, root, !sent.job.empty());
        if (sent.job.empty()) return;
        // What became of it is told later; the window is free meanwhile.
        spawn_detached([sender, queue, job = sent.job] {
            const JobOutcome outcome = follow_print_job(queue, job);
            const Kind done = outcome.state == JobOutcome::State::Completed ? Kind::TestCompleted
                              : outcome.state == JobOutcome::State::Stopped ? Kind::TestStopped
                                                                            : Kind::TestWaiting;
            sender.send(QueueNoted{{done, queue, job, outcome.reason}});
            sender.send(QueuesListed{list_print_queues()});
        });
    });
}

}  // namespace

void on_queue_action(const AppWidgetsRef& widgets, const UiSender& sender, QueueAction action,
                     const std::string& queue) {
    const AppWidgets& w = *widgets;
    if (action == QueueAction::TestPage) {
        end_remove_confirmation(w);
        send_test_page(widgets, sender, queue);
        return;
    }
    // Remove and Cancel All Jobs lose something: the first click only asks,
    // on the button itself, for a few seconds.
    std::string* asking = action == QueueAction::Remove       ? &w.network.confirming_remove
                          : action == QueueAction::CancelJobs ? &w.network.confirming_cancel
                                                              : nullptr;
    if (asking != nullptr && *asking != queue) {
        end_remove_confirmation(w);
        *asking = queue;
        w.network.confirming_remove_timer = Glib::signal_timeout().connect_seconds(
            [weak = std::weak_ptr<const AppWidgets>(widgets)] {
                if (const auto alive = weak.lock()) {
                    alive->network.confirming_remove.clear();
                    alive->network.confirming_cancel.clear();
                    show_printer_state(*alive, load_lang());
                }
                return false;
            },
            confirm_seconds);
        show_printer_state(w, load_lang());
        return;
    }
    end_remove_confirmation(w);
    start_task(w, [action, queue, sender, root = widgets->root] {
        const LogSink log = log_sink(sender);
        TaskResult result = false;
        switch (action) {
            case QueueAction::Remove:
                result = remove_print_queue(queue, log);
                break;
            case QueueAction::Resume:
                result = resume_print_queue(queue, log);
                break;
            case QueueAction::CancelJobs:
                result = cancel_queue_jobs(queue, log);
                break;
            case QueueAction::MakeDefault:
            case QueueAction::TestPage:
                result = make_default_queue(queue, log);
                break;
        }
        finish_task(sender, root, result);
    });
}

void on_queue_setting(const AppWidgetsRef& widgets, const UiSender& sender,
                      const std::string& queue, const std::string& key, const std::string& value) {
    end_remove_confirmation(*widgets);
    start_task(*widgets, [queue, key, value, sender, root = widgets->root] {
        const TaskResult result = set_queue_setting(queue, key, value, log_sink(sender));
        finish_task(sender, root, result);
    });
}

void on_cancel_job(const AppWidgetsRef& widgets, const UiSender& sender, const QueueJob& job) {
    end_remove_confirmation(*widgets);
    start_task(*widgets, [job, sender, root = widgets->root] {
        const TaskResult result = cancel_print_job(job, current_user_name(), log_sink(sender));
        finish_task(sender, root, result);
    });
}

void on_usb_action(const AppWidgetsRef& widgets, const UiSender& sender, UsbAction action,
                   const UsbPrinterRow& row) {
    const AppWidgets& w = *widgets;
    w.network.address_problem = AddressProblem::None;
    if (action == UsbAction::InstallDriver) {
        // The package, then the page looks again (after every task).
        if (row.package && !row.package->restricted)
            start_install_task({row.package->name}, sender, widgets);
        return;
    }
    start_task(w, [action, printer = row.printer, sender, root = widgets->root] {
        const LogSink log = log_sink(sender);
        PrinterAdded added = action == UsbAction::SetUpIppUsb ? set_up_ipp_usb_printer(printer, log)
                                                              : add_usb_printer_queue(printer, log);
        const TaskResult result = added.task;
        sender.send(std::move(added));
        finish_task(sender, root, result);
    });
}

void on_add_by_address(const AppWidgetsRef& widgets, const UiSender& sender) {
    const AppWidgets& w = *widgets;
    const PrinterAddress address = parse_printer_address(w.address_entry->get_text().raw());
    w.network.address_problem = address.problem;
    if (address.problem != AddressProblem::None) {
        // One line on the page; nothing runs.
        w.network.last_add.reset();
        show_printer_state(w, load_lang());
        return;
    }
    start_task(w, [address, sender, root = widgets->root] {
        PrinterAdded added = add_printer_by_address(address, log_sink(sender));
        const TaskResult result = added.task;
        sender.send(std::move(added));
        finish_task(sender, root, result);
    });
}

void search_scanners(const AppWidgetsRef& widgets, const UiSender& sender) {
    const AppWidgets& w = *widgets;
    if (w.scanners.searching) return;
    w.scanners.asked = true;
    w.scanners.searching = true;
    w.scanners.last_add.reset();
    show_scanner_state(w, load_lang());
    // Brother's network devices the search found, for their backend's line.
    std::vector<std::pair<std::string, std::string>> brother;
    for (const FoundPrinter& p : w.network.printers)
        if (p.name.find("Brother") != std::string::npos)
            brother.emplace_back(p.name, p.host.substr(0, p.host.find(':')));
    spawn_detached(
        [sender, root = w.root, brother = std::move(brother), hold = ApplicationHold::acquire()] {
            ScannerListing listing = list_scanners();
            std::optional<std::vector<std::string>> installed;
            if (const auto pkgvers = query_installed_pkgvers()) installed = package_names(*pkgvers);
            auto fixes =
                scanner_fixes(root, listing.scanners, read_usb_scanners(root), installed, brother);
            sender.send(ScannersListed{std::move(listing), std::move(fixes)});
        });
}

void on_test_scan(const AppWidgetsRef& widgets, const UiSender& sender, const Scanner& scanner) {
    ScannerPageState& state = widgets->scanners;
    if (state.scanning == scanner.device) {
        // A second click cancels: scanimage's group is ended.
        state.scan_cancelled->store(true);
        if (const pid_t group = state.scan_group->load(); group > 0) ::kill(-group, SIGTERM);
        return;
    }
    if (!state.scanning.empty()) return;
    if (state.scan_dir->empty()) {
        char dir[] = "/tmp/kelmora-scans-XXXXXX";  // mode 0700: the user's alone
        if (::mkdtemp(dir) == nullptr) return;
        *state.scan_dir = dir;
    }
    state.scanning = scanner.device;
    state.scan_cancelled->store(false);
    state.scan_group->store(0);
    state.results.erase(scanner.name);
    show_scanner_state(*widgets, load_lang());
    static std::atomic<unsigned> count{0};
    const std::string file =
        (*state.scan_dir / ("scan-" + std::to_string(++count) + ".png")).string();
    // A listing grows old: network names move (airscan:e0 may be another
    // device now), so an old one is asked again first.
    const bool fresh =
        std::chrono::steady_clock::now() - state.listed_at < std::chrono::seconds(30);
    spawn_detached([sender, scanner, file, fresh, group = state.scan_group,
                    cancelled = state.scan_cancelled, hold = ApplicationHold::acquire()] {
        std::string device = scanner.device;
        if (!fresh)
            for (const Scanner& s : list_scanners().scanners)
                if (s.name == scanner.name) device = s.device;
        const ScanFailure failure = run_test_scan(
            device, file, [group](pid_t pid) { group->store(pid); },
            [cancelled] { return cancelled->load(); });
        sender.send(TestScanDone{scanner.name, file, failure});
    });
}

void on_scanner_fix(const AppWidgetsRef& widgets, const UiSender& sender, const ScannerFix& fix) {
    using Kind = ScannerFix::Kind;
    switch (fix.kind) {
        case Kind::Install:
            start_install_task({fix.package}, sender, widgets);
            return;
        case Kind::EnableHpaio:
        case Kind::JoinGroup:
            start_task(*widgets, [kind = fix.kind, sender, root = widgets->root] {
                const LogSink log = log_sink(sender);
                finish_task(sender, root,
                            kind == Kind::JoinGroup ? join_scanner_group(log) : enable_hpaio(log));
            });
            return;
        case Kind::LogInAgain:
        case Kind::BrotherNetwork:
            return;
    }
}

void on_add_scanner_by_address(const AppWidgetsRef& widgets, const UiSender& sender) {
    const AppWidgets& w = *widgets;
    const ScannerAddress address = parse_scanner_address(w.scanner_address_entry->get_text().raw());
    w.scanners.address_problem = address.problem;
    w.scanners.last_add.reset();
    if (address.problem != AddressProblem::None) {
        show_scanner_state(w, load_lang());  // one line; nothing runs
        return;
    }
    start_task(w, [address, sender, root = widgets->root] {
        const ScannerAdded added = add_scanner_by_address(address, log_sink(sender));
        sender.send(ScannerAddressAdded{added});
        finish_task(sender, root,
                    added == ScannerAdded::Added       ? TaskResult(true)
                    : added == ScannerAdded::Cancelled ? TaskResult(TaskResult::Cancelled)
                                                       : TaskResult(false));
    });
}

void read_machine(const AppWidgetsRef& widgets, const UiSender& sender) {
    const AppWidgets& w = *widgets;
    w.machine.asked = true;
    if (w.machine.reading) {
        w.machine.read_again = true;
        return;
    }
    w.machine.reading = true;
    spawn_detached([sender, root = w.root, firmware = w.machine.firmware,
                    lookups = w.machine.lookups, hold = ApplicationHold::acquire()]() mutable {
        std::optional<std::vector<std::string>> installed;
        if (const auto pkgvers = query_installed_pkgvers()) installed = package_names(*pkgvers);
        if (firmware)
            std::erase_if(*firmware,
                          [&](const MissingFirmware& m) { return firmware_present(root, m.file); });
        sender.send(MachineSurveyed{
            survey_machine(root, installed, current_user_name(), session_group_ids()),
            std::move(firmware), lookups});
    });
}

namespace {

void end_machine_confirmation(const AppWidgets& w) {
    w.machine.confirm_timer.disconnect();
    w.machine.confirming_remove_wl = false;
}

}  // namespace

void on_machine_action(const AppWidgetsRef& widgets, const UiSender& sender,
                       const MachineRow& row) {
    const AppWidgets& w = *widgets;
    const auto task = [&](auto body) {
        end_machine_confirmation(w);
        start_task(w, [body, sender, root = w.root] {
            finish_task(sender, root, body(log_sink(sender), root));
        });
    };
    switch (row.action) {
        case MachineAction::InstallMicrocode:
            end_machine_confirmation(w);
            start_task(w, [package = row.argument, sender, root = w.root] {
                const TaskResult result = install_microcode(package, log_sink(sender), root);
                if (result) sender.send(MicrocodeInstalled{});
                finish_task(sender, root, result);
            });
            return;
        case MachineAction::InstallPackage:
            // Only the packages this page names, as constant text.
            if (const auto package = machine_package(row.argument)) {
                end_machine_confirmation(w);
                start_install_task({*package}, sender, widgets);
            }
            return;
        case MachineAction::InstallWl:
            task([](const LogSink& log, const std::filesystem::path& root) {
                return install_wl_driver(log, root);
            });
            return;
        case MachineAction::RemoveWl:
            // It takes the Wi-Fi away: the first click asks on the button.
            if (!w.machine.confirming_remove_wl) {
                w.machine.confirming_remove_wl = true;
                w.machine.confirm_timer = Glib::signal_timeout().connect_seconds(
                    [weak = std::weak_ptr<const AppWidgets>(widgets)] {
                        if (const auto alive = weak.lock()) {
                            alive->machine.confirming_remove_wl = false;
                            show_machine_state(*alive, load_lang());
                        }
                        return false;
                    },
                    confirm_seconds);
                show_machine_state(w, load_lang());
                return;
            }
            task([](const LogSink& log, const std::filesystem::path&) {
                return remove_wl_driver(log);
            });
            return;
        case MachineAction::Unblock:
            task([index = row.argument](const LogSink& log, const std::filesystem::path&) {
                return unblock_radio(index, log);
            });
            return;
        case MachineAction::SetUpBluetooth:
            end_machine_confirmation(w);
            on_setup_services(bluetooth_service_recipe(!row.argument.empty()), widgets, sender);
            return;
        case MachineAction::JoinBluetoothGroup:
            task([](const LogSink& log, const std::filesystem::path&) {
                return join_group("bluetooth", log);
            });
            return;
        case MachineAction::None:
            return;
    }
}

void on_look_for_firmware(const AppWidgetsRef& widgets, const UiSender& sender) {
    end_machine_confirmation(*widgets);
    start_task(*widgets, [sender, root = widgets->root] {
        std::vector<MissingFirmware> found;
        const TaskResult result = look_for_missing_firmware(found, log_sink(sender), root);
        if (result) sender.send(FirmwareFound{std::move(found)});
        finish_task(sender, root, result);
    });
}

void report_machine_state(const UiSender& sender, const std::filesystem::path& root) {
    sender.send(InstalledDrivers{query_installed_graphics(root)});
    sender.send(QueuesListed{list_print_queues()});
    std::optional<std::vector<std::string>> installed;
    if (const auto pkgvers = query_installed_pkgvers()) installed = package_names(*pkgvers);
    sender.send(UsbPrintersListed{survey_usb_printers(root, installed)});
}

}  // namespace kelmora
