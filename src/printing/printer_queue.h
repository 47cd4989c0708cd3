// Print queues: listing what CUPS has, and adding a found printer as an IPP
// Everywhere queue ("pkexec lpadmin -p NAME -E -v URI -m everywhere").
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "printing/printers.h"
#include "printing/usb_printers.h"
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
// The queues when they are known, for the page, with their pending jobs,
// whether they take new ones, and their supplies.
std::optional<std::vector<PrintQueue>> list_print_queues();

// The program name kelmora passes to pkexec for one of CUPS's administration
// tools: the bare name for the helper, else where this system has it.
std::string cups_admin_program(const std::string& name);

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
    NotFound,       // added by address: nothing answered IPP there
    NotEverywhere,  // added by address: it answers, but not as IPP Everywhere
    NoUsbDevice,    // USB: CUPS does not list the printer (cable, power, ipp-usb holds it)
    NoDriver,       // USB: CUPS has no driver for it
    NoIppUsb,       // IPP over USB: ipp-usb set up, but the printer was not announced
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

// What a printer said about itself when asked at an address (ipptool's test
// report): whether it answered, whether it takes a format an IPP Everywhere
// queue sends (PWG raster, Apple raster or PDF), and its name.
struct PrinterProbe {
    bool answered = false;
    bool everywhere = false;
    std::string name;  // printer-info, else printer-make-and-model; plain text
};
PrinterProbe judge_printer_probe(std::string_view report, int status);

// How long a printer at an address may take to answer; how long a test
// page is followed.
inline constexpr std::chrono::seconds printer_probe_limit{10};
inline constexpr std::chrono::seconds test_page_follow_limit{60};

// Adds the printer at `address` (parsed) as found printers are added: it is
// asked first, without privileges, whether it speaks IPP Everywhere, then
// the queue is made under the printer's own name. Blocks.
QueueAdded add_printer_by_address(const PrinterAddress& address, const LogSink& log,
                                  std::chrono::milliseconds wait = queue_driver_wait);

// CUPS's test page (cups-filters ships it, and prints it).
inline constexpr const char* cups_test_page = "/usr/share/cups/data/testprint";

// Sends the test page to `queue` as the user ("lp -d QUEUE FILE"); the job id
// ("Office-12"), empty when lp refused, with lp's line in the log.
struct TestPageSent {
    std::string queue;
    std::string job;
    bool no_test_page = false;  // the file is missing: cups-filters is not installed
};
TestPageSent print_test_page(const std::string& queue, const LogSink& log,
                             const std::string& test_page = cups_test_page);
// "request id is Office-12 (1 file(s))" -> "Office-12".
std::string job_from_lp_output(std::string_view out);

// What became of a job within `limit`: done, the queue stopped (with CUPS's
// reason), or still waiting.
struct JobOutcome {
    enum class State { Completed, Stopped, Waiting } state = State::Waiting;
    std::string reason;
};
JobOutcome follow_print_job(const std::string& queue, const std::string& job,
                            std::chrono::milliseconds limit = test_page_follow_limit);

// Adds a USB printer with the driver CUPS ranks first for it: the helper
// lists CUPS's USB devices, the one with the printer's serial number (else
// its make and model) gets a queue under the printer's name. Blocks.
QueueAdded add_usb_printer_queue(const UsbPrinter& printer, const LogSink& log);

// How long ipp-usb may take to announce a printer once its service runs.
inline constexpr std::chrono::seconds ipp_usb_announce_limit{30};

// An IPP-over-USB printer: ipp-usb installed and enabled with Avahi, then
// the printer it announces on loopback added as a driverless queue. Blocks.
QueueAdded set_up_ipp_usb_printer(const UsbPrinter& printer, const LogSink& log,
                                  std::chrono::milliseconds wait = ipp_usb_announce_limit);

// A stopped queue started again ("cupsenable", and "cupsaccept" where it
// refuses jobs), and a queue's jobs all cancelled ("cancel -a"), through the
// helper; the queue is checked against CUPS's list right before. Blocks.
TaskResult resume_print_queue(const std::string& queue, const LogSink& log);
TaskResult cancel_queue_jobs(const std::string& queue, const LogSink& log);

// ipp://localhost/printers/NAME, the name percent-encoded.
std::string local_queue_uri(std::string_view queue);
// The queue's supplies, asked as the user with ipptool; none when it reports none.
std::vector<Supply> read_queue_supplies(const std::string& queue);

// Makes `queue` the system's default ("lpadmin -d") or removes it ("lpadmin
// -x"), through the helper; the name is checked against CUPS's list right
// before. Blocks.
TaskResult make_default_queue(const std::string& queue, const LogSink& log);
TaskResult remove_print_queue(const std::string& queue, const LogSink& log);

// One of a queue's settings for every user ("lpadmin -p Q -o KEY=VALUE",
// KEY one kelmora sets, VALUE one of the queue's own), through the helper,
// which checks both against the queue's listing. Blocks.
TaskResult set_queue_setting(const std::string& queue, const std::string& key,
                             const std::string& value, const LogSink& log);
// The paper of kelmora's own locale (LC_ALL, LC_PAPER, LANG).
Paper locale_paper();
// A queue just added gets `paper` (the locale's) where its PPD offers it and
// has another; otherwise it keeps its own and nothing fails. Blocks.
void give_locale_paper(const std::string& queue, Paper paper, const LogSink& log);
// Cancels one job: `me`'s own as the user (no password), another's through
// the helper. Blocks.
TaskResult cancel_print_job(const QueueJob& job, const std::string& me, const LogSink& log);

}  // namespace kelmora
