// A channel from any thread to the GLib main loop: an unbounded FIFO with any
// number of copyable senders and one receiver dispatched on a main context.
//
// - send() never blocks; it fails (returns false) only once the receiver is gone.
// - A send into an empty queue wakes the receiving source, which handles the
//   queue in order, in time slices: when a slice is used up, the rest waits for
//   the next dispatch and the main loop gets to draw and handle input first.
// - When the last sender is gone and the queue is empty, the source removes itself.
// - A producer that can afford to wait (a reader of a child's output, whose
//   child then simply waits on its full pipe) may pace itself with
//   wait_for_room(), so a flood of output cannot pile up without bound.
// - close() on the receiver (for example when its window is destroyed) drops
//   what is queued and makes every later send fail, so a late message can never
//   reach freed widgets.
#pragma once

#include <glib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>

namespace kelmora {

template <class T>
class UiChannel {
    struct State {
        std::mutex mutex;
        std::deque<T> queue;
        GSource* source = nullptr;         // our reference; null before attach and once closed
        std::atomic<bool> closed = false;  // written under the mutex
        std::size_t senders = 0;
        std::size_t pending = 0;          // sent and not yet handled
        std::condition_variable handled;  // signalled after each dispatch and on close
        gint64 resume_at = 0;             // while the receiver pauses, when it may run again
        // Only touched by dispatch: when the current run of back-to-back work began.
        gint64 streak_start = 0, last_end = 0;
    };

  public:
    struct Options {
        GMainContext* context = nullptr;  // nullptr: the default main context
        int priority = G_PRIORITY_DEFAULT;
        // How long handlers may run back to back, over one or several dispatches;
        // zero: no limit, every dispatch handles the whole queue.
        std::chrono::microseconds slice{0};
        // After a used-up slice the source waits this long, so that sources of
        // lower priority (drawing) run before the rest is handled.
        std::chrono::microseconds pause{1000};
        // Runs after each dispatch that handled at least one message.
        std::function<void()> after_dispatch;
    };

  private:
    struct Source {
        GSource base;
        std::shared_ptr<State>* state;
        std::function<void(T&&)>* handler;
        Options* options;
    };

  public:
    class Sender {
      public:
        Sender() = default;
        Sender(const Sender& other) : state_(other.state_) { add_ref(); }
        Sender(Sender&& other) noexcept : state_(std::move(other.state_)) {}
        Sender& operator=(Sender other) noexcept {
            std::swap(state_, other.state_);
            return *this;
        }
        ~Sender() { release(); }

        // Queues `message` for the receiver; false when the receiver is gone
        // (the message is then dropped).
        bool send(T message) const {
            if (!state_) return false;
            std::lock_guard lock(state_->mutex);
            if (state_->closed) return false;
            const bool was_empty = state_->queue.empty();
            state_->queue.push_back(std::move(message));
            ++state_->pending;
            // A non-empty queue already has a dispatch coming; waking the loop
            // for every line of a busy child would only cost.
            if (was_empty && state_->source != nullptr)
                g_source_set_ready_time(state_->source, state_->resume_at);
            return true;
        }

        // Waits until at most `limit` messages are waiting to be handled, or the
        // receiver is gone. Never called on the receiver's own thread.
        void wait_for_room(std::size_t limit) const {
            if (!state_) return;
            std::unique_lock lock(state_->mutex);
            state_->handled.wait(lock, [&] { return state_->closed || state_->pending <= limit; });
        }

      private:
        friend class UiChannel;
        explicit Sender(std::shared_ptr<State> state) : state_(std::move(state)) { add_ref(); }
        void add_ref() {
            if (!state_) return;
            std::lock_guard lock(state_->mutex);
            ++state_->senders;
        }
        void release() {
            if (!state_) return;
            {
                std::lock_guard lock(state_->mutex);
                // Wake the receiver so that it can notice it is no longer needed.
                if (--state_->senders == 0 && state_->source != nullptr)
                    g_source_set_ready_time(state_->source, 0);
            }
            state_.reset();
        }

        std::shared_ptr<State> state_;
    };

