#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tasks/ui_channel.h"
#include "test_support.h"

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

TEST(UiChannel, DefaultSenderIsInert) {
    Channel::Sender none;
    EXPECT_FALSE(none.send(1));
    Channel::Sender copy = none;
    EXPECT_FALSE(copy.send(2));
}

}  // namespace
}  // namespace kelmora
