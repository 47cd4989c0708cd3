#include "services/polkit_policy.h"

#include <unistd.h>

#include "process/command.h"
#include "process/process.h"

namespace kelmora {

TaskResult register_polkit_policy(const LogSink& log) {
    log.step({Activity::Polkit, {}, 1, 1});
    log.line("Schreibe Polkit Policy-Datei...");
    int status = -1;
    // The installed helper writes its own copy of the document; without it a
    // root shell copies ours from the pipe.
    const bool helper = !installed_helper().empty();
    ChildProcess child = spawn_process(
        helper ? std::vector<std::string>{"pkexec", installed_helper(), std::string(policy_request)}
               : std::vector<std::string>{"pkexec", "sh", "-c", std::string(polkit_shell_command)},
        helper ? Stdio::Null : Stdio::Pipe, Stdio::Inherit, Stdio::Inherit);
    if (child.started() && helper) {
        status = wait_for_exit(child.pid);
    } else if (child.started()) {
        // A shell that went away early makes this a plain EPIPE (SIGPIPE is
        // ignored); the exit status alone decides.
        write_all(child.stdin_fd, std::string(polkit_policy_document));
        ::close(child.stdin_fd);
        status = wait_for_exit(child.pid);
    }
    const bool ok = status == 0;
    log.line(ok ? "Polkit-Policy erfolgreich registriert!"
                : "Fehler beim Schreiben der Polkit-Policy.");
    return status == pkexec_dismissed_status ? TaskResult::Cancelled : TaskResult(ok);
}

}  // namespace kelmora