    // The receiving end. Copies share the same source; close() from any copy
    // detaches it. Only used on the thread that runs `context`.
    class Receiver {
      public:
        // Stops delivery: queued messages are dropped and later sends fail.
        void close() const {
            if (!state_) return;
            GSource* source = nullptr;
            {
                std::lock_guard lock(state_->mutex);
                state_->closed = true;
                std::swap(source, state_->source);
                state_->queue.clear();
            }
            state_->handled.notify_all();
            if (source != nullptr) {
                g_source_destroy(source);
                g_source_unref(source);
            }
        }
        // True while the source is attached.
        bool attached() const {
            if (!state_) return false;
            std::lock_guard lock(state_->mutex);
            return state_->source != nullptr;
        }

      private:
        friend class UiChannel;
        std::shared_ptr<State> state_;
    };

    // Creates a channel whose receiver runs `handler` for each message. Returns
    // the first sender and the receiver handle.
    static std::pair<Sender, Receiver> create(std::function<void(T&&)> handler, Options options) {
        static GSourceFuncs funcs = {nullptr, nullptr, &dispatch, &finalize, nullptr, nullptr};
        auto state = std::make_shared<State>();
        GSource* gsource = g_source_new(&funcs, sizeof(Source));
        auto* source = reinterpret_cast<Source*>(gsource);
        source->state = new std::shared_ptr<State>(state);
        source->handler = new std::function<void(T &&)>(std::move(handler));
        source->options = new Options(std::move(options));
        g_source_set_priority(gsource, source->options->priority);
        g_source_set_name(gsource, "kelmora ui channel");
        state->source = gsource;  // keeps the reference from g_source_new
        g_source_attach(gsource, source->options->context);

        Receiver receiver;
        receiver.state_ = state;
        return {Sender(state), receiver};
    }

    static std::pair<Sender, Receiver> create(std::function<void(T&&)> handler,
                                              GMainContext* context = nullptr) {
        Options options;
        options.context = context;
        return create(std::move(handler), std::move(options));
    }

  private:
    static gboolean dispatch(GSource* gsource, GSourceFunc, gpointer) {
        auto* source = reinterpret_cast<Source*>(gsource);
        State& state = **source->state;
        const Options& options = *source->options;
        std::deque<T> batch;
        {
            std::lock_guard lock(state.mutex);
            // Cleared under the lock: the next send into the now empty queue sets it again.
            g_source_set_ready_time(gsource, -1);
            batch.swap(state.queue);
        }
        // A run of work is back-to-back dispatches; a gap longer than the pause
        // means the loop was idle in between, and a new run begins.
        const gint64 start = g_get_monotonic_time();
        if (start - state.last_end > options.pause.count()) state.streak_start = start;
        const gint64 deadline =
            options.slice.count() > 0 ? state.streak_start + options.slice.count() : G_MAXINT64;
        std::size_t handled = 0;
        bool used_up = false;
        while (handled < batch.size() && !state.closed) {
            (*source->handler)(std::move(batch[handled++]));
            if ((used_up = g_get_monotonic_time() >= deadline)) break;
        }
        if (handled > 0 && !state.closed && options.after_dispatch) options.after_dispatch();
        state.last_end = g_get_monotonic_time();

        GSource* ours = nullptr;
        {
            std::lock_guard lock(state.mutex);
            state.pending -= handled;
            state.handled.notify_all();
            if (state.closed) return G_SOURCE_REMOVE;
            // Sources of lower priority never run while this one is ready, so a
            // used-up slice is followed by a pause, also for messages sent meanwhile.
            state.resume_at = used_up ? state.last_end + options.pause.count() : 0;
            if (used_up) state.streak_start = state.resume_at;
            if (handled < batch.size())  // the rest goes back in front, order kept
                state.queue.insert(state.queue.begin(),
                                   std::make_move_iterator(batch.begin() + handled),
                                   std::make_move_iterator(batch.end()));
            if (!state.queue.empty()) {
                g_source_set_ready_time(gsource, state.resume_at);
                return G_SOURCE_CONTINUE;
            }
            if (state.senders > 0) return G_SOURCE_CONTINUE;
            state.closed = true;
            std::swap(ours, state.source);
            state.handled.notify_all();
        }
        if (ours != nullptr) g_source_unref(ours);  // the main loop still holds its own
        return G_SOURCE_REMOVE;
    }

    static void finalize(GSource* gsource) {
        auto* source = reinterpret_cast<Source*>(gsource);
        delete source->handler;
        delete source->options;
        delete source->state;
    }
};

}  // namespace kelmora
