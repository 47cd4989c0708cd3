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

CommandResult run_pkexec_command(const std::vector<std::string>& args, const LogSink& log,
                                 std::function<void(std::string_view)> observe,
                                 const std::vector<std::string>& environment) {
    std::vector<std::string> argv = privileged_command(args);
    log.line("Starting: pkexec " + quoted_arg_list(argv));
    argv.insert(argv.begin(), "pkexec");
    const ChildProcess child =
        spawn_process(argv, Stdio::Inherit, Stdio::Pipe, Stdio::Pipe, false, environment);
    if (!child.started()) {
        log.line("Fehler beim Starten von pkexec: " + os_error_text(child.error));
        return {};
    }

    // The readers are never joined: a child may leave a process behind that
    // keeps the pipes open, and the task must still end soon after the child
    // does. Short of that, the task waits for the child's last lines, so that
    // they come before whatever the task reports next.
    struct Seen {
        std::mutex mutex;
        std::vector<std::string> tail;
    };
    const auto seen = std::make_shared<Seen>();
    const auto keep = [seen, observe = std::move(observe)](std::string_view line) {
        if (observe) observe(line);
        std::lock_guard lock(seen->mutex);
        if (seen->tail.size() == command_tail_lines) seen->tail.erase(seen->tail.begin());
        seen->tail.emplace_back(line);
    };
    const ReaderGroup readers(2);
    spawn_detached([fd = child.stdout_fd, log, readers, keep] {
        forward_lines(fd, log, "", keep);
        readers.reader_done();
    });
    spawn_detached([fd = child.stderr_fd, log, readers, keep] {
        forward_lines(fd, log, "[Error] ", keep);
        readers.reader_done();
    });
    CommandResult result;
    result.status = wait_for_exit(child.pid);
    readers.wait_for(output_drain_limit);
    std::lock_guard lock(seen->mutex);
    result.tail = seen->tail;
    return result;
}

}  // namespace kelmora
