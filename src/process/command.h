// One privileged command: "pkexec" with an argument vector, both output
// streams forwarded line by line into a log, and what the caller needs of its
// result. Blocks; never called on the main thread.
#pragma once

#include <chrono>
#include <functional>
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

struct CommandResult {
    int status = -1;                // exit status; -1: not started, or killed
    std::vector<std::string> tail;  // the last output lines, both streams, unprefixed
};

// Runs "pkexec" with `args` and blocks until it exits and its output has been
// read to the end (at most output_drain_limit longer): logs the
// "Starting: pkexec [...]" line, then every output line (standard error with
// "[Error] " in front). `observe`, when given, sees every output line
// (unprefixed) from the reader threads. `environment` ("NAME=value") is set
// for pkexec, which passes the locale variables on to the program.
CommandResult run_pkexec_command(const std::vector<std::string>& args, const LogSink& log,
                                 std::function<void(std::string_view)> observe = {},
                                 const std::vector<std::string>& environment = {});

}  // namespace kelmora
