// Where a task's log lines go. The core reports progress only through this;
// the window's channel is one destination, a test's list another. Copies share
// the destination, so a reader thread may keep one after its task returned.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>

namespace kelmora {

class LogSink {
  public:
    // Delivers one line (no terminator); false when nobody listens any more.
    using Deliver = std::function<bool(std::string)>;
    // Blocks until at most `limit` delivered lines wait to be shown.
    using WaitForRoom = std::function<void(std::size_t)>;

    LogSink() = default;  // drops every line
    explicit LogSink(Deliver deliver, WaitForRoom wait_for_room = {})
        : deliver_(std::move(deliver)), wait_for_room_(std::move(wait_for_room)) {}

    bool line(std::string text) const { return deliver_ && deliver_(std::move(text)); }
    void wait_for_room(std::size_t limit) const {
        if (wait_for_room_) wait_for_room_(limit);
    }

  private:
    Deliver deliver_;
    WaitForRoom wait_for_room_;
};

}  // namespace kelmora
