// The messages that worker threads send to a window, and the channel type.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "hardware/graphics.h"
#include "packages/install_plan.h"
#include "packages/machine_survey.h"
#include "printing/discovery.h"
#include "printing/printer_queue.h"
#include "process/log_sink.h"
#include "scanning/scanners.h"
#include "ui/ui_channel.h"

namespace kelmora {

// One log line, without its line terminator.
struct Line {
    std::string text;
};
// A task ended; a graphics install that succeeded takes effect after a restart.
struct Done {
    bool success;
    bool restart_needed = false;
    bool cancelled = false;  // the authentication was dismissed; nothing changed
    TaskResult::Kind kind = success ? TaskResult::Succeeded : TaskResult::Failed;
};
// A step of the running task began.
struct StepStarted {
    StepReport step;
};
// Re-run the service status probe in the stored language.
struct RefreshStatus {};
// The network discovery result; it also ends that task.
using ScanResults = DiscoveryResult;
// The print queues CUPS has (when the window opens, after tasks); none when
// lpstat could not tell (CUPS not installed or not running).
struct QueuesListed {
    std::optional<std::vector<PrintQueue>> queues;
};
// How adding a printer ended, for the line under the list.
using PrinterAdded = QueueAdded;
// The printers on the USB ports and what drives each (when the window opens,
// after tasks).
struct UsbPrintersListed {
    std::vector<UsbPrinterRow> rows;
};

// What the scanner search found, and the fixes for what is missing.
struct ScannersListed {
    ScannerListing listing;
    std::vector<ScannerFix> fixes;
};
// A test scan ended: the picture's file, or why there is none.
struct TestScanDone {
    std::string name;  // the scanner's
    std::string file;
    ScanFailure failure = ScanFailure::None;
};
// Adding a scanner by its address ended.
struct ScannerAddressAdded {
    ScannerAdded result;
};

// The way back to the open driver ended; `blocking` names the files that
// still blacklist nouveau.
struct OpenDriverChecked {
    bool done = false;
    std::vector<std::string> blocking;
};

// What the page says about the last thing done with a queue.
struct QueueNote {
    enum class Kind { TestSent, TestCompleted, TestStopped, TestWaiting, NoTestPage, TestRefused };
    Kind kind;
    std::string queue;
    std::string job;     // the test page's job ("Office-12")
    std::string reason;  // CUPS's, for a stopped queue
};

// What became of a test page (sent, then done or stopped).
struct QueueNoted {
    QueueNote note;
};

// What the machine's graphics hardware is (read once per window).
struct GraphicsDetected {
    GraphicsHardware hardware;
};
// Which graphics drivers are installed (when the window opens, after tasks);
// none when xbps-query could not tell.
struct InstalledDrivers {
    std::optional<InstalledGraphics> drivers;
};

// The rest of the machine, read off the main thread (first shown, after tasks).
struct MachineSurveyed {
    MachineSurvey survey;
    // The missing firmware found before, less what is there now, and which
    // lookup's list that was.
    std::optional<std::vector<MissingFirmware>> firmware;
    unsigned lookups = 0;
};
// What Look for Missing Firmware found in the kernel log.
struct FirmwareFound {
    std::vector<MissingFirmware> files;
};
// The processor's microcode went on: it loads at the next start.
struct MicrocodeInstalled {};

using UiMessage =
    std::variant<Line, Done, RefreshStatus, ScanResults, GraphicsDetected, InstalledDrivers,
                 QueuesListed, PrinterAdded, StepStarted, OpenDriverChecked, QueueNoted,
                 UsbPrintersListed, ScannersListed, TestScanDone, ScannerAddressAdded,
                 MachineSurveyed, FirmwareFound, MicrocodeInstalled>;
using UiSender = UiChannel<UiMessage>::Sender;
using UiReceiver = UiChannel<UiMessage>::Receiver;

// The core's log lines and steps, as messages on `sender` (paced by the window).
inline LogSink log_sink(const UiSender& sender) {
    return LogSink([sender](std::string text) { return sender.send(Line{std::move(text)}); },
                   [sender](std::size_t limit) { sender.wait_for_room(limit); },
                   [sender](StepReport step) { sender.send(StepStarted{std::move(step)}); });
}

}  // namespace kelmora
