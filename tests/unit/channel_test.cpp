#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "test_support.h"
#include "ui/ui_channel.h"

namespace kelmora {
namespace {

using Channel = UiChannel<int>;

struct Loop {
    GMainContext* context = g_main_context_new();
    ~Loop() { g_main_context_unref(context); }
    template <class F>
    bool run_until(F done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            if (!g_main_context_iteration(context, FALSE)) g_usleep(200);
        }
        return true;
    }
};

TEST(UiChannel, ManyProducersKeepTheirOwnOrderAndNothingIsLost) {
    Loop loop;
    std::vector<int> got;
    auto [sender, receiver] = Channel::create([&](int&& v) { got.push_back(v); }, loop.context);
    constexpr int threads = 4, per_thread = 20000;
    for (int t = 0; t < threads; ++t)
        std::thread([s = sender, t] {
            for (int i = 0; i < per_thread; ++i) s.send(t * per_thread + i);
        }).detach();
    sender = Channel::Sender();
    ASSERT_TRUE(loop.run_until([&] { return !receiver.attached(); }));  // source removed itself
    ASSERT_EQ(got.size(), std::size_t(threads * per_thread));
    std::vector<int> last(threads, -1);
    for (int v : got) {
        EXPECT_GT(v, last[v / per_thread]);
        last[v / per_thread] = v;
    }
}

TEST(UiChannel, SourceStaysUntilTheQueueIsDrained) {
    Loop loop;
    std::vector<int> got;
    auto [sender, receiver] = Channel::create([&](int&& v) { got.push_back(v); }, loop.context);
    sender.send(1);
    sender.send(2);
    sender = Channel::Sender();  // last sender gone with two messages queued
    ASSERT_TRUE(loop.run_until([&] { return !receiver.attached(); }));
    EXPECT_EQ(got, (std::vector<int>{1, 2}));
}

TEST(UiChannel, SendsFailWithoutBlockingOnceTheReceiverIsClosed) {
    Loop loop;
    std::atomic<int> handled{0};
    auto [sender, receiver] = Channel::create([&](int&&) { ++handled; }, loop.context);
    sender.send(1);
    receiver.close();  // e.g. the window was destroyed: queued messages are dropped
    EXPECT_FALSE(sender.send(2));
    std::thread([s = sender] {
        for (int i = 0; i < 1000; ++i) EXPECT_FALSE(s.send(i));
    }).join();
    while (g_main_context_iteration(loop.context, FALSE)) {
    }
    EXPECT_EQ(handled, 0);
    receiver.close();  // idempotent
}

TEST(UiChannel, ClosingWhileAProducerStreamsIsSafe) {
    for (int round = 0; round < 20; ++round) {
        Loop loop;
        std::atomic<int> handled{0};
        std::atomic<bool> stop{false};
        auto [sender, receiver] = Channel::create([&](int&&) { ++handled; }, loop.context);
        std::thread producer([s = sender, &stop] {
            while (!stop) s.send(1);
        });
        loop.run_until([&] { return handled > 100; });
        receiver.close();
        stop = true;
        producer.join();
        sender = Channel::Sender();
        EXPECT_FALSE(receiver.attached());
    }
}

TEST(UiChannel, TimeSlicesKeepOrderAndLetLowerPrioritySourcesRun) {
    Loop loop;
    std::vector<int> got;
    int dispatches = 0, idle_runs_during_backlog = 0;
    Channel::Options options;
    options.context = loop.context;
    options.slice = std::chrono::microseconds(1000);
    options.after_dispatch = [&] { ++dispatches; };
    auto [sender, receiver] = Channel::create(
        [&](int&& v) {
            got.push_back(v);
            g_usleep(100);  // a slow handler: about ten per slice
        },
        options);
    for (int i = 0; i < 200; ++i) sender.send(i);
    GSource* idle = g_idle_source_new();  // lowest priority: would starve without the pause
    g_source_set_callback(
        idle,
        +[](gpointer data) -> gboolean {
            auto* args = static_cast<std::pair<std::vector<int>*, int*>*>(data);
            if (args->first->size() < 200) ++*args->second;
            return G_SOURCE_CONTINUE;
        },
        new std::pair<std::vector<int>*, int*>(&got, &idle_runs_during_backlog),
        +[](gpointer data) { delete static_cast<std::pair<std::vector<int>*, int*>*>(data); });
    g_source_attach(idle, loop.context);
    sender = Channel::Sender();
    ASSERT_TRUE(loop.run_until([&] { return !receiver.attached(); }));
    g_source_destroy(idle);
    g_source_unref(idle);
    ASSERT_EQ(got.size(), 200u);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(got[i], i);
    EXPECT_GT(dispatches, 5);
    EXPECT_GT(idle_runs_during_backlog, 0);
}

TEST(UiChannel, WaitForRoomPacesAProducerUntilMessagesAreHandled) {
    Loop loop;
    std::atomic<int> handled{0};
    auto [sender, receiver] = Channel::create([&](int&&) { ++handled; }, loop.context);
    std::atomic<int> sent{0};
    std::thread producer([s = sender, &sent] {
        for (int i = 0; i < 100; ++i) {
            s.send(i);
            ++sent;
            s.wait_for_room(10);
        }
    });
    // Nobody handles messages yet: the producer runs up to the limit, then waits.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sent.load() < 11 && std::chrono::steady_clock::now() < deadline) g_usleep(1000);
    ASSERT_EQ(sent.load(), 11);
    g_usleep(50000);
    EXPECT_EQ(sent.load(), 11);
    ASSERT_TRUE(loop.run_until([&] { return handled == 100; }));
    producer.join();

    std::thread waiter([s = sender] {
        for (int i = 0; i < 20; ++i) s.send(i);
        s.wait_for_room(0);  // released by close, not by handling
    });
    g_usleep(20000);
    receiver.close();
    waiter.join();
}

TEST(UiChannel, DefaultSenderIsInert) {
    Channel::Sender none;
    EXPECT_FALSE(none.send(1));
    Channel::Sender copy = none;
    EXPECT_FALSE(copy.send(2));
}

}  // namespace
}  // namespace kelmora
