#include "printing/printer_queue.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "printing/discovery_output.h"
#include "process/command.h"
#include "process/process.h"
#include "services/service_setup.h"

namespace kelmora {
namespace {

constexpr std::chrono::milliseconds cups_tool_limit{10'000};
constexpr std::chrono::milliseconds discovery_tool_limit_for_ipp_usb{15'000};

bool contains_text(const std::string& line, std::string_view what) {
    return line.find(what) != std::string::npos;
}

// CUPS's tools in the C locale: their messages are matched, and lpstat's
// "device for" is translated otherwise.
std::optional<CapturedOutput> cups_tool(std::vector<std::string> argv,
                                        std::chrono::milliseconds limit = cups_tool_limit) {
    argv.insert(argv.begin(), {"env", "LC_ALL=C"});
    return capture_output(argv, limit);
}

// What the queue's PPD offers to change, asked as the user.
std::vector<QueueSetting> read_queue_settings(const std::string& queue) {
    const auto out = cups_tool({"lpoptions", "-p", queue, "-l"});
    if (!out || out->status != 0) return {};
    return queue_settings(options_from_lpoptions(out->out));
}

// The queue has its driver once lpoptions lists its options.
bool queue_has_driver(const std::string& queue) {
    const auto out = cups_tool({"lpoptions", "-p", queue, "-l"});
    if (!out) return false;
    for (const std::string& line : output_lines(out->out))
        if (line.rfind("lpoptions:", 0) != 0 && line.find(':') != std::string::npos) return true;
    return false;
}

std::string lpadmin_program() {
    return cups_admin_program("lpadmin");
}

std::string result_line(AddResult result, const std::string& queue) {
    switch (result) {
        case AddResult::Added:
            return "Drucker hinzugefügt: " + queue;
        case AddResult::NoServer:
            return "Fehler: CUPS ist nicht erreichbar.";
        case AddResult::NoDescription:
            return "Fehler: Der Drucker beschreibt sich nicht für treiberloses Drucken.";
        case AddResult::Unresolved:
            return "Fehler: Der Netzwerkname des Druckers lässt sich nicht auflösen.";
        case AddResult::NoAnswer:
            return "Fehler: Der Drucker hat nicht geantwortet; die Warteschlange " + queue +
                   " wurde wieder entfernt.";
        case AddResult::NoAnswerKept:
            return "Fehler: Der Drucker hat nicht geantwortet, und das Entfernen der "
                   "Warteschlange wurde abgelehnt. Sie bleibt ohne Treiber; entfernen mit: "
                   "lpadmin -x " +
                   queue;
        case AddResult::Cancelled:
            return "Abgebrochen: Der Drucker wurde nicht hinzugefügt.";
        case AddResult::NotFound:
            return "Fehler: Unter dieser Adresse antwortet kein IPP-Drucker; es wurde nichts "
                   "geändert.";
        case AddResult::NotEverywhere:
            return "Fehler: Der Drucker unterstützt kein IPP Everywhere (treiberloses Drucken); "
                   "es wurde nichts geändert.";
        case AddResult::QueuesUnknown:
            return "Fehler: CUPS nennt seine Druckwarteschlangen nicht (abgelehnt oder keine "
                   "Antwort); es wird nichts geändert.";
        case AddResult::NoUsbDevice:
            return "Fehler: CUPS findet den USB-Drucker nicht (Kabel, Strom?); es wurde nichts "
                   "geändert.";
        case AddResult::NoDriver:
            return "Fehler: CUPS hat keinen Treiber für diesen Drucker; es wurde nichts geändert.";
        case AddResult::NoIppUsb:
            return "Fehler: ipp-usb läuft, hat den Drucker aber nicht angekündigt.";
        case AddResult::Failed:
            break;
    }
    return "Fehler: Der Drucker wurde nicht hinzugefügt.";
}

// lpadmin's messages are matched: C locale (pkexec passes LC_ALL on).
const std::vector<std::string> c_locale = {"LC_ALL=C"};

}  // namespace

// pkexec looks programs up in the caller's PATH, and a user's PATH on some
// systems (Debian) leaves out /usr/sbin, where CUPS's administration tools
// live there; on Void they are in /usr/bin. The helper finds them itself.
std::string cups_admin_program(const std::string& name) {
    if (!installed_helper().empty() || program_on_path(name)) return name;
    const std::string sbin = "/usr/sbin/" + name;
    return ::access(sbin.c_str(), X_OK) == 0 ? sbin : name;
}

QueueListing judge_lpstat(const std::optional<CapturedOutput>& out) {
    QueueListing listing;
    if (!out || out->timed_out) return listing;
    const std::string all = out->out + out->err;
    if (out->status == 0) {
        listing.state = QueueListing::State::Known;
        listing.queues = queues_from_lpstat(out->out);
    } else if (out->status == 1 && out->out.empty() &&
               output_lines(out->err) ==
                   std::vector<std::string>{"lpstat: No destinations added."}) {
        listing.state = QueueListing::State::Known;  // an answer: there are none
    } else if (contains_text(all, "Scheduler is not running") ||
               contains_text(all, "Unable to connect to server") ||
               contains_text(all, "No such file")) {
        listing.state = QueueListing::State::NoServer;
    }
    return listing;
}

QueueListing read_print_queues() {
    QueueListing listing = judge_lpstat(cups_tool({"lpstat", "-v"}));
    // States and the default are for the page; the names alone decide.
    if (listing.state == QueueListing::State::Known && !listing.queues.empty())
        if (const auto status = cups_tool({"lpstat", "-p", "-d"}))
            apply_lpstat_status(listing.queues, status->out);
    return listing;
}

std::optional<std::vector<PrintQueue>> list_print_queues() {
    QueueListing listing = read_print_queues();
    if (listing.state != QueueListing::State::Known) return std::nullopt;
    if (listing.queues.empty()) return std::move(listing.queues);
    if (const auto accepting = cups_tool({"lpstat", "-a"}))
        apply_lpstat_accepting(listing.queues, accepting->out);
    const auto jobs = cups_tool({"lpstat", "-o"});
    if (jobs) apply_lpstat_jobs(listing.queues, jobs->out);
    for (PrintQueue& queue : listing.queues) {
        queue.supplies = read_queue_supplies(queue.name);
        queue.settings = read_queue_settings(queue.name);
        if (jobs) queue.jobs = jobs_from_lpstat(jobs->out, queue.name);
    }
    return std::move(listing.queues);
}

AddResult classify_lpadmin_output(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (contains_text(line, "Unable to connect to server") ||
            contains_text(line, "Scheduler is not running"))
            return AddResult::NoServer;
        if (contains_text(line, "Unable to create PPD")) return AddResult::NoDescription;
        // The helper adds no loopback printer that nobody serves.
        if (contains_text(line, "no printer answers at this loopback address"))
            return AddResult::NoAnswer;
        if (contains_text(line, "Couldn't resolve mDNS URI") ||
            contains_text(line, "Unable to resolve"))
            return AddResult::Unresolved;
    }
    return AddResult::Failed;
}

QueueAdded add_printer_queue(const FoundPrinter& printer, const LogSink& log,
                             std::chrono::milliseconds wait) {
    std::string queue;
    const auto finish = [&](AddResult result, std::optional<TaskResult> task = {}) {
        log.line(result_line(result, queue));
        return QueueAdded{
            result, queue,
            task.value_or(result == AddResult::Cancelled ? TaskResult::Cancelled
                                                         : TaskResult(result == AddResult::Added))};
    };
    log.step({Activity::AddPrinter, printer.name, 1, 1});
    const QueueListing before = read_print_queues();
    if (before.state == QueueListing::State::NoServer) return finish(AddResult::NoServer);
    if (before.state != QueueListing::State::Known) return finish(AddResult::QueuesUnknown);
    queue = queue_name_for(printer.name, before.queues);
    // Once more right before lpadmin, which would change a queue of that name.
    const QueueListing now = read_print_queues();
    if (now.state != QueueListing::State::Known) return finish(AddResult::QueuesUnknown);
    if (queue_name_taken(queue, now.queues)) {
        log.line("Fehler: Eben ist eine Warteschlange " + queue +
                 " entstanden; sie bleibt, wie sie ist.");
        return finish(AddResult::Failed);
    }
    // "-E" after "-p" enables the queue; before it, it would mean encryption.
    const std::string lpadmin = lpadmin_program();
    const CommandResult added = run_pkexec_command(
        {lpadmin, "-p", queue, "-E", "-v", printer.uri, "-m", "everywhere"}, log, {}, c_locale);
    if (added.status == pkexec_dismissed_status) return finish(AddResult::Cancelled);
    if (const TaskResult why = privileged_result(added, false); why.polkit_missing())
        return finish(AddResult::Failed, why);
    if (added.status != 0) return finish(classify_lpadmin_output(added.tail));
    // lpadmin returns before cupsd has asked the printer for its description.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!queue_has_driver(queue)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            // A queue without a driver prints nothing. It is ours (its name
            // was free right before lpadmin): it goes again, if we may.
            const bool removed =
                run_pkexec_command({lpadmin, "-x", queue}, log, {}, c_locale).status == 0;
            return finish(removed ? AddResult::NoAnswer : AddResult::NoAnswerKept);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    give_locale_paper(queue, locale_paper(), log);
    return finish(AddResult::Added);
}

PrinterProbe judge_printer_probe(std::string_view report, int status) {
    PrinterProbe probe;
    std::string info, model, formats;
    for (const std::string& line : output_lines(report)) {
        // "        printer-info (textWithoutLanguage) = Office"
        const auto open = line.find(" (");
        const auto equals = line.find(") = ");
        if (open == std::string::npos || equals == std::string::npos || equals < open) continue;
        std::string_view name(line.data(), open);
        while (name.starts_with(' ')) name.remove_prefix(1);
        const std::string value = line.substr(equals + 4);
        std::string* into = name == "printer-info"                ? &info
                            : name == "printer-make-and-model"    ? &model
                            : name == "document-format-supported" ? &formats
                                                                  : nullptr;
        if (into != nullptr && into->empty()) *into = value;
    }
    probe.answered = status == 0 || !model.empty() || !formats.empty();
    for (std::string_view format : {"image/pwg-raster", "image/urf", "application/pdf"})
        for (std::size_t at = 0; (at = formats.find(format, at)) != std::string::npos;
             at += format.size()) {
            const std::size_t end = at + format.size();
            if ((at == 0 || formats[at - 1] == ',') &&
                (end == formats.size() || formats[end] == ','))
                probe.everywhere = true;
        }
    probe.everywhere = probe.everywhere && status == 0;
    probe.name = plain_display_text(!plain_display_text(info).empty() ? info : model);
    return probe;
}

namespace {

// An ipptool test file: Get-Printer-Attributes for `attributes` (a
// comma-separated list), each displayed in the test report.
std::string attributes_test(std::string_view name, std::string_view attributes) {
    std::string test = "{\n\tNAME \"kelmora: " + std::string(name) +
                       "\"\n\tOPERATION Get-Printer-Attributes\n"
                       "\tGROUP operation-attributes-tag\n"
                       "\tATTR charset attributes-charset utf-8\n"
                       "\tATTR naturalLanguage attributes-natural-language en\n"
                       "\tATTR uri printer-uri $uri\n"
                       "\tATTR keyword requested-attributes " +
                       std::string(attributes) + "\n\tSTATUS successful-ok\n";
    while (!attributes.empty()) {
        const std::string_view one = attributes.substr(0, attributes.find(','));
        test += "\tDISPLAY " + std::string(one) + "\n";
        attributes.remove_prefix(std::min(attributes.size(), one.size() + 1));
    }
    return test + "}\n";
}

// The printer's description, from the printer itself.
const std::string probe_test =
    attributes_test("does the printer speak IPP Everywhere",
                    "printer-make-and-model,printer-info,document-format-supported");

// ipptool with one of our test files; ipptool gives up after its own
// time-out, ours is the backstop.
std::optional<CapturedOutput> run_ipptool(const std::string& uri, std::string_view test) {
    char path[] = "/tmp/kelmora-ipp-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) return std::nullopt;
    write_all(fd, std::string(test));
    ::close(fd);
    auto out =
        cups_tool({"ipptool", "-T", std::to_string(printer_probe_limit.count()), "-t", uri, path},
                  printer_probe_limit + std::chrono::seconds(5));
    ::unlink(path);
    if (out && out->timed_out) return std::nullopt;
    return out;
}

PrinterProbe probe_printer(const std::string& uri) {
    const auto out = run_ipptool(uri, probe_test);
    if (!out) return {};
    return judge_printer_probe(out->out, out->status);
}

// A queue's supplies, from CUPS.
const std::string supplies_test = attributes_test(
    "the supplies of a queue", "marker-names,marker-levels,marker-colors,marker-types");

}  // namespace

QueueAdded add_printer_by_address(const PrinterAddress& address, const LogSink& log,
                                  std::chrono::milliseconds wait) {
    log.step({Activity::AddPrinter, address.host, 1, 1});
    log.line("Frage den Drucker unter " + address.uri + " ...");
    const PrinterProbe probe = probe_printer(address.uri);
    if (!probe.answered || !probe.everywhere) {
        const AddResult result = probe.answered ? AddResult::NotEverywhere : AddResult::NotFound;
        log.line(result_line(result, {}));
        return {result, {}, false};
    }
    FoundPrinter printer;
    printer.name = probe.name.empty() ? address.host : probe.name;
    printer.uri = address.uri;
    printer.host = address.host;
    return add_printer_queue(printer, log, wait);
}

std::string local_queue_uri(std::string_view queue) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string uri = "ipp://localhost/printers/";
    for (const char c : queue) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
            b == '-' || b == '.' || b == '_' || b == '~') {
            uri += c;
        } else {
            uri += '%';
            uri += hex[b >> 4];
            uri += hex[b & 15];
        }
    }
    return uri;
}

