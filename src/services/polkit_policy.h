// Registering the program's Polkit action: a fixed policy document written by a
// root shell ("pkexec sh -c 'mkdir -p ... && tee ...'") from our pipe.
#pragma once

#include <string_view>

#include "process/log_sink.h"

namespace kelmora {

extern const std::string_view polkit_policy_document;
inline constexpr std::string_view polkit_shell_command =
    "mkdir -p /usr/share/polkit-1/actions && tee "
    "/usr/share/polkit-1/actions/org.tamsel.pellin.policy";

// Writes the document through pkexec and logs how it went. Blocks.
TaskResult register_polkit_policy(const LogSink& log);

}  // namespace kelmora
