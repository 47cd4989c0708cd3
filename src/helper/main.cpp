// kelmora-helper: the privileged half of kelmora, run through pkexec with an
// action of its own, so that one authorization (kept for a few minutes)
// covers every step of a click. It does one of a fixed set of requests (see
// request.h), each one program by its absolute path, without a shell and
// without the caller's environment; what that program prints and its exit
// status pass through unchanged. Anything else is refused before anything runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "helper/request.h"
#include "services/polkit_policy.h"

namespace {

constexpr const char* policy_dir = "/usr/share/polkit-1/actions";
constexpr const char* policy_file = "/usr/share/polkit-1/actions/org.tamsel.pellin.policy";

int refuse(int status, const std::string& message) {
    std::fprintf(stderr, "kelmora-helper: %s\n", message.c_str());
    return status;
}

// Writes the document to a new file beside the old one, then renames it over:
// a reader never sees half a policy.
int write_policy() {
    ::mkdir("/usr/share/polkit-1", 0755);
    ::mkdir(policy_dir, 0755);
    const std::string temp = std::string(policy_file) + ".new";
    const int fd =
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return refuse(1, temp + ": " + std::strerror(errno));
    const std::string_view doc = kelmora::polkit_policy_document;
    std::size_t done = 0;
    while (done < doc.size()) {
        const ssize_t n = ::write(fd, doc.data() + done, doc.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = done == doc.size() && ::fchmod(fd, 0644) == 0 && ::close(fd) == 0;
    if (!ok || ::rename(temp.c_str(), policy_file) != 0) {
        ::unlink(temp.c_str());
        return refuse(1, std::string(policy_file) + ": " + std::strerror(errno));
    }
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

    for (const std::string& program : accepted.programs) {
        if (::access(program.c_str(), X_OK) != 0) continue;
        std::vector<char*> args = {const_cast<char*>(program.c_str())};
        for (const std::string& a : accepted.args) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        // A fixed environment: nothing of the caller's reaches the program.
        // The C locale, so that kelmora can read what the tools print.
        char path[] = "PATH=/usr/bin:/usr/sbin:/bin:/sbin";
        char locale[] = "LC_ALL=C";
        char* env[] = {path, locale, nullptr};
        ::execve(program.c_str(), args.data(), env);
        return refuse(kelmora::refused_missing, program + ": " + std::strerror(errno));
    }
    return refuse(kelmora::refused_missing, accepted.programs.front() + " is not installed");
}
