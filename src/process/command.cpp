#include "process/command.h"

#include <unistd.h>

#include <memory>
#include <mutex>

#include "process/line_reader.h"
#include "process/process.h"

namespace kelmora {

const std::string& installed_helper() {
    static const std::string helper = [] {
        const bool installed =
            ::access(KELMORA_HELPER, X_OK) == 0 && ::access(KELMORA_HELPER_POLICY, R_OK) == 0;
        return installed ? std::string(KELMORA_HELPER) : std::string();
    }();
    return helper;
}

std::vector<std::string> privileged_command(const std::vector<std::string>& args) {
    if (installed_helper().empty()) return args;
    std::vector<std::string> command = {installed_helper()};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

std::string quoted_arg_list(const std::vector<std::string>& args) {
    std::string out = "[";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) out += ", ";
        out += '"';
        for (char c : args[i]) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        out += '"';
    }
    out += ']';
    return out;
}

PkexecProblem pkexec_problem(int start_error, int status, const std::vector<std::string>& errors) {
    if (start_error != 0) return PkexecProblem::NoPkexec;
    if (status != 127) return PkexecProblem::None;
    for (const std::string& line : errors) {
        // pkexec's own words, before it runs anything (its messages are not
        // translated).
        if (line.starts_with("Error getting authority:")) return PkexecProblem::NoAuthority;
        if (line.starts_with("Error creating textual authentication agent:") ||
            line == "Error executing command as another user: No authentication agent found.")
            return PkexecProblem::NoAgent;
    }
    return PkexecProblem::None;
}

TaskResult privileged_result(const CommandResult& result, bool ok) {
    switch (result.problem) {
        case PkexecProblem::NoPkexec:
            return TaskResult::NoPkexec;
        case PkexecProblem::NoAuthority:
            return TaskResult::NoAuthority;
        case PkexecProblem::NoAgent:
            return false;
        case PkexecProblem::None:
            break;
    }
    if (result.status == pkexec_dismissed_status) return TaskResult::Cancelled;
    return ok;
}

namespace {

std::mutex own_agent_mutex;
std::function<bool()> own_agent;
std::string last_command;  // guarded by own_agent_mutex

bool start_own_agent() {
    std::function<bool()> start;
    {
        std::lock_guard lock(own_agent_mutex);
        start = own_agent;
    }
    return start && start();
}

// The words of `argv` without the helper in front of them.
std::vector<std::string> args_after_helper(const std::vector<std::string>& argv) {
    if (!argv.empty() && !installed_helper().empty() && argv.front() == installed_helper())
        return {argv.begin() + 1, argv.end()};
    return argv;
}

// Keeps the last lines of a command's output, from both reader threads.
class Tail {
  public:
    void add(std::vector<std::string>& lines, std::string_view line) {
        std::lock_guard lock(mutex_);
        if (lines.size() == command_tail_lines) lines.erase(lines.begin());
        lines.emplace_back(line);
    }
    std::vector<std::string> get(const std::vector<std::string>& lines) {
        std::lock_guard lock(mutex_);
        return lines;
    }
    std::vector<std::string> both;
    std::vector<std::string> errors;

  private:
    std::mutex mutex_;
};

CommandResult run_once(const std::vector<std::string>& argv, const LogSink& log,
                       const PkexecOptions& options) {
    if (options.announce) log.line("Starting: pkexec " + quoted_arg_list(argv));
    {
        std::string words;
        for (const std::string& word : args_after_helper(argv))
            words += (words.empty() ? "" : " ") + word;
        std::lock_guard lock(own_agent_mutex);
        last_command = std::move(words);
    }
    std::vector<std::string> command = argv;
    // pkexec's text agent would ask on our terminal, where nobody looks (or
    // the terminal stops it): without an agent it says so and runs nothing.
    command.insert(command.begin(), {"pkexec", "--disable-internal-agent"});
    const ChildProcess child =
        spawn_process(command, options.input ? Stdio::Pipe : Stdio::Null, Stdio::Pipe, Stdio::Pipe,
                      SpawnGroup::Session, options.environment);
    CommandResult result;
    if (!child.started()) {
        if (options.announce)
            log.line("Fehler beim Starten von pkexec: " + os_error_text(child.error));
        result.problem = pkexec_problem(child.error, -1, {});
        return result;
    }

    // The readers are never joined: a child may leave a process behind that
    // keeps the pipes open, and the task must still end soon after the child
    // does. Short of that, the task waits for the child's last lines, so that
    // they come before whatever the task reports next.
    const auto tail = std::make_shared<Tail>();
    const LogSink shown = options.announce ? log : LogSink();
    const auto keep = [tail, observe = options.observe](std::string_view line) {
        if (observe) observe(line);
        tail->add(tail->both, line);
    };
    const ReaderGroup readers(2);
    spawn_detached([fd = child.stdout_fd, shown, readers, keep] {
        forward_lines(fd, shown, "", keep);
        readers.reader_done();
    });
    spawn_detached([fd = child.stderr_fd, shown, readers, keep, tail] {
        forward_lines(fd, shown, "[Error] ", [&](std::string_view line) {
            keep(line);
            tail->add(tail->errors, line);
        });
        readers.reader_done();
    });
    if (options.input) {
        // A program that went away early makes this a plain EPIPE (SIGPIPE is
        // ignored); the exit status alone decides.
        write_all(child.stdin_fd, *options.input);
        ::close(child.stdin_fd);
    }
    result.status = wait_for_exit(child.pid);
    readers.wait_for(output_drain_limit);
    result.tail = tail->get(tail->both);
    result.problem = pkexec_problem(0, result.status, tail->get(tail->errors));
    return result;
}

}  // namespace

std::string last_privileged_command() {
    std::lock_guard lock(own_agent_mutex);
    return last_command;
}

void set_own_agent(std::function<bool()> start) {
    std::lock_guard lock(own_agent_mutex);
    own_agent = std::move(start);
}

CommandResult run_pkexec_command(const std::vector<std::string>& args, const LogSink& log,
                                 PkexecOptions options) {
    const std::vector<std::string> argv = privileged_command(args);
    CommandResult result = run_once(argv, log, options);
    if (result.problem != PkexecProblem::NoAgent || !start_own_agent()) return result;
    // Nothing ran: the same command once more, now that our agent answers.
    log.line("Kein Polkit-Agent hat geantwortet; kelmora fragt selbst nach dem Passwort.");
    return run_once(argv, log, options);
}

}  // namespace kelmora
