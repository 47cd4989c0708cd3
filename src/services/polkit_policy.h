// Registering the program's Polkit action: a fixed policy document written by a
// root shell ("pkexec sh -c 'mkdir -p ... && tee ...'") from our pipe.
#pragma once

#include <string_view>

#include "process/log_sink.h"

namespace kelmora {

inline constexpr std::string_view polkit_policy_document =
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

// What the installed helper is asked for to write the document.
inline constexpr std::string_view policy_request = "polkit-policy";
inline constexpr std::string_view polkit_shell_command =
    "mkdir -p /usr/share/polkit-1/actions && tee "
    "/usr/share/polkit-1/actions/org.tamsel.pellin.policy";

// Writes the document through pkexec and logs how it went. Blocks.
TaskResult register_polkit_policy(const LogSink& log);

}  // namespace kelmora
