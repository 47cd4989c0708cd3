#include "process/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

extern char** environ;

namespace kelmora {
namespace {

struct Pipe {
    int read = -1;
    int write = -1;
};

bool make_pipe(Pipe& p) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    p.read = fds[0];
    p.write = fds[1];
    return true;
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

bool program_on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "";
    while (!dirs.empty()) {
        const std::string_view dir = dirs.substr(0, dirs.find(':'));
        if (!dir.empty() && ::access((std::string(dir) + "/" + name).c_str(), X_OK) == 0)
            return true;
        dirs.remove_prefix(std::min(dirs.size(), dir.size() + 1));
    }
    return false;
}

bool path_exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string os_error_text(int error) {
    char buffer[256];
    buffer[0] = '\0';
    return std::string(strerror_r_text(::strerror_r(error, buffer, sizeof buffer), buffer)) +
           " (os error " + std::to_string(error) + ")";
}

ChildProcess spawn_process(const std::vector<std::string>& argv, Stdio in, Stdio out, Stdio err,
                           SpawnGroup group, const std::vector<std::string>& environment) {
    ChildProcess child;
    Pipe pipes[3];
    const Stdio modes[3] = {in, out, err};
    for (int i = 0; i < 3; ++i) {
        if (modes[i] == Stdio::Pipe && !make_pipe(pipes[i])) {
            child.error = errno;
            for (auto& p : pipes) close_fd(p.read), close_fd(p.write);
            return child;
        }
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int i = 0; i < 3; ++i) {
        if (modes[i] == Stdio::Pipe)
            posix_spawn_file_actions_adddup2(&actions, i == 0 ? pipes[i].read : pipes[i].write, i);
        else if (modes[i] == Stdio::Null)
            posix_spawn_file_actions_addopen(&actions, i, "/dev/null", i == 0 ? O_RDONLY : O_WRONLY,
                                             0);
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Our own descriptors are close-on-exec; this also covers any a library
    // opened without that flag.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    // We ignore SIGPIPE; children must not inherit that, nor any blocked signal.
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (group == SpawnGroup::Own) {
        posix_spawnattr_setpgroup(&attr, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
#ifdef POSIX_SPAWN_SETSID
    if (group == SpawnGroup::Session) flags |= POSIX_SPAWN_SETSID;
#endif
    // Without it (an older C library) the child stays in our group: a group of
    // its own would be a background one, which the terminal stops.
    posix_spawnattr_setflags(&attr, flags);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    std::vector<char*> env;
    if (!environment.empty()) {
        const auto replaced = [&](const char* entry) {
            const std::string_view e(entry);
            return std::any_of(environment.begin(), environment.end(), [&](const std::string& v) {
                const std::size_t eq = v.find('=');
                return e.size() > eq && e.compare(0, eq + 1, v, 0, eq + 1) == 0;
            });
        };
        for (char** e = environ; *e != nullptr; ++e)
            if (!replaced(*e)) env.push_back(*e);
        for (const std::string& v : environment) env.push_back(const_cast<char*>(v.c_str()));
        env.push_back(nullptr);
    }

    pid_t pid = -1;
    // posix_spawnp returns the error; errno is not meaningful here.
    const int rc = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(),
                                  environment.empty() ? environ : env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);

    close_fd(pipes[0].read);
    close_fd(pipes[1].write);
    close_fd(pipes[2].write);
    if (rc != 0) {
        child.error = rc;
        close_fd(pipes[0].write);
        close_fd(pipes[1].read);
        close_fd(pipes[2].read);
        return child;
    }
    child.pid = pid;
    child.stdin_fd = pipes[0].write;
    child.stdout_fd = pipes[1].read;
    child.stderr_fd = pipes[2].read;
    return child;
}

int wait_for_exit(pid_t pid) {
    int status = 0;
    for (;;) {
        const pid_t rc = ::waitpid(pid, &status, 0);
        if (rc == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (rc < 0 && errno == EINTR) continue;
        return -1;
    }
}

bool wait_for_success(pid_t pid) {
    return wait_for_exit(pid) == 0;
}

CapturedOutput read_both(int out_fd, int err_fd,
                         std::optional<std::chrono::steady_clock::time_point> deadline) {
    CapturedOutput result;
    struct pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = (out_fd >= 0) + (err_fd >= 0);
    char buffer[65536];
    while (open_count > 0) {
        int timeout_ms = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                *deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                result.timed_out = true;
                break;
            }
            timeout_ms = static_cast<int>(std::min<long long>(left.count(), 60'000));
        }
        if (::poll(fds, 2, timeout_ms) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;  // poll ignores negative descriptors
                --open_count;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    return result;
}

std::optional<CapturedOutput> capture_output(const std::vector<std::string>& argv,
                                             std::chrono::milliseconds limit) {
    return capture_output(argv, limit, CaptureOptions{});
}

std::optional<CapturedOutput> capture_output(const std::vector<std::string>& argv,
                                             std::chrono::milliseconds limit,
                                             const CaptureOptions& options) {
    ChildProcess child = spawn_process(argv, Stdio::Null, Stdio::Pipe, Stdio::Pipe, SpawnGroup::Own,
                                       options.environment);
    if (!child.started()) return std::nullopt;
    if (options.started) options.started(child.pid);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    CapturedOutput output = read_both(child.stdout_fd, child.stderr_fd, deadline);
    // Its output is complete; its exit status comes once it has exited, which
    // a child that closed its streams and goes on need not do in time.
    if (!output.timed_out) {
        int status = 0;
        for (;;) {
            const pid_t rc = ::waitpid(child.pid, &status, WNOHANG);
            if (rc == child.pid) {
                output.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                child.pid = -child.pid;  // reaped
                break;
            }
            if ((rc < 0 && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) break;
            if (rc == 0) ::usleep(2000);
        }
    }
    // The group goes in any case: a process the child left running must not
    // outlive the task. Ended at once, since the time is up or the child is done.
    const pid_t group = child.pid < 0 ? -child.pid : child.pid;
    ::kill(-group, SIGKILL);
    if (child.pid > 0) wait_for_exit(child.pid);
    return output;
}

void write_all(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void fatal_thread_error(const char* what) noexcept {
    std::fprintf(stderr, "kelmora: cannot create a thread: %s\n", what);
    std::abort();
}

}  // namespace kelmora
