// kelmora-helper: the privileged half of kelmora, run through pkexec with an
// action of its own, so that one authorization (kept for a few minutes)
// covers every step of a click. It does one of a fixed set of requests (see
// request.h), each one program by its absolute path, without a shell and
// without the caller's environment; what that program prints and its exit
// status pass through unchanged. Anything else is refused before anything runs.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "helper/request.h"
#include "printing/cups_output.h"
#include "services/polkit_policy.h"

namespace {

constexpr const char* policy_file = "/usr/share/polkit-1/actions/org.tamsel.pellin.policy";

int refuse(int status, const std::string& message) {
    std::fprintf(stderr, "kelmora-helper: %s\n", message.c_str());
    return status;
}

// Writes `content` to a new file beside `file` and renames it over (its
// directory made if missing), or removes the file when the content is empty;
// never through a link someone put there.
int write_or_remove(const std::string& file, std::string_view content) {
    if (content.empty()) {
        if (::unlink(file.c_str()) != 0 && errno != ENOENT)
            return refuse(1, file + ": " + std::strerror(errno));
        return 0;
    }
    const std::string dir = file.substr(0, file.rfind('/'));
    ::mkdir(dir.c_str(), 0755);
    const std::string temp = file + ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return refuse(1, temp + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = done == content.size() && ::fchmod(fd, 0644) == 0 && ::close(fd) == 0;
    if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return refuse(1, file + ": " + std::strerror(errno));
    }
    return 0;
}

// The policy document, beside the others (a reader never sees half of it).
int write_policy() {
    ::mkdir("/usr/share/polkit-1", 0755);
    return write_or_remove(policy_file, kelmora::polkit_policy_document);
}

int write_nvidia_config(const kelmora::NvidiaConfig& config) {
    if (const int failed = write_or_remove(std::string(kelmora::nvidia_modprobe_file),
                                           kelmora::nvidia_modprobe_content(config)))
        return failed;
    return write_or_remove(std::string(kelmora::nvidia_udev_file),
                           config.runtime_pm ? kelmora::nvidia_udev_content() : "");
}

// A fixed environment: nothing of the caller's reaches the program.
// The C locale, so that kelmora can read what the tools print.
char path_variable[] = "PATH=/usr/bin:/usr/sbin:/bin:/sbin";
char locale_variable[] = "LC_ALL=C";
char* fixed_environment[] = {path_variable, locale_variable, nullptr};

std::string first_installed(const std::vector<std::string>& programs) {
    for (const std::string& p : programs)
        if (::access(p.c_str(), X_OK) == 0) return p;
    return {};
}

// What `program` prints on standard output; empty when it cannot run or fails.
std::string output_of(const std::string& program, std::vector<std::string> args) {
    int fds[2];
    if (program.empty() || ::pipe2(fds, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) ::dup2(null, 0);
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execve(program.c_str(), argv.data(), fixed_environment);
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || out.size() > (1u << 22)) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : std::string();
}

// The USB address and the driver must be ones CUPS names right now: the
// helper never makes a queue for an address or a driver only the caller knows.
int check_listed(const kelmora::HelperRequest& accepted) {
    const std::string lpinfo = first_installed({"/usr/bin/lpinfo", "/usr/sbin/lpinfo"});
    if (lpinfo.empty()) return refuse(kelmora::refused_missing, "lpinfo is not installed");
    bool listed = false;
    // One listing can miss a device that a backend reported last.
    for (int attempt = 0; attempt < 2 && !listed; ++attempt) {
        const auto devices = kelmora::devices_from_lpinfo(
            output_of(lpinfo, {"lpinfo", "--include-schemes", "usb", "-l", "-v"}));
        listed = std::any_of(devices.begin(), devices.end(), [&](const kelmora::CupsDevice& d) {
            return d.uri == accepted.listed_device;
        });
    }
    if (!listed)
        return refuse(kelmora::refused_argument, "CUPS does not list this USB printer now");
    const auto drivers = kelmora::drivers_from_lpinfo(output_of(lpinfo, {"lpinfo", "-m"}));
    if (std::none_of(drivers.begin(), drivers.end(), [&](const kelmora::PrinterDriver& d) {
            return d.name == accepted.listed_driver;
        }))
        return refuse(kelmora::refused_argument, "CUPS does not list this driver");
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (::geteuid() != 0)
        return refuse(kelmora::refused_not_root, "runs only as root, through pkexec");
    const std::vector<std::string> request(argv + 1, argv + argc);
    const auto parsed = kelmora::parse_helper_request(request);
    if (const auto* refusal = std::get_if<kelmora::Refusal>(&parsed))
        return refuse(refusal->status, refusal->message);
    const auto& accepted = std::get<kelmora::HelperRequest>(parsed);
    if (accepted.write_policy) return write_policy();
    if (accepted.nvidia_config) return write_nvidia_config(*accepted.nvidia_config);
    if (!accepted.file.empty()) return write_or_remove(accepted.file, accepted.content);
    if (!accepted.caller_must_be.empty()) {
        // pkexec says whom it runs the helper for; nobody else is named.
        const char* uid = std::getenv("PKEXEC_UID");
        const struct passwd* caller =
            uid != nullptr && *uid != '\0' ? ::getpwuid(static_cast<uid_t>(std::strtoul(uid, nullptr, 10)))
                                             : nullptr;
        if (caller == nullptr || accepted.caller_must_be != caller->pw_name)
            return refuse(kelmora::refused_argument, "names a user other than the caller");
    }
    if (!accepted.listed_device.empty())
        if (const int refused = check_listed(accepted); refused != 0) return refused;

    for (const std::string& program : accepted.programs) {
        if (::access(program.c_str(), X_OK) != 0) continue;
        std::vector<char*> args = {const_cast<char*>(program.c_str())};
        for (const std::string& a : accepted.args) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execve(program.c_str(), args.data(), fixed_environment);
        return refuse(kelmora::refused_missing, program + ": " + std::strerror(errno));
    }
    return refuse(kelmora::refused_missing, accepted.programs.front() + " is not installed");
}
