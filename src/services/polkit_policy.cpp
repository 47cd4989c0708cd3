#include "services/polkit_policy.h"

#include "process/command.h"

namespace kelmora {

TaskResult register_polkit_policy(const LogSink& log) {
    log.step({Activity::Polkit, {}, 1, 1});
    log.line("Schreibe Polkit Policy-Datei...");
    // The installed helper writes its own copy of the document; without it a
    // root shell copies ours from the pipe. tee's copy on its standard output
    // is not shown.
    const bool helper = !installed_helper().empty();
    PkexecOptions options;
    options.announce = false;
    if (!helper) options.input = std::string(polkit_policy_document);
    const CommandResult written = run_pkexec_command(
        helper ? std::vector<std::string>{std::string(policy_request)}
               : std::vector<std::string>{"sh", "-c", std::string(polkit_shell_command)},
        log, options);
    const bool ok = written.status == 0;
    log.line(ok ? "Polkit-Policy erfolgreich registriert!"
                : "Fehler beim Schreiben der Polkit-Policy.");
    return privileged_result(written, ok);
}

}  // namespace kelmora