std::vector<Supply> read_queue_supplies(const std::string& queue) {
    const auto out = run_ipptool(local_queue_uri(queue), supplies_test);
    if (!out || out->status != 0) return {};
    return supplies_from_ipptool(out->out);
}

std::string job_from_lp_output(std::string_view out) {
    constexpr std::string_view lead = "request id is ";
    for (const std::string& line : output_lines(out)) {
        if (!line.starts_with(lead)) continue;
        const std::string_view rest = std::string_view(line).substr(lead.size());
        const std::string job(rest.substr(0, rest.find(' ')));
        if (!job.empty()) return job;
    }
    return {};
}

TestPageSent print_test_page(const std::string& queue, const LogSink& log,
                             const std::string& test_page) {
    TestPageSent sent{queue, {}, false};
    if (::access(test_page.c_str(), R_OK) != 0) {
        sent.no_test_page = true;
        log.line("Fehler: CUPS' Testseite " + test_page +
                 " fehlt; sie kommt mit cups-filters (\"Set up Services\" installiert es).");
        return sent;
    }
    log.line("Starting: lp " + quoted_arg_list({"-d", queue, test_page}));
    const auto out = cups_tool({"lp", "-d", queue, test_page});
    if (out)
        for (const std::string& line : output_lines(out->out + out->err))
            log.line(plain_display_text(line, 200));
    if (out && out->status == 0) sent.job = job_from_lp_output(out->out);
    if (sent.job.empty())
        log.line(!out             ? "Fehler: lp lässt sich nicht starten."
                 : out->timed_out ? "Fehler: lp antwortet nicht."
                                  : "Fehler: lp hat die Testseite nicht angenommen (Status " +
                                        std::to_string(out->status) + ").");
    return sent;
}

