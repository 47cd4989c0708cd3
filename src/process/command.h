// One privileged command: "pkexec" with an argument vector, both output
// streams forwarded line by line into a log, and what the caller needs of its
// result. Blocks; never called on the main thread.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "process/log_sink.h"

namespace kelmora {

// How long a command's runner waits, after the command exited, for the rest of
// its output: a process it left behind may keep the pipes open much longer.
inline constexpr std::chrono::milliseconds output_drain_limit{2000};

// How many of a command's last output lines its result keeps.
inline constexpr std::size_t command_tail_lines = 40;

// kelmora's privileged helper, when this installation has it and its polkit
// action (the helper at its configured path, the policy beside the others);
// empty otherwise, as in the build tree.
const std::string& installed_helper();

// What runs after "pkexec" for `args` (a program and its arguments): the
// helper with the same words when it is installed, else `args` itself. Every
// call through the helper is authorized for the helper's one action, which
// polkit keeps for a few minutes: one password for one click.
std::vector<std::string> privileged_command(const std::vector<std::string>& args);

// The list form of an argument vector: ["a", "b \"c\""].
std::string quoted_arg_list(const std::vector<std::string>& args);

// Why pkexec ran nothing, where that is something other than a refusal.
enum class PkexecProblem {
    None,
    NoAgent,      // no authentication agent answered (nothing ran)
    NoPkexec,     // pkexec is not installed (not on PATH, or not executable)
    NoAuthority,  // pkexec cannot reach polkitd: no system bus, or polkitd missing
};

// What pkexec's failure means: `start_error` is the errno of a failed start
// (0 when it ran), `status` its exit status, `errors` its standard error lines.
// pkexec says all of these with exit status 127 before running anything.
PkexecProblem pkexec_problem(int start_error, int status, const std::vector<std::string>& errors);

struct CommandResult {
    int status = -1;                // exit status; -1: not started, or killed
    std::vector<std::string> tail;  // the last output lines, both streams, unprefixed
    PkexecProblem problem = PkexecProblem::None;
};

// The task result of a privileged step that ran as `result` and, in the
// caller's terms, did or did not succeed (`ok`): a dismissed authentication is
// a cancel, polkit missing or unreachable says so, anything else is `ok`.
TaskResult privileged_result(const CommandResult& result, bool ok);

// Where no other authentication agent answers (a window manager without one,
// a session without elogind), the window offers its own for this process.
// `start` runs on the worker that needs it, blocks until the agent is
// registered, and returns false when it cannot be. Set once by the window.
void set_own_agent(std::function<bool()> start);

// The privileged command started last ("xbps-install -Su -y sane"), for the
// window's own password dialog: polkitd passes pkexec's details on to an
// agent only in part, and the dialog says what will run.
std::string last_privileged_command();

struct PkexecOptions {
    // The "Starting: pkexec [...]" line and every output line into the log;
    // off for the steps whose output is nobody's business (a link, tee's copy).
    bool announce = true;
    // Written whole to pkexec's standard input, which is then closed; without
    // it, standard input is the null device.
    std::optional<std::string> input;
    // Sees every output line (unprefixed) from the reader threads.
    std::function<void(std::string_view)> observe;
    // "NAME=value" set for pkexec, which passes the locale variables on.
    std::vector<std::string> environment;
};

// Runs "pkexec" with `args` and blocks until it exits and its output has been
// read to the end (at most output_drain_limit longer): logs the
// "Starting: pkexec [...]" line, then every output line (standard error with
// "[Error] " in front). pkexec never falls back to a terminal, and runs in a
// session of its own, so no terminal can stop it. When no agent answered and
// the window can offer its own, the command runs once more with it.
CommandResult run_pkexec_command(const std::vector<std::string>& args, const LogSink& log,
                                 PkexecOptions options = {});
inline CommandResult run_pkexec_command(const std::vector<std::string>& args, const LogSink& log,
                                        std::function<void(std::string_view)> observe,
                                        const std::vector<std::string>& environment = {}) {
    return run_pkexec_command(args, log, {true, std::nullopt, std::move(observe), environment});
}

}  // namespace kelmora
