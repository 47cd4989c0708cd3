// The "clicked" handlers of the window's task buttons. Each reads its controls,
// starts a task with one core function on a worker, and sends what it returned.
#pragma once

#include "packages/repositories.h"
#include "printing/printers.h"
#include "services/service_setup.h"
#include "ui/app_widgets.h"
#include "ui/ui_message.h"

namespace kelmora {

// Enters the busy state and installs `packages` on a detached worker, which
// ends the task with Done. Main thread only; returns at once.
// A graphics driver takes effect after a restart: with `graphics`, a
// successful install makes the page say so.
void start_install_task(PackageList packages, UiSender sender, AppWidgetsRef widgets,
                        bool graphics = false);

void on_install_nvidia(const AppWidgetsRef& widgets, const UiSender& sender);
void on_install_amd(const AppWidgetsRef& widgets, const UiSender& sender);
void on_install_intel(const AppWidgetsRef& widgets, const UiSender& sender);
// Builds the NVIDIA kernel module again for the kernels that lack it.
void on_repair_nvidia(const AppWidgetsRef& widgets, const UiSender& sender);
// Back from the installed NVIDIA generation to nouveau: the first click asks
// on the button itself, a second one within a few seconds runs it.
void on_use_open_driver(const AppWidgetsRef& widgets, const UiSender& sender);
// These two do nothing at all when no check button is active.
void on_install_print_drivers(const AppWidgetsRef& widgets, const UiSender& sender);
void on_install_scan_components(const AppWidgetsRef& widgets, const UiSender& sender);

// Both set-up buttons.
void on_setup_services(const ServiceRecipe& recipe, const AppWidgetsRef& widgets,
                       const UiSender& sender);
void on_register_polkit(const AppWidgetsRef& widgets, const UiSender& sender);
void on_scan_network(const AppWidgetsRef& widgets, const UiSender& sender);
// The "Add" button of a found printer.
void on_add_printer(const AppWidgetsRef& widgets, const UiSender& sender, FoundPrinter printer);

// A queue row's buttons: the test page (as the user), the default and the
// removal (through the helper); Remove asks on its button first.
// A queue's setting (its default for every user), and one job cancelled.
void on_queue_setting(const AppWidgetsRef& widgets, const UiSender& sender,
                      const std::string& queue, const std::string& key, const std::string& value);
void on_cancel_job(const AppWidgetsRef& widgets, const UiSender& sender, const QueueJob& job);

void on_queue_action(const AppWidgetsRef& widgets, const UiSender& sender, QueueAction action,
                     const std::string& queue);
// A USB printer's row: Add, the driver's package, or ipp-usb.
void on_usb_action(const AppWidgetsRef& widgets, const UiSender& sender, UsbAction action,
                   const UsbPrinterRow& row);
// "Add by Address": the typed address, checked before anything runs.
void on_add_by_address(const AppWidgetsRef& widgets, const UiSender& sender);

// The scanner page: listing (off the main thread; the page says it
// searches), a row's Test Scan or its cancel, a fix's button, and adding a
// scanner by its address.
void search_scanners(const AppWidgetsRef& widgets, const UiSender& sender);
void on_test_scan(const AppWidgetsRef& widgets, const UiSender& sender, const Scanner& scanner);
void on_scanner_fix(const AppWidgetsRef& widgets, const UiSender& sender, const ScannerFix& fix);
void on_add_scanner_by_address(const AppWidgetsRef& widgets, const UiSender& sender);

// This Computer: reading the machine (off the main thread), a row's button,
// and reading the kernel log for the firmware it missed.
void read_machine(const AppWidgetsRef& widgets, const UiSender& sender);
void on_machine_action(const AppWidgetsRef& widgets, const UiSender& sender, const MachineRow& row);
void on_look_for_firmware(const AppWidgetsRef& widgets, const UiSender& sender);

// What the window shows about the machine, asked again after every task:
// the installed graphics drivers (and kernel modules below `root`) and the
// print queues. Blocks (worker only).
void report_machine_state(const UiSender& sender, const std::filesystem::path& root);

}  // namespace kelmora
