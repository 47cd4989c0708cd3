// A channel from any thread to the GLib main loop: an unbounded FIFO with any
// number of copyable senders and one receiver dispatched on a main context.
//
// - send() never blocks; it fails (returns false) only once the receiver is gone.
// - A send wakes the receiving source, which drains the queue in order.
// - When the last sender is gone and the queue is empty, the source removes itself.
// - close() on the receiver (for example when its window is destroyed) drops
//   what is queued and makes every later send fail, so a late message can never
//   reach freed widgets.
#pragma once

#include <glib.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace kelmora {

template <class T>
class UiChannel {
    struct State {
        std::mutex mutex;
        std::deque<T> queue;
        GSource* source = nullptr;  // our reference; null before attach and once closed
        bool closed = false;
        std::size_t senders = 0;
    };

    struct Source {
        GSource base;
        std::shared_ptr<State>* state;
        std::function<void(T&&)>* handler;
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
            state_->queue.push_back(std::move(message));
            if (state_->source != nullptr) g_source_set_ready_time(state_->source, 0);
            return true;
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

    // Creates a channel whose receiver runs `handler` for each message on
    // `context` (nullptr: the default main context) at `priority`. Returns the
    // first sender and the receiver handle.
    static std::pair<Sender, Receiver> create(std::function<void(T&&)> handler,
                                              GMainContext* context = nullptr,
                                              int priority = G_PRIORITY_DEFAULT) {
        static GSourceFuncs funcs = {nullptr, nullptr, &dispatch, &finalize, nullptr, nullptr};
        auto state = std::make_shared<State>();
        GSource* gsource = g_source_new(&funcs, sizeof(Source));
        auto* source = reinterpret_cast<Source*>(gsource);
        source->state = new std::shared_ptr<State>(state);
        source->handler = new std::function<void(T&&)>(std::move(handler));
        g_source_set_priority(gsource, priority);
        g_source_set_name(gsource, "kelmora ui channel");
        state->source = gsource;  // keeps the reference from g_source_new
        g_source_attach(gsource, context);

        Receiver receiver;
        receiver.state_ = state;
        return {Sender(state), receiver};
    }

private:
    static gboolean dispatch(GSource* gsource, GSourceFunc, gpointer) {
        auto* source = reinterpret_cast<Source*>(gsource);
        State& state = **source->state;
        std::deque<T> batch;
        {
            std::lock_guard lock(state.mutex);
            // Cleared under the lock: a send that comes after the swap sets it again.
            g_source_set_ready_time(gsource, -1);
            batch.swap(state.queue);
        }
        for (T& message : batch) {
            {
                std::lock_guard lock(state.mutex);
                if (state.closed) return G_SOURCE_REMOVE;
            }
            (*source->handler)(std::move(message));
        }
        GSource* ours = nullptr;
        {
            std::lock_guard lock(state.mutex);
            if (state.closed) return G_SOURCE_REMOVE;
            if (state.senders > 0 || !state.queue.empty()) return G_SOURCE_CONTINUE;
            state.closed = true;
            std::swap(ours, state.source);
        }
        if (ours != nullptr) g_source_unref(ours);  // the main loop still holds its own
        return G_SOURCE_REMOVE;
    }

    static void finalize(GSource* gsource) {
        auto* source = reinterpret_cast<Source*>(gsource);
        delete source->handler;
        delete source->state;
    }
};

}  // namespace kelmora
