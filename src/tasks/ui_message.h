// The messages that worker threads send to a window, and the channel type.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "hardware/graphics.h"
#include "services/printers.h"
#include "tasks/ui_channel.h"

namespace kelmora {

// One log line, without its line terminator.
struct Line {
    std::string text;
};
// A task ended; a graphics install that succeeded takes effect after a restart.
struct Done {
    bool success;
    bool restart_needed = false;
};
// Re-run the service status probe in the stored language.
struct RefreshStatus {};
// The network discovery result; it also ends that task. `entries` is the log
// block; the rows are what the printer page lists.
struct ScanResults {
    std::vector<std::string> entries;
    std::vector<FoundPrinter> printers;
    std::vector<FoundScanner> scanners;
};
// The print queues CUPS has (when the window opens, after tasks); none when
// lpstat could not tell (CUPS not installed or not running).
struct QueuesListed {
    std::optional<std::vector<PrintQueue>> queues;
};
// How adding a printer ended, for the line under the list.
enum class AddResult { Added, NoServer, NoDescription, Unresolved, NoAnswer, Failed };
struct PrinterAdded {
    AddResult result;
    std::string queue;
};

// What the machine's graphics hardware is (read once per window).
struct GraphicsDetected {
    GraphicsHardware hardware;
};
// The graphics drivers a system has installed.
struct InstalledGraphics {
    std::vector<std::string> nvidia;  // the generations with installed members
    bool amd = false;                 // every package of the AMD Mesa set
    bool intel = false;               // every package of the Intel Mesa set
};
// Which graphics drivers are installed (when the window opens, after tasks);
// none when xbps-query could not tell.
struct InstalledDrivers {
    std::optional<InstalledGraphics> drivers;
};

using UiMessage = std::variant<Line, Done, RefreshStatus, ScanResults, GraphicsDetected,
                               InstalledDrivers, QueuesListed, PrinterAdded>;
using UiSender = UiChannel<UiMessage>::Sender;
using UiReceiver = UiChannel<UiMessage>::Receiver;

}  // namespace kelmora
