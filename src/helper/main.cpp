// kelmora-helper: the privileged half of kelmora, run through pkexec with an
// action of its own, so that one authorization (kept for a few minutes)
// covers every step of a click. It does one of a fixed set of requests (see
// request.h), each one program by its absolute path, without a shell and
// without the caller's environment; what that program prints and its exit
// status pass through unchanged. Anything else is refused before anything runs.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hardware/firmware.h"
#include "helper/request.h"
#include "printing/cups_output.h"
#include "printing/loopback.h"
#include "printing/queue_settings.h"
#include "services/polkit_policy.h"

namespace {

constexpr const char* policy_file = "/usr/share/polkit-1/actions/org.tamsel.pellin.policy";

int refuse(int status, const std::string& message) {
    std::fprintf(stderr, "kelmora-helper: %s\n", message.c_str());
    return status;
}

// The directory a file of kelmora's goes into: made 0755 where missing, and
// readable by everyone where an earlier run left it closed (SANE reads
// /etc/sane.d/airscan.d as the user).
bool open_directory(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0) return false;
    if ((st.st_mode & 0755) != 0755) return ::chmod(dir.c_str(), (st.st_mode & 07777) | 0755) == 0;
    return true;
}

// A temporary name of our own beside `file`, opened only when nothing (no
// file, no link someone planted) is there yet.
int open_fresh(const std::string& file, std::string& temp) {
    for (int attempt = 0; attempt < 64; ++attempt) {
        unsigned char random[6];
        if (::getentropy(random, sizeof random) != 0) return -1;
        temp = file + ".kelmora-";
        for (unsigned char r : random) temp += "0123456789abcdefghijklmnopqrstuv"[r & 31];
        const int fd =
            ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Writes `content` to a fresh file beside `file`, flushes it to the disk and
// renames it over (a reader never sees half of it), or removes the file when
// the content is empty.
int write_or_remove(const std::string& file, std::string_view content) {
    if (content.empty()) {
        if (::unlink(file.c_str()) != 0 && errno != ENOENT)
            return refuse(1, file + ": " + std::strerror(errno));
        return 0;
    }
    const std::string dir = file.substr(0, file.rfind('/'));
    if (!open_directory(dir)) return refuse(1, dir + ": not a directory kelmora may write into");
    std::string temp;
    const int fd = open_fresh(file, temp);
    if (fd < 0) return refuse(1, file + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == content.size() && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    const int error = errno;
    if (::close(fd) != 0 || !written || ::rename(temp.c_str(), file.c_str()) != 0) {
        const int why = written ? errno : error;
        ::unlink(temp.c_str());
        return refuse(1, file + ": " + std::strerror(why));
    }
    if (const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
        ::fsync(d);
        ::close(d);
    }
    return 0;
}

// The policy document, beside the others (a reader never sees half of it).
int write_policy() {
    open_directory("/usr/share/polkit-1");
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

// CUPS's programs read root's local certificate from the certificates'
// directory of cupsd's state (/run/cups/certs/0) and offer it to any printer
// on a loopback address that asks for it: newer lpadmin asks the printer
// itself for "-m everywhere". As root they ignore CUPS_STATEDIR. So they run
// in a mount namespace of their own in which that directory is empty; cupsd
// still knows root by the peer credentials on its domain socket.
int hide_cups_certificates() {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return refuse(
            1, std::string("cannot keep CUPS's certificates to cupsd: ") + std::strerror(errno));
    for (const char* dir : {"/run/cups/certs", "/var/run/cups/certs"}) {
        struct stat st {};
        if (::stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        if (::mount("kelmora-no-certificates", dir, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                    "size=16k,mode=0700") != 0)
            return refuse(1, std::string(dir) + ": " + std::strerror(errno));
    }
    return 0;
}

std::string first_installed(const std::vector<std::string>& programs) {
    for (const std::string& p : programs)
        if (::access(p.c_str(), X_OK) == 0) return p;
    return {};
}

// What `program` prints on standard output; empty when it cannot run, fails
// or takes longer than `seconds` (then it is killed). `args` are its words
// after its own name.
std::string output_of(const std::string& program, std::vector<std::string> args, int seconds = 60) {
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool late = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{fds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) == 0) {
            late = true;
            break;
        }
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || out.size() > (1u << 22)) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (late && pid > 0) ::kill(pid, SIGKILL);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return !late && pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : std::string();
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
            output_of(lpinfo, {"--include-schemes", "usb", "-l", "-v"}));
        listed = std::any_of(devices.begin(), devices.end(), [&](const kelmora::CupsDevice& d) {
            return d.uri == accepted.listed_device;
        });
    }
    if (!listed)
        return refuse(kelmora::refused_argument, "CUPS does not list this USB printer now");
    const auto drivers = kelmora::drivers_from_lpinfo(output_of(lpinfo, {"-m"}));
    if (std::none_of(drivers.begin(), drivers.end(), [&](const kelmora::PrinterDriver& d) {
            return d.name == accepted.listed_driver;
        }))
        return refuse(kelmora::refused_argument, "CUPS does not list this driver");
    return 0;
}

// A setting's value must be one the queue itself lists: the helper never
// sets what only the caller names.
int check_option(const kelmora::HelperRequest& accepted) {
    const std::string lpoptions = first_installed({"/usr/bin/lpoptions", "/usr/sbin/lpoptions"});
    if (lpoptions.empty()) return refuse(kelmora::refused_missing, "lpoptions is not installed");
    const std::string& queue = accepted.args.at(1);
    const auto& [key, value] = *accepted.listed_option;
    for (const auto& option :
         kelmora::options_from_lpoptions(output_of(lpoptions, {"-p", queue, "-l"})))
        if (option.key == key &&
            std::find(option.values.begin(), option.values.end(), value) != option.values.end())
            return 0;
    return refuse(kelmora::refused_argument, "the queue does not list this value of " + key);
}

// The numeric addresses `host` stands for.
std::vector<std::string> addresses_of(const std::string& host) {
    std::vector<std::string> found;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return found;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        char text[NI_MAXHOST];
        if (::getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0,
                          NI_NUMERICHOST) == 0)
            found.emplace_back(text);
    }
    ::freeaddrinfo(list);
    return found;
}

