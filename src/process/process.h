// Starting child processes with explicit argument vectors (looked up through
// PATH), waiting for them, and the few thread helpers every task uses.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kelmora {

enum class Stdio { Inherit, Pipe, Null };

// Where a child runs: in our process group; leading a group of its own (so
// that it can be ended with whatever it started); or leading a session of its
// own, without a controlling terminal, so that no terminal can stop it.
enum class SpawnGroup { Inherit, Own, Session };

struct ChildProcess {
    pid_t pid = -1;
    int error = 0;      // errno of a failed start; 0 when the child runs
    int stdin_fd = -1;  // our ends of the pipes that were asked for, else -1
    int stdout_fd = -1;
    int stderr_fd = -1;
    bool started() const { return pid > 0; }
};

// Starts argv[0] (PATH lookup) with the given arguments. The child gets default
// signal dispositions, an empty signal mask and no descriptor besides its three
// standard streams; environment and working directory are inherited.
// `environment` ("NAME=value") replaces or adds those variables for the child.
ChildProcess spawn_process(const std::vector<std::string>& argv, Stdio in, Stdio out, Stdio err,
                           SpawnGroup group = SpawnGroup::Inherit,
                           const std::vector<std::string>& environment = {});

// Waits for `pid`; true only for a normal exit with status 0.
bool wait_for_success(pid_t pid);

// Waits for `pid` and returns its exit status, or -1 when it was ended by a
// signal or could not be waited for.
int wait_for_exit(pid_t pid);

// True when `name` is an executable file in a directory of PATH.
bool program_on_path(const std::string& name);

// True when a status query of `path` (following symbolic links) succeeds; any
// error counts as absent.
bool path_exists(const std::string& path);

// "No such file or directory (os error 2)".
std::string os_error_text(int error);

// The text of a strerror_r call, whichever variant the C library has: GNU's
// returns the text (not always in `buffer`), the XSI one (musl, and glibc
// without _GNU_SOURCE) returns 0 or an error number and fills `buffer`.
inline const char* strerror_r_text(const char* gnu_result, const char* /*buffer*/) {
    return gnu_result;
}
inline const char* strerror_r_text(int xsi_result, const char* buffer) {
    return xsi_result == 0 ? buffer : "Unknown error";
}

// Reads both pipes to their end at once (a child that fills one pipe while we
// read the other cannot deadlock us) and closes them. With a deadline, reading
// stops then, and `timed_out` says so.
struct CapturedOutput {
    std::string out;
    std::string err;
    bool timed_out = false;
    int status = -1;  // capture_output: the exit status; -1 when ended by a signal or by us
};
CapturedOutput read_both(int out_fd, int err_fd,
                         std::optional<std::chrono::steady_clock::time_point> deadline = {});

// Runs `argv` with standard input from the null device, captures both output
// streams and waits for it; nullopt when it cannot be started. A child that has
// not finished (or whose output is still held open by a process it started)
// after `limit` is ended with its whole process group, and what it printed
// until then is returned.
std::optional<CapturedOutput> capture_output(const std::vector<std::string>& argv,
                                             std::chrono::milliseconds limit);
// The same with variables set for the child ("NAME=value"), and told the
// child's process group as soon as it runs, so that another thread can end
// it (kill(-group, ...)); the capture then returns what came until then.
struct CaptureOptions {
    std::vector<std::string> environment;
    std::function<void(pid_t group)> started;
};
std::optional<CapturedOutput> capture_output(const std::vector<std::string>& argv,
                                             std::chrono::milliseconds limit,
                                             const CaptureOptions& options);

// Writes all of `data`, retrying interrupted writes and continuing partial ones;
// stops silently at the first other error (a broken pipe included).
void write_all(int fd, const std::string& data);

[[noreturn]] void fatal_thread_error(const char* what) noexcept;

// Starts a detached thread that nobody joins. Failing to create a thread is fatal.
template <class F>
void spawn_detached(F&& body) {
    try {
        std::thread(std::forward<F>(body)).detach();
    } catch (const std::exception& e) {
        fatal_thread_error(e.what());
    }
}

}  // namespace kelmora