JobOutcome follow_print_job(const std::string& queue, const std::string& job,
                            std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (const auto done = cups_tool({"lpstat", "-W", "completed", "-o", queue}))
            for (const std::string& line : output_lines(done->out))
                if (line.starts_with(job + " ")) return {JobOutcome::State::Completed, {}};
        if (const auto status = cups_tool({"lpstat", "-p", queue})) {
            std::vector<PrintQueue> queues = {{queue, {}}};
            apply_lpstat_status(queues, status->out);
            if (queues[0].state == QueueState::Stopped)
                return {JobOutcome::State::Stopped, queues[0].reason};
        }
        if (std::chrono::steady_clock::now() >= deadline) return {};
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

namespace {

// The queue as CUPS lists it right now; none (and a line why) otherwise.
std::optional<PrintQueue> listed_queue(const std::string& queue, const LogSink& log) {
    const QueueListing now = read_print_queues();
    if (now.state == QueueListing::State::Known && valid_queue_name(queue))
        for (const PrintQueue& q : now.queues)
            if (q.name == queue) return q;
    log.line("Fehler: CUPS nennt die Warteschlange " + plain_display_text(queue) +
             " gerade nicht; es wird nichts geändert.");
    return std::nullopt;
}

// One of CUPS's administration tools with one queue that CUPS lists right
// now, through the helper.
TaskResult change_queue(const std::string& program, std::vector<std::string> options,
                        const std::string& queue, const LogSink& log,
                        const std::string& done_line) {
    if (!listed_queue(queue, log)) return false;
    std::vector<std::string> argv = {cups_admin_program(program)};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(queue);
    const CommandResult run = run_pkexec_command(argv, log, {}, c_locale);
    if (run.status == 0) log.line(done_line);
    return privileged_result(run, run.status == 0);
}

}  // namespace

TaskResult make_default_queue(const std::string& queue, const LogSink& log) {
    log.step({Activity::DefaultPrinter, queue, 1, 1});
    return change_queue("lpadmin", {"-d"}, queue, log, "Standarddrucker: " + queue);
}

TaskResult remove_print_queue(const std::string& queue, const LogSink& log) {
    log.step({Activity::RemovePrinter, queue, 1, 1});
    return change_queue("lpadmin", {"-x"}, queue, log, "Warteschlange entfernt: " + queue);
}

TaskResult resume_print_queue(const std::string& queue, const LogSink& log) {
    log.step({Activity::ResumeQueue, queue, 1, 1});
    auto listed = listed_queue(queue, log);
    if (!listed) return false;
    std::vector<PrintQueue> one = {*listed};
    if (const auto accepting = cups_tool({"lpstat", "-a"}))
        apply_lpstat_accepting(one, accepting->out);
    listed = one.front();
    TaskResult result =
        change_queue("cupsenable", {}, queue, log, "Warteschlange läuft wieder: " + queue);
    // A queue that refuses jobs takes them again; with the same password.
    if (result && !listed->accepting)
        result =
            change_queue("cupsaccept", {}, queue, log, "Warteschlange nimmt Aufträge an: " + queue);
    return result;
}

TaskResult cancel_queue_jobs(const std::string& queue, const LogSink& log) {
    log.step({Activity::CancelJobs, queue, 1, 1});
    return change_queue("cancel", {"-a"}, queue, log, "Alle Aufträge abgebrochen: " + queue);
}

namespace {

QueueAdded add_failed(AddResult result, const std::string& queue, const LogSink& log,
                      TaskResult task = false) {
    log.line(result_line(result, queue));
    return {result, queue, task};
}

}  // namespace

QueueAdded add_usb_printer_queue(const UsbPrinter& printer, const LogSink& log) {
    log.step({Activity::AddPrinter, printer.name, 1, 1});
    const QueueListing before = read_print_queues();
    if (before.state == QueueListing::State::NoServer)
        return add_failed(AddResult::NoServer, {}, log);
    if (before.state != QueueListing::State::Known)
        return add_failed(AddResult::QueuesUnknown, {}, log);
    // The address as CUPS's usb backend makes it; listing devices is for the
    // administrator only, so it goes through the helper.
    const CupsDevice* device = nullptr;
    std::vector<CupsDevice> devices;
    for (int attempt = 0; attempt < 2 && device == nullptr; ++attempt) {
        std::string listing;
        PkexecOptions options;
        options.observe = [&listing](std::string_view line) {
            listing.append(line).push_back('\n');
        };
        options.environment = c_locale;
        log.step({Activity::ListUsb, printer.name, 1, 1});
        const CommandResult listed = run_pkexec_command(
            {cups_admin_program("lpinfo"), "--include-schemes", "usb", "-l", "-v"}, log, options);
        if (listed.status == pkexec_dismissed_status)
            return add_failed(AddResult::Cancelled, {}, log, TaskResult::Cancelled);
        if (const TaskResult why = privileged_result(listed, false); why.polkit_missing())
            return add_failed(AddResult::Failed, {}, log, why);
        if (listed.status != 0) return add_failed(classify_lpadmin_output(listed.tail), {}, log);
        devices = devices_from_lpinfo(listing);
        device = match_cups_device(printer, devices);
    }
    if (device == nullptr) return add_failed(AddResult::NoUsbDevice, {}, log);
    // CUPS's own device ID is what its drivers are matched against.
    UsbPrinter asked = printer;
    if (device_id_usable(device->device_id)) asked.device_id = device->device_id;
    const auto drivers = usb_printer_drivers(asked);
    if (!drivers) return add_failed(AddResult::NoServer, {}, log);
    if (drivers->empty()) return add_failed(AddResult::NoDriver, {}, log);
    const PrinterDriver& driver = drivers->front();
    log.line("Treiber: " + driver.description + " (" + driver.name + ")");
    const QueueListing now = read_print_queues();
    if (now.state != QueueListing::State::Known)
        return add_failed(AddResult::QueuesUnknown, {}, log);
    const std::string queue = queue_name_for(printer.name, now.queues);
    log.step({Activity::AddPrinter, printer.name, 1, 1});
    const CommandResult added = run_pkexec_command(
        {lpadmin_program(), "-p", queue, "-E", "-v", device->uri, "-m", driver.name}, log, {},
        c_locale);
    if (added.status == pkexec_dismissed_status)
        return add_failed(AddResult::Cancelled, queue, log, TaskResult::Cancelled);
    if (const TaskResult why = privileged_result(added, false); why.polkit_missing())
        return add_failed(AddResult::Failed, queue, log, why);
    // lpadmin warns that printer drivers are deprecated, and still made the queue.
    const QueueListing after = read_print_queues();
    const bool made = added.status == 0 && after.state == QueueListing::State::Known &&
                      std::any_of(after.queues.begin(), after.queues.end(),
                                  [&](const PrintQueue& q) { return q.name == queue; });
    if (!made) return add_failed(classify_lpadmin_output(added.tail), queue, log);
    give_locale_paper(queue, locale_paper(), log);
    log.line(result_line(AddResult::Added, queue));
    return {AddResult::Added, queue, true};
}

QueueAdded set_up_ipp_usb_printer(const UsbPrinter& printer, const LogSink& log,
                                  std::chrono::milliseconds wait) {
    const TaskResult set_up = run_service_setup(ipp_usb_service_recipe(), log);
    if (!set_up)
        return add_failed(set_up.cancelled() ? AddResult::Cancelled : AddResult::Failed, {}, log,
                          set_up);
    // ipp-usb announces the printer on loopback once runit has started it.
    log.step({Activity::Search, {}, 1, 1});
    log.line("Warte auf die Ankündigung des Druckers durch ipp-usb ...");
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (const auto out = capture_output({"driverless"}, discovery_tool_limit_for_ipp_usb)) {
            for (const FoundPrinter& found : printers_from_driverless(out->out)) {
                if (!is_ipp_usb_uri(found.uri)) continue;
                FoundPrinter named = found;
                named.name = printer.name;
                return add_printer_queue(named, log);
            }
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return add_failed(AddResult::NoIppUsb, {}, log);
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }
}

TaskResult set_queue_setting(const std::string& queue, const std::string& key,
                             const std::string& value, const LogSink& log) {
    log.step({Activity::QueueSetting, queue, 1, 1});
    if (!setting_key_allowed(key) || !setting_word_allowed(value)) {
        log.line("Fehler: Diese Einstellung ändert kelmora nicht: " + plain_display_text(key));
        return false;
    }
    if (!listed_queue(queue, log)) return false;
    const CommandResult run = run_pkexec_command(
        {lpadmin_program(), "-p", queue, "-o", key + "=" + value}, log, {}, c_locale);
    if (run.status == 0) log.line("Standard für " + queue + ": " + key + "=" + value);
    return privileged_result(run, run.status == 0);
}

Paper locale_paper() {
    const auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string_view(value == nullptr ? "" : value);
    };
    return paper_for_locale(variable("LC_ALL"), variable("LC_PAPER"), variable("LANG"));
}

