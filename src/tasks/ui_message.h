// The messages that worker threads send to a window, and the channel type.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "tasks/ui_channel.h"

namespace kelmora {

// One log line, without its line terminator.
struct Line {
    std::string text;
};
// A task ended.
struct Done {
    bool success;
};
// Re-run the service status probe in the stored language.
struct RefreshStatus {};
// The network discovery result; it also ends that task.
struct ScanResults {
    std::vector<std::string> entries;
};

using UiMessage = std::variant<Line, Done, RefreshStatus, ScanResults>;
using UiSender = UiChannel<UiMessage>::Sender;
using UiReceiver = UiChannel<UiMessage>::Receiver;

}  // namespace kelmora