// cupsd itself asks the printer of a "-m everywhere" queue for its
// description, in the background after lpadmin, and offers root's local
// certificate to a loopback printer that asks for it. So a printer on this
// machine's loopback address is only added while root serves its port
// (ipp-usb runs as root): any user may listen on a free loopback port.
int check_loopback_port(unsigned port);

// A DNS-SD name (what driverless lists) is resolved by cupsd through Avahi:
// the helper asks Avahi the same, and every loopback address it names must be
// one root serves. (Anyone may publish a service.)
int check_service_instance(const kelmora::ServiceInstance& instance) {
    const std::string browse = first_installed({"/usr/bin/avahi-browse"});
    if (browse.empty()) return 0;  // cupsd cannot resolve it either
    const auto resolved = kelmora::resolved_instances(
        output_of(browse, {"-k", "-p", "-r", "-t", instance.type}, 10), instance);
    for (const kelmora::UriHost& at : resolved)
        if (kelmora::is_loopback_address(at.host))
            if (const int refused = check_loopback_port(at.port); refused != 0) return refused;
    return 0;
}

int check_loopback(const std::string& uri) {
    const auto target = kelmora::uri_host_port(uri);
    if (!target) return refuse(kelmora::refused_argument, "not a printer address");
    if (const auto instance = kelmora::service_instance(target->host))
        return check_service_instance(*instance);
    const auto addresses = addresses_of(target->host);
    if (std::none_of(addresses.begin(), addresses.end(), kelmora::is_loopback_address)) return 0;
    return check_loopback_port(target->port);
}

int check_loopback_port(unsigned port) {
    std::vector<unsigned> owners;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::string text;
        if (FILE* f = std::fopen(table, "re")) {
            char buffer[8192];
            for (std::size_t n;
                 (n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < (1u << 24);)
                text.append(buffer, n);
            std::fclose(f);
        }
        const auto more = kelmora::listening_owners(text, port);
        owners.insert(owners.end(), more.begin(), more.end());
    }
    // Nobody listening now: whoever listens first would get cupsd's call.
    if (owners.empty())
        return refuse(kelmora::refused_argument, "no printer answers at this loopback address");
    if (std::any_of(owners.begin(), owners.end(), [](unsigned u) { return u != 0; }))
        return refuse(kelmora::refused_argument,
                      "a printer on this machine's loopback address that root does not serve");
    return 0;
}

// Only root reads the kernel log on Void (kernel.dmesg_restrict=1): the
// firmware loader's lines for missing files pass, each rebuilt from its
// checked name; nothing else of the log does.
int firmware_log(const kelmora::HelperRequest& accepted) {
    const std::string dmesg = first_installed(accepted.programs);
    if (dmesg.empty()) return refuse(kelmora::refused_missing, "dmesg is not installed");
    const std::string log = output_of(dmesg, {}, 30);
    for (const std::string& file : kelmora::missing_firmware_from_log(log))
        std::printf("Direct firmware load for %s failed with error -2\n", file.c_str());
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    // What the helper makes is for everyone to read, whatever the caller's umask.
    ::umask(022);
    if (::geteuid() != 0)
        return refuse(kelmora::refused_not_root, "runs only as root, through pkexec");
    const std::vector<std::string> request(argv + 1, argv + argc);
    const auto parsed = kelmora::parse_helper_request(request);
    if (const auto* refusal = std::get_if<kelmora::Refusal>(&parsed))
        return refuse(refusal->status, refusal->message);
    const auto& accepted = std::get<kelmora::HelperRequest>(parsed);
    if (accepted.write_policy) return write_policy();
    if (accepted.firmware_log) return firmware_log(accepted);
    if (accepted.nvidia_config) return write_nvidia_config(*accepted.nvidia_config);
    if (!accepted.file.empty()) return write_or_remove(accepted.file, accepted.content);
    if (!accepted.caller_must_be.empty()) {
        // pkexec says whom it runs the helper for; nobody else is named.
        const auto uid = kelmora::parse_pkexec_uid(std::getenv("PKEXEC_UID"));
        const struct passwd* caller = uid ? ::getpwuid(static_cast<uid_t>(*uid)) : nullptr;
        if (caller == nullptr || accepted.caller_must_be != caller->pw_name)
            return refuse(kelmora::refused_argument, "names a user other than the caller");
    }
    if (accepted.cups_client)
        if (const int failed = hide_cups_certificates(); failed != 0) return failed;
    if (!accepted.listed_device.empty())
        if (const int refused = check_listed(accepted); refused != 0) return refused;
    if (accepted.listed_option)
        if (const int refused = check_option(accepted); refused != 0) return refused;
    if (!accepted.printer_uri.empty())
        if (const int refused = check_loopback(accepted.printer_uri); refused != 0) return refused;

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
