#include "tasks/runner.h"

#include "tasks/line_reader.h"
#include "tasks/process.h"

namespace kelmora {

std::vector<std::string> xbps_install_args(const PackageList& packages) {
    std::vector<std::string> args = {"xbps-install", "-Su", "-y"};
    for (std::string_view p : packages) args.emplace_back(p);
    return args;
}

std::string quoted_arg_list(const std::vector<std::string>& args) {
    std::string out = "[";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) out += ", ";
        out += '"';
        for (char c : args[i]) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        out += '"';
    }
    out += ']';
    return out;
}

bool run_pkexec_xbps(const PackageList& packages, const UiSender& sender) {
    std::vector<std::string> args = xbps_install_args(packages);
    sender.send(Line{"Starting: pkexec " + quoted_arg_list(args)});

    args.insert(args.begin(), "pkexec");
    const ChildProcess child = spawn_process(args, Stdio::Inherit, Stdio::Pipe, Stdio::Pipe);
    if (!child.started()) {
        sender.send(Line{"Fehler beim Starten von pkexec: " + os_error_text(child.error)});
        return false;
    }

    // The readers are never joined: a child may leave a process behind that
    // keeps the pipes open, and the task must still end when the child does.
    spawn_detached([fd = child.stdout_fd, s = sender] { forward_lines(fd, s, ""); });
    spawn_detached([fd = child.stderr_fd, s = sender] { forward_lines(fd, s, "[Error] "); });
    return wait_for_success(child.pid);
}

}  // namespace kelmora
