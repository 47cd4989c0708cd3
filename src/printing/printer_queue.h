// Print queues: listing what CUPS has, and adding a found printer as an IPP
// Everywhere queue ("pkexec lpadmin -p NAME -E -v URI -m everywhere").
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "printing/printers.h"
#include "process/log_sink.h"
#include "process/process.h"

namespace kelmora {

// How long the new queue may take to get its driver: cupsd asks the printer
// for its description in the background, after lpadmin has returned.
inline constexpr std::chrono::milliseconds queue_driver_wait{30'000};

// What "lpstat -v" (C locale) said about the queues. Known only when it
// answered completely and in time: exit 0, or exit 1 with nothing but "No
// destinations added.". A refusal ("lpstat: Forbidden"), a timeout or an
// error we do not know leaves them unknown: an add must then not start, or
// it could take over a queue of the same name.
struct QueueListing {
    enum class State { Known, NoServer, Unknown };
    State state = State::Unknown;
    std::vector<PrintQueue> queues;  // when Known
};
QueueListing judge_lpstat(const std::optional<CapturedOutput>& out);

// The same, asked as the user (never on the main thread).
QueueListing read_print_queues();
// The queues when they are known, for the page.
std::optional<std::vector<PrintQueue>> list_print_queues();

// How adding a printer ended, for the line under the list.
enum class AddResult {
    Added,
    NoServer,
    NoDescription,
    Unresolved,
    NoAnswer,       // and its queue removed again
    NoAnswerKept,   // and the removal of its queue refused
    QueuesUnknown,  // nothing was run
    Cancelled,      // the authentication was dismissed: nothing was changed
    Failed
};
struct QueueAdded {
    AddResult result;
    std::string queue;
    TaskResult task = false;  // how the task ended, for the line above the log
};

// What lpadmin's output says went wrong.
AddResult classify_lpadmin_output(const std::vector<std::string>& lines);

// Adds `printer` under a queue name that no queue has (checked again right
// before lpadmin), waits up to `wait` for cupsd to make its driver, and
// removes the queue it made when it got none. Logs the command lines and how
// it ended. Blocks; never on the main thread.
QueueAdded add_printer_queue(const FoundPrinter& printer, const LogSink& log,
                             std::chrono::milliseconds wait = queue_driver_wait);

}  // namespace kelmora
