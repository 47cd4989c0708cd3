// Registering the program's Polkit action: a fixed policy document written by a
// root shell ("pkexec sh -c 'mkdir -p ... && tee ...'") from our pipe.
#pragma once

#include <string_view>

#include "tasks/ui_message.h"
#include "ui/app_widgets.h"

namespace kelmora {

extern const std::string_view polkit_policy_document;
inline constexpr std::string_view polkit_shell_command =
    "mkdir -p /usr/share/polkit-1/actions && tee "
    "/usr/share/polkit-1/actions/org.tamsel.pellin.policy";

// Worker body; ends with Done.
void register_polkit_policy(const UiSender& sender);

// The "clicked" handler of btn_polkit.
void on_register_polkit(const AppWidgetsRef& widgets, const UiSender& sender);

}  // namespace kelmora
