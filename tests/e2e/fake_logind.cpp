// A stand-in for logind's client library, preloaded into polkitd by
// e2e-polkit: every process of the test user (KELMORA_E2E_UID) is in the
// active session "c1" on seat0, as in an elogind session. The sandbox has no
// logind; nothing else of the library is needed by polkitd.
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

uid_t session_uid() {
    const char* value = std::getenv("KELMORA_E2E_UID");
    return value != nullptr ? static_cast<uid_t>(std::strtoul(value, nullptr, 10)) : 4242;
}

constexpr const char* session = "c1";

// The real user of `pid` (0: the caller), from /proc; -1 when it is gone.
long real_uid(pid_t pid) {
    const std::string path = pid == 0 ? "/proc/self/status" : "/proc/" + std::to_string(pid) +
                                                                  "/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return -1;
    char line[256];
    long uid = -1;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, "Uid:", 4) == 0) uid = std::strtol(line + 4, nullptr, 10);
    std::fclose(f);
    return uid;
}

bool ours(const char* s) { return s != nullptr && std::strcmp(s, session) == 0; }

int answer(char** out, const char* text) {
    if (out != nullptr) *out = strdup(text);
    return 0;
}

struct Monitor {
    int fds[2];
};

}  // namespace

extern "C" {

struct sd_login_monitor;

int sd_pid_get_session(pid_t pid, char** out) {
    return real_uid(pid) == static_cast<long>(session_uid()) ? answer(out, session) : -ENODATA;
}

int sd_pid_get_owner_uid(pid_t pid, uid_t* uid) {
    if (real_uid(pid) != static_cast<long>(session_uid())) return -ENODATA;
    *uid = session_uid();
    return 0;
}

int sd_session_is_active(const char* s) { return ours(s) ? 1 : -ENXIO; }

int sd_session_get_uid(const char* s, uid_t* uid) {
    if (!ours(s)) return -ENXIO;
    *uid = session_uid();
    return 0;
}

int sd_session_get_seat(const char* s, char** seat) {
    return ours(s) ? answer(seat, "seat0") : -ENXIO;
}

int sd_uid_get_state(uid_t uid, char** state) {
    return answer(state, uid == session_uid() ? "active" : "offline");
}

int sd_uid_get_display(uid_t uid, char** out) {
    return uid == session_uid() ? answer(out, session) : -ENODATA;
}

// Sessions never change here: a pipe nobody writes to.
int sd_login_monitor_new(const char*, sd_login_monitor** m) {
    auto* monitor = new Monitor;
    if (pipe2(monitor->fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        delete monitor;
        return -errno;
    }
    *m = reinterpret_cast<sd_login_monitor*>(monitor);
    return 0;
}

int sd_login_monitor_get_fd(sd_login_monitor* m) {
    return reinterpret_cast<Monitor*>(m)->fds[0];
}

int sd_login_monitor_flush(sd_login_monitor*) { return 0; }

sd_login_monitor* sd_login_monitor_unref(sd_login_monitor* m) {
    if (m != nullptr) {
        auto* monitor = reinterpret_cast<Monitor*>(m);
        close(monitor->fds[0]);
        close(monitor->fds[1]);
        delete monitor;
    }
    return nullptr;
}
}
