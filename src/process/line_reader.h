// Splitting a child's output stream into log lines, as it arrives.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "process/line_splitter.h"
#include "process/log_sink.h"

namespace kelmora {

// How many lines may wait for the window before a reader pauses.
inline constexpr std::size_t max_backlog_lines = 2048;

// Reads `fd` to its end in 8192-byte chunks and sends every line that is valid
// UTF-8 to `log` (with `prefix` in front); other lines are dropped whole.
// Closes `fd`. Runs on a reader thread.
// `observe`, when given, also sees every such line (without the prefix).
void forward_lines(int fd, const LogSink& log, std::string_view prefix,
                   const std::function<void(std::string_view)>& observe = {});

// Lets a command's runner wait until the readers of its output streams have
// reached end of file, so that a task's last output lines come before the
// banner that ends it. Copies share one count.
class ReaderGroup {
  public:
    explicit ReaderGroup(int readers) : state_(std::make_shared<State>()) {
        state_->open = readers;
    }
    // Called by each reader when its stream has ended.
    void reader_done() const {
        {
            std::lock_guard lock(state_->mutex);
            --state_->open;
        }
        state_->ended.notify_all();
    }
    // True when every reader is done; false when `timeout` passed first (a
    // process the child left behind may hold the pipes open for ever).
    bool wait_for(std::chrono::milliseconds timeout) const {
        std::unique_lock lock(state_->mutex);
        return state_->ended.wait_for(lock, timeout, [&] { return state_->open <= 0; });
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable ended;
        int open = 0;
    };
    std::shared_ptr<State> state_;
};

}  // namespace kelmora
