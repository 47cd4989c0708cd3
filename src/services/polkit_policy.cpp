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

bool register_polkit_policy(const LogSink& log) {
    log.line("Schreibe Polkit Policy-Datei...");
    bool ok = false;
    ChildProcess child = spawn_process({"pkexec", "sh", "-c", std::string(polkit_shell_command)},
                                       Stdio::Pipe, Stdio::Inherit, Stdio::Inherit);
    if (child.started()) {
        // A shell that went away early makes this a plain EPIPE (SIGPIPE is
        // ignored); the exit status alone decides.
        write_all(child.stdin_fd, std::string(polkit_policy_document));
        ::close(child.stdin_fd);
        ok = wait_for_success(child.pid);
    }
    log.line(ok ? "Polkit-Policy erfolgreich registriert!"
                : "Fehler beim Schreiben der Polkit-Policy.");
    return ok;
}

}  // namespace kelmora
