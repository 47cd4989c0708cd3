// kelmora's own polkit authentication agent: a small password dialog over the
// window, registered for this process only, and only once pkexec has said that
// no other agent answers (a window manager that starts none, a session
// without elogind, where a desktop's agent cannot register). Where the
// desktop's agent answers, it is never registered: a process's agent would
// win over the session's.
#pragma once

#include <string>
#include <vector>

namespace kelmora {

// Lets the core ask for the agent (once per process; main thread).
void enable_own_agent();

// The identities to offer, in the dialog's order: the user who runs kelmora
// first when they are one of them, then the others as polkit listed them.
std::vector<std::string> ordered_identities(std::vector<std::string> names,
                                            const std::string& user);

}  // namespace kelmora
