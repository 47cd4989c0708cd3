// Print queues: listing what CUPS has, and adding a found printer as an IPP
// Everywhere queue ("pkexec lpadmin -p NAME -E -v URI -m everywhere").
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "services/printers.h"
#include "tasks/ui_message.h"
#include "ui/app_widgets.h"

namespace kelmora {

// How long the new queue may take to get its driver: cupsd asks the printer
// for its description in the background, after lpadmin has returned.
inline constexpr std::chrono::milliseconds queue_driver_wait{30'000};

// The queues CUPS has, from "lpstat -v" in the C locale (as the user, never on
// the main thread); none when lpstat is missing or cupsd does not answer.
std::optional<std::vector<PrintQueue>> list_print_queues();

// What lpadmin's output says went wrong.
AddResult classify_lpadmin_output(const std::vector<std::string>& lines);

// Worker body: adds `printer` under a fresh queue name, waits up to `wait`
// for cupsd to make its driver, and removes a queue that got none. Sends the
// command lines, a PrinterAdded and nothing else; true when the queue works.
bool add_printer_queue(const FoundPrinter& printer, const UiSender& sender,
                       std::chrono::milliseconds wait = queue_driver_wait);

// The "Add" button of a found printer.
void on_add_printer(const AppWidgetsRef& widgets, const UiSender& sender, FoundPrinter printer);

// What the window shows about the machine, asked again after every task:
// the installed graphics drivers and the print queues.
void report_machine_state(const UiSender& sender);

}  // namespace kelmora
