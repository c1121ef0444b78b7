// Threads: running and suspended creation, resume counts, waits with a
// time-out, exit codes and what closing a handle does.
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "platform/win_error.h"

using namespace kalvo::platform;

namespace {

// Polls until pred holds; a generous bound keeps a broken build from hanging.
template <typename Pred>
bool eventually(Pred pred) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(Thread, RunsTheBodyAndKeepsItsExitCode) {
    Thread t = Thread::create([] { return 7u; });
    ASSERT_TRUE(t.valid());
    EXPECT_EQ(t.wait(), WAIT_OBJECT_0);
    EXPECT_EQ(t.exitCode(), 7u);
    EXPECT_EQ(t.wait(0), WAIT_OBJECT_0);  // stays signalled
    EXPECT_EQ(t.resume(), 0);             // a running thread has count 0
}

TEST(Thread, SuspendedThreadStartsOnResume) {
    std::atomic<bool> ran{false};
    Thread t = Thread::create(
        [&] {
            ran = true;
            return 3u;
        },
        true);
    ASSERT_TRUE(t.valid());
    EXPECT_EQ(t.wait(20), WAIT_TIMEOUT);
    EXPECT_FALSE(ran);
    EXPECT_EQ(t.exitCode(), STILL_ACTIVE);
    EXPECT_EQ(t.resume(), 1);
    EXPECT_EQ(t.resume(), 0);
    EXPECT_EQ(t.wait(), WAIT_OBJECT_0);
    EXPECT_TRUE(ran);
    EXPECT_EQ(t.exitCode(), 3u);
}

TEST(Thread, WaitTimesOutWhileTheBodyRuns) {
    std::promise<void> go;
    std::shared_future<void> gate = go.get_future().share();
    Thread t = Thread::create([gate] {
        gate.wait();
        return 0u;
    });
    EXPECT_EQ(t.wait(10), WAIT_TIMEOUT);
    EXPECT_EQ(t.exitCode(), STILL_ACTIVE);
    go.set_value();
    EXPECT_EQ(t.wait(INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(t.exitCode(), 0u);
}

TEST(Thread, TheBodyKnowsItIsCurrent) {
    Thread* self = nullptr;
    Thread t = Thread::create([&self] { return self->isCurrent() ? 1u : 2u; }, true);
    self = &t;
    EXPECT_FALSE(t.isCurrent());
    t.resume();
    t.wait();
    EXPECT_EQ(t.exitCode(), 1u);
}

TEST(Thread, ClosingAHandleLetsTheThreadRunToItsEnd) {
    // A running thread goes on after its handle is closed.
    std::promise<void> go;
    std::shared_future<void> gate = go.get_future().share();
    std::atomic<bool> runningDone{false};
    {
        Thread t = Thread::create([gate, &runningDone] {
            gate.wait();
            runningDone = true;
            return 0u;
        });
        ASSERT_TRUE(t.valid());
    }
    go.set_value();
    EXPECT_TRUE(eventually([&] { return runningDone.load(); }));

    // A suspended thread that was never resumed is started by the close.
    std::atomic<bool> suspendedDone{false};
    Thread s = Thread::create(
        [&suspendedDone] {
            suspendedDone = true;
            return 0u;
        },
        true);
    s.close();
    EXPECT_FALSE(s.valid());
    EXPECT_TRUE(eventually([&] { return suspendedDone.load(); }));
}

TEST(Thread, InvalidAndMovedHandles) {
    Thread none;
    setLastError(0);
    EXPECT_EQ(none.resume(), -1);
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(none.wait(0), WAIT_FAILED);
    EXPECT_FALSE(none.isCurrent());
    none.close();  // harmless
    EXPECT_FALSE(Thread::create(nullptr).valid());

    Thread a = Thread::create([] { return 5u; });
    Thread b = std::move(a);
    EXPECT_FALSE(a.valid());  // NOLINT(bugprone-use-after-move): the point
    EXPECT_EQ(b.wait(), WAIT_OBJECT_0);
    Thread c = Thread::create([] { return 6u; });
    c = std::move(b);
    EXPECT_EQ(c.exitCode(), 5u);
}

TEST(Thread, ManyThreadsAtOnce) {
    std::atomic<uint32_t> sum{0};
    std::vector<Thread> threads;
    for (uint32_t i = 1; i <= 32; ++i) {
        threads.push_back(Thread::create(
            [i, &sum] {
                sum += i;
                return i;
            },
            i % 2 == 0));
    }
    for (Thread& t : threads) t.resume();
    for (uint32_t i = 0; i < threads.size(); ++i) {
        EXPECT_EQ(threads[i].wait(), WAIT_OBJECT_0);
        EXPECT_EQ(threads[i].exitCode(), i + 1);
    }
    EXPECT_EQ(sum.load(), 32u * 33u / 2u);
}

}  // namespace
