// Where a task reports: its log lines, and which step runs now. The core
// reports progress only through this; the window's channel is one
// destination, a test's list another. Copies share the destination, so a
// reader thread may keep one after its task returned.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>

namespace kelmora {

// What a step of a task does, for the line that names it while it runs.
enum class Activity {
    Repositories,    // enabling repositories
    SelfUpdate,      // updating xbps
    PoolCheck,       // checking the repository pool
    Remove,          // removing `subject`
    Install,         // installing
    ModuleBuild,     // building the kernel module
    ModuleCheck,     // checking the kernel module
    BlacklistCheck,  // checking what blacklists nouveau
    Services,        // enabling services
    Polkit,          // writing the Polkit policy
    AddPrinter,      // adding printer `subject`
    DefaultPrinter,  // making `subject` the default printer
    RemovePrinter,   // removing print queue `subject`
    TestPage,        // sending a test page to `subject`
    ResumeQueue,     // starting queue `subject` again
    CancelJobs,      // cancelling the jobs of queue `subject`
    CancelJob,       // cancelling job `subject`
    QueueSetting,    // changing a setting of queue `subject`
    ListUsb,         // asking CUPS for its USB printers
    NvidiaConfig,    // writing kelmora's NVIDIA settings
    ScannerGroup,    // adding the user to the scanner group
    ScannerSetup,    // setting up scanner `subject` (a backend, an address)
    Initramfs,       // making kernel `subject`'s initramfs again
    Unblock,         // lifting the block of radio `subject`
    KernelLog,       // reading the kernel log for missing firmware
    JoinGroup,       // adding the user to group `subject`
    Search,          // searching the network
};
struct StepReport {
    Activity activity;
    std::string subject;  // what is removed or added, else empty
    int number = 1;       // "step 2 of 4"
    int count = 1;
};

class LogSink {
  public:
    // Delivers one line (no terminator); false when nobody listens any more.
    using Deliver = std::function<bool(std::string)>;
    // Blocks until at most `limit` delivered lines wait to be shown.
    using WaitForRoom = std::function<void(std::size_t)>;
    using Step = std::function<void(StepReport)>;

    LogSink() = default;  // drops everything
    explicit LogSink(Deliver deliver, WaitForRoom wait_for_room = {}, Step step = {})
        : deliver_(std::move(deliver)),
          wait_for_room_(std::move(wait_for_room)),
          step_(std::move(step)) {}

    bool line(std::string text) const { return deliver_ && deliver_(std::move(text)); }
    void wait_for_room(std::size_t limit) const {
        if (wait_for_room_) wait_for_room_(limit);
    }
    void step(StepReport report) const {
        if (step_) step_(std::move(report));
    }

  private:
    Deliver deliver_;
    WaitForRoom wait_for_room_;
    Step step_;
};

// How a task ended. A dismissed authentication before anything changed is a
// cancel, not a failure; polkit missing (no pkexec) or unreachable (no system
// bus, no polkitd) is a failure the window explains with its fix. Converts to and from bool (true:
// succeeded), as callers that only ask "did it work" need no more.
struct TaskResult {
    enum Kind { Succeeded, Failed, Cancelled, NoPkexec, NoAuthority };
    Kind kind = Failed;
    TaskResult(bool ok) : kind(ok ? Succeeded : Failed) {}  // NOLINT: implicit on purpose
    TaskResult(Kind k) : kind(k) {}                         // NOLINT
    operator bool() const { return kind == Succeeded; }     // NOLINT
    bool cancelled() const { return kind == Cancelled; }
    bool polkit_missing() const { return kind == NoPkexec || kind == NoAuthority; }
};

// pkexec's exit status when the user dismissed the authentication.
inline constexpr int pkexec_dismissed_status = 126;

}  // namespace kelmora
