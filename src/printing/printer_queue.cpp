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
std::optional<CapturedOutput> cups_tool(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"env", "LC_ALL=C"});
    return capture_output(argv, cups_tool_limit);
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
    return judge_lpstat(cups_tool({"lpstat", "-v"}));
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

}  // namespace kelmora
