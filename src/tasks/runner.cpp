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

int run_pkexec_command(const std::vector<std::string>& args, const UiSender& sender) {
    sender.send(Line{"Starting: pkexec " + quoted_arg_list(args)});

    std::vector<std::string> argv = args;
    argv.insert(argv.begin(), "pkexec");
    const ChildProcess child = spawn_process(argv, Stdio::Inherit, Stdio::Pipe, Stdio::Pipe);
    if (!child.started()) {
        sender.send(Line{"Fehler beim Starten von pkexec: " + os_error_text(child.error)});
        return -1;
    }

    // The readers are never joined: a child may leave a process behind that
    // keeps the pipes open, and the task must still end soon after the child
    // does. Short of that, the task waits for the child's last lines, so that
    // they come before whatever the task reports next.
    const ReaderGroup readers(2);
    spawn_detached([fd = child.stdout_fd, s = sender, readers] {
        forward_lines(fd, s, "");
        readers.reader_done();
    });
    spawn_detached([fd = child.stderr_fd, s = sender, readers] {
        forward_lines(fd, s, "[Error] ");
        readers.reader_done();
    });
    const int status = wait_for_exit(child.pid);
    readers.wait_for(output_drain_limit);
    return status;
}

bool run_xbps_install(const std::vector<std::string>& args, const UiSender& sender) {
    const int status = run_pkexec_command(args, sender);
    if (status != xbps_must_update_status) return status == 0;
    // xbps refuses every other transaction while a newer xbps is published.
    if (run_pkexec_command({"xbps-install", "-Syu", "xbps"}, sender) != 0) return false;
    return run_pkexec_command(args, sender) == 0;
}

bool run_pkexec_xbps(const PackageList& packages, const UiSender& sender,
                     const std::filesystem::path& root) {
    const PackageList repos = missing_repository_packages(packages, root);
    if (!repos.empty() && !run_xbps_install(repository_setup_args(repos), sender)) return false;
    return run_xbps_install(xbps_install_args(packages), sender);
}

bool run_pkexec_xbps(const PackageList& packages, const UiSender& sender) {
    return run_pkexec_xbps(packages, sender, "/");
}

}  // namespace kelmora
