// Print queues: listing what CUPS has, and adding a found printer as an IPP
// Everywhere queue ("pkexec lpadmin -p NAME -E -v URI -m everywhere").
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "printing/printers.h"
#include "process/log_sink.h"

namespace kelmora {

// How long the new queue may take to get its driver: cupsd asks the printer
// for its description in the background, after lpadmin has returned.
inline constexpr std::chrono::milliseconds queue_driver_wait{30'000};

// The queues CUPS has, from "lpstat -v" in the C locale (as the user, never on
// the main thread); none when lpstat is missing or cupsd does not answer.
std::optional<std::vector<PrintQueue>> list_print_queues();

// How adding a printer ended, for the line under the list.
enum class AddResult { Added, NoServer, NoDescription, Unresolved, NoAnswer, Failed };
struct QueueAdded {
    AddResult result;
    std::string queue;
};

// What lpadmin's output says went wrong.
AddResult classify_lpadmin_output(const std::vector<std::string>& lines);

// Adds `printer` under a fresh queue name, waits up to `wait` for cupsd to
// make its driver, and removes a queue that got none. Logs the command lines
// and how it ended. Blocks; never on the main thread.
QueueAdded add_printer_queue(const FoundPrinter& printer, const LogSink& log,
                             std::chrono::milliseconds wait = queue_driver_wait);

}  // namespace kelmora