void give_locale_paper(const std::string& queue, Paper paper, const LogSink& log) {
    const auto settings = read_queue_settings(queue);
    for (const QueueSetting& s : settings) {
        if (s.kind != SettingKind::Paper) continue;
        const std::string wanted = paper_value(s, paper);
        // A PPD without the size keeps its own; nothing fails.
        if (wanted.empty() || wanted == s.current) return;
        const CommandResult set = run_pkexec_command(
            {lpadmin_program(), "-p", queue, "-o", s.key + "=" + wanted}, log, {}, c_locale);
        log.line(set.status == 0 ? "Papierformat für " + queue + ": " + wanted
                                 : "Das Papierformat von " + queue + " bleibt " + s.current + ".");
        return;
    }
}

TaskResult cancel_print_job(const QueueJob& job, const std::string& me, const LogSink& log) {
    log.step({Activity::CancelJob, job.id, 1, 1});
    if (!valid_job_id(job.id)) return false;
    if (job.owner == me) {
        // One's own job: CUPS lets its owner cancel it, no password.
        log.line("Starting: cancel " + quoted_arg_list({job.id}));
        const auto out = cups_tool({"cancel", job.id});
        if (out)
            for (const std::string& line : output_lines(out->out + out->err))
                log.line(plain_display_text(line, 200));
        const bool done = out && out->status == 0;
        if (done) log.line("Auftrag abgebrochen: " + job.id);
        return done;
    }
    const CommandResult run =
        run_pkexec_command({cups_admin_program("cancel"), job.id}, log, {}, c_locale);
    if (run.status == 0) log.line("Auftrag abgebrochen: " + job.id);
    return privileged_result(run, run.status == 0);
}

}  // namespace kelmora
