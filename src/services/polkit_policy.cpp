#include "services/polkit_policy.h"

#include <unistd.h>

#include "process/process.h"

namespace kelmora {

const std::string_view polkit_policy_document =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE policyconfig PUBLIC \"-//freedesktop//DTD PolicyKit Policy Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/PolicyKit/1/policyconfig.dtd\">\n"
    "<policyconfig>\n"
    "  <vendor>Kelmora</vendor>\n"
    "  <action id=\"org.tamsel.pellin.install\">\n"
    "    <description>Run driver installation commands</description>\n"
    "    <message>Authentication is required to install drivers and manage services</message>\n"
    "    <defaults>\n"
    "      <allow_any>auth_admin</allow_any>\n"
    "      <allow_inactive>auth_admin</allow_inactive>\n"
    "      <allow_active>auth_admin_keep</allow_active>\n"
    "    </defaults>\n"
    "  </action>\n"
    "</policyconfig>";

TaskResult register_polkit_policy(const LogSink& log) {
    log.step({Activity::Polkit, {}, 1, 1});
    log.line("Schreibe Polkit Policy-Datei...");
    int status = -1;
    ChildProcess child = spawn_process({"pkexec", "sh", "-c", std::string(polkit_shell_command)},
                                       Stdio::Pipe, Stdio::Inherit, Stdio::Inherit);
    if (child.started()) {
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
