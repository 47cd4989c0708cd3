#include "tasks/runner.h"

#include <algorithm>

#include "tasks/install_plan.h"
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

std::string_view reported_installed(std::string_view line) {
    struct Form {
        std::string_view head, tail;
    };
    constexpr Form forms[] = {{"Package '", "' is up to date."},
                              {"ERROR: Package `", "' already installed."}};
    for (const Form& f : forms) {
        if (line.size() > f.head.size() + f.tail.size() && line.starts_with(f.head) &&
            line.ends_with(f.tail))
            return line.substr(f.head.size(), line.size() - f.head.size() - f.tail.size());
    }
    return {};
}

std::vector<std::string> named_packages(const std::vector<std::string>& args) {
    std::vector<std::string> names;
    for (std::size_t i = 1; i < args.size(); ++i)
        if (!args[i].starts_with('-')) names.push_back(args[i]);
    return names;
}

bool xbps_succeeded(const std::vector<std::string>& args, const CommandResult& result) {
    if (result.status == 0) return true;
    if (result.status != xbps_exists_status) return false;
    const std::vector<std::string> names = named_packages(args);
    return !names.empty() && std::all_of(names.begin(), names.end(), [&](const std::string& n) {
        return std::find(result.up_to_date.begin(), result.up_to_date.end(), n) !=
               result.up_to_date.end();
    });
}

CommandResult run_pkexec_command(const std::vector<std::string>& args, const UiSender& sender) {
    sender.send(Line{"Starting: pkexec " + quoted_arg_list(args)});

    std::vector<std::string> argv = args;
    argv.insert(argv.begin(), "pkexec");
    const ChildProcess child = spawn_process(argv, Stdio::Inherit, Stdio::Pipe, Stdio::Pipe);
    if (!child.started()) {
        sender.send(Line{"Fehler beim Starten von pkexec: " + os_error_text(child.error)});
        return {};
    }

    // The readers are never joined: a child may leave a process behind that
    // keeps the pipes open, and the task must still end soon after the child
    // does. Short of that, the task waits for the child's last lines, so that
    // they come before whatever the task reports next.
    struct Seen {
        std::mutex mutex;
        std::vector<std::string> names;
        std::vector<std::string> tail;
    };
    const auto seen = std::make_shared<Seen>();
    const auto observe = [seen](std::string_view line) {
        const std::string_view name = reported_installed(line);
        std::lock_guard lock(seen->mutex);
        if (!name.empty()) seen->names.emplace_back(name);
        if (seen->tail.size() == command_tail_lines) seen->tail.erase(seen->tail.begin());
        seen->tail.emplace_back(line);
    };
    const ReaderGroup readers(2);
    spawn_detached([fd = child.stdout_fd, s = sender, readers, observe] {
        forward_lines(fd, s, "", observe);
        readers.reader_done();
    });
    spawn_detached([fd = child.stderr_fd, s = sender, readers, observe] {
        forward_lines(fd, s, "[Error] ", observe);
        readers.reader_done();
    });
    CommandResult result;
    result.status = wait_for_exit(child.pid);
    readers.wait_for(output_drain_limit);
    std::lock_guard lock(seen->mutex);
    result.up_to_date = seen->names;
    result.tail = seen->tail;
    return result;
}

bool run_xbps_install(const std::vector<std::string>& args, const UiSender& sender) {
    const CommandResult result = run_pkexec_command(args, sender);
    if (result.status != xbps_must_update_status) return xbps_succeeded(args, result);
    // xbps refuses every other transaction while a newer xbps is published.
    const std::vector<std::string> update = {"xbps-install", "-Syu", "xbps"};
    if (!xbps_succeeded(update, run_pkexec_command(update, sender))) return false;
    return xbps_succeeded(args, run_pkexec_command(args, sender));
}

bool run_pkexec_xbps(const PackageList& packages, const UiSender& sender,
                     const std::filesystem::path& root) {
    // Only a driver generation can collide with what is installed.
    const InstalledPackages installed =
        installs_nvidia_generation(packages)
            ? query_installed_packages().value_or(InstalledPackages{})
            : InstalledPackages{};
    return run_install_plan(
        plan_install(packages, installed, missing_repository_packages(packages, root)), sender);
}

bool run_pkexec_xbps(const PackageList& packages, const UiSender& sender) {
    return run_pkexec_xbps(packages, sender, "/");
}

}  // namespace kelmora
