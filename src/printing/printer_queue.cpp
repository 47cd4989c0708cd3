#include "printing/printer_queue.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "printing/discovery_output.h"
#include "process/command.h"
#include "process/process.h"

namespace kelmora {
namespace {

constexpr std::chrono::milliseconds cups_tool_limit{10'000};

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

// The queue has its driver once lpoptions lists its options.
bool queue_has_driver(const std::string& queue) {
    const auto out = cups_tool({"lpoptions", "-p", queue, "-l"});
    if (!out) return false;
    for (const std::string& line : output_lines(out->out))
        if (line.rfind("lpoptions:", 0) != 0 && line.find(':') != std::string::npos) return true;
    return false;
}

// pkexec looks programs up in the caller's PATH, and a user's PATH on some
// systems (Debian) leaves out /usr/sbin, where lpadmin lives there; on Void it
// is in /usr/bin.
std::string lpadmin_program() {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "";
    while (!dirs.empty()) {
        const std::string_view dir = dirs.substr(0, dirs.find(':'));
        if (!dir.empty() && ::access((std::string(dir) + "/lpadmin").c_str(), X_OK) == 0)
            return "lpadmin";
        dirs.remove_prefix(std::min(dirs.size(), dir.size() + 1));
    }
    return ::access("/usr/sbin/lpadmin", X_OK) == 0 ? "/usr/sbin/lpadmin" : "lpadmin";
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
        case AddResult::Failed:
            break;
    }
    return "Fehler: Der Drucker wurde nicht hinzugefügt.";
}

// lpadmin's messages are matched: C locale (pkexec passes LC_ALL on).
const std::vector<std::string> c_locale = {"LC_ALL=C"};

}  // namespace

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
    return std::move(listing.queues);
}

AddResult classify_lpadmin_output(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (contains_text(line, "Unable to connect to server") ||
            contains_text(line, "Scheduler is not running"))
            return AddResult::NoServer;
        if (contains_text(line, "Unable to create PPD")) return AddResult::NoDescription;
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

// ipptool's request: the printer's description, from the printer itself.
constexpr std::string_view probe_test = R"({
	NAME "kelmora: does the printer speak IPP Everywhere"
	OPERATION Get-Printer-Attributes
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR naturalLanguage attributes-natural-language en
	ATTR uri printer-uri $uri
	ATTR keyword requested-attributes printer-make-and-model,printer-info,document-format-supported
	STATUS successful-ok
	DISPLAY printer-make-and-model
	DISPLAY printer-info
	DISPLAY document-format-supported
}
)";

PrinterProbe probe_printer(const std::string& uri) {
    char path[] = "/tmp/kelmora-probe-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) return {};
    write_all(fd, std::string(probe_test));
    ::close(fd);
    // ipptool gives up after its own time-out; ours is the backstop.
    const auto out =
        cups_tool({"ipptool", "-T", std::to_string(printer_probe_limit.count()), "-t", uri, path},
                  printer_probe_limit + std::chrono::seconds(5));
    ::unlink(path);
    if (!out || out->timed_out) return {};
    return judge_printer_probe(out->out, out->status);
}

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

// lpadmin with one queue that CUPS lists right now, through the helper.
TaskResult change_queue(const std::string& option, const std::string& queue, const LogSink& log,
                        const std::string& done_line) {
    const QueueListing now = read_print_queues();
    const bool listed = now.state == QueueListing::State::Known &&
                        std::any_of(now.queues.begin(), now.queues.end(),
                                    [&](const PrintQueue& q) { return q.name == queue; });
    if (!listed || !valid_queue_name(queue)) {
        log.line("Fehler: CUPS nennt die Warteschlange " + plain_display_text(queue) +
                 " gerade nicht; es wird nichts geändert.");
        return false;
    }
    const CommandResult run =
        run_pkexec_command({lpadmin_program(), option, queue}, log, {}, c_locale);
    if (run.status == 0) log.line(done_line);
    return privileged_result(run, run.status == 0);
}

}  // namespace

TaskResult make_default_queue(const std::string& queue, const LogSink& log) {
    log.step({Activity::DefaultPrinter, queue, 1, 1});
    return change_queue("-d", queue, log, "Standarddrucker: " + queue);
}

TaskResult remove_print_queue(const std::string& queue, const LogSink& log) {
    log.step({Activity::RemovePrinter, queue, 1, 1});
    return change_queue("-x", queue, log, "Warteschlange entfernt: " + queue);
}

}  // namespace kelmora
