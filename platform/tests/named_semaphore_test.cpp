// Named semaphores: exclusion across processes and threads, counting and its
// limits, and the lock whose holder died.
#include "platform/semaphore.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/page_file_map.h"
#include "platform/tests/named_test_util.h"
#include "platform/win_error.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

using namespace kalvo::platform;
using kalvo::testing::awaitReady;
using kalvo::testing::IsolatedEnvironment;
using kalvo::testing::markReady;
using kalvo::testing::nowNs;
using kalvo::testing::sleepForever;
using kalvo::testing::spawnChild;

namespace {

// Shared between the processes of a test, in a page-file map.
struct Shared {
    uint32_t started;
    uint32_t inside;
    uint64_t counter;
    uint64_t overlaps;
    uint64_t handoffs;
    uint32_t lastHolder;
    int64_t acquiredAtNs;
};

// Keeps a party busy for a little while, so that inside the lock a wrong
// interleaving has time to show, and outside it the others get their turn.
void spin(int n) {
    for (int i = 0; i < n; ++i) asm volatile("" ::: "memory");
}

std::atomic_ref<uint32_t> ref32(uint32_t& v) {
    return std::atomic_ref<uint32_t>(v);
}
std::atomic_ref<uint64_t> ref64(uint64_t& v) {
    return std::atomic_ref<uint64_t>(v);
}

// One pass through the critical section: the flag shows any overlap, and the
// counter is a plain read-then-write, so a lost update shows a broken lock.
// Counts how often the lock changed hands between parties (logged, so a run
// that never contended is visible).
void criticalSection(Shared& s, uint32_t party) {
    if (ref32(s.inside).exchange(1, std::memory_order_relaxed) != 0)
        ref64(s.overlaps).fetch_add(1, std::memory_order_relaxed);
    if (ref32(s.lastHolder).exchange(party, std::memory_order_relaxed) != party)
        ref64(s.handoffs).fetch_add(1, std::memory_order_relaxed);
    auto counter = ref64(s.counter);
    uint64_t value = counter.load(std::memory_order_relaxed);
    spin(50);
    counter.store(value + 1, std::memory_order_relaxed);
    ref32(s.inside).store(0, std::memory_order_relaxed);
}

KALVO_CHILD(countUnderLock) {
    auto sem = Semaphore::createOrOpen("Count(1)Smph", 1, 1);
    auto map = PageFileMap::createOrOpen("Count(1).Map", sizeof(Shared));
    if (!sem.valid() || !map.valid()) return 2;
    auto& s = *static_cast<Shared*>(map.data());
    const int parties = std::stoi(args.at(1));
    ref32(s.started).fetch_add(1);
    while (ref32(s.started).load() < static_cast<uint32_t>(parties)) std::this_thread::yield();
    const int rounds = std::stoi(args.at(0));
    for (int i = 0; i < rounds; ++i) {
        if (sem.wait() != WAIT_OBJECT_0) return 3;
        criticalSection(s, static_cast<uint32_t>(getpid()));
        if (!sem.release()) return 4;
        spin(3000);
    }
    return 0;
}

TEST(NamedSemaphore, TwoProcessesNeverOverlap) {
    IsolatedEnvironment env;
    constexpr int kRounds = 100000;
    auto map = PageFileMap::createOrOpen("Count(1).Map", sizeof(Shared));
    ASSERT_TRUE(map.valid());
    auto a = spawnChild("countUnderLock", {std::to_string(kRounds), "2"});
    auto b = spawnChild("countUnderLock", {std::to_string(kRounds), "2"});
    EXPECT_EQ(a.wait(std::chrono::minutes(4)), 0);
    EXPECT_EQ(b.wait(std::chrono::minutes(4)), 0);
    auto& s = *static_cast<Shared*>(map.data());
    EXPECT_EQ(s.counter, 2u * kRounds);
    EXPECT_EQ(s.overlaps, 0u);
    std::printf("the lock changed hands between the processes %llu times\n",
                static_cast<unsigned long long>(s.handoffs));
}

TEST(NamedSemaphore, ThreadsWithTheirOwnHandlesNeverOverlap) {
    IsolatedEnvironment env;
    constexpr int kThreads = 4, kRounds = 20000;
    Shared s{};
    uint64_t plain = 0;  // unguarded but for the semaphore: the race detector checks it
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            auto sem = Semaphore::createOrOpen("Threads(1)Smph", 1, 1);
            ASSERT_TRUE(sem.valid());
            for (int i = 0; i < kRounds; ++i) {
                ASSERT_EQ(sem.wait(), WAIT_OBJECT_0);
                criticalSection(s, static_cast<uint32_t>(t + 1));
                ++plain;
                ASSERT_TRUE(sem.release());
                spin(3000);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(s.overlaps, 0u);
    EXPECT_EQ(s.counter, uint64_t{kThreads} * kRounds);
    EXPECT_EQ(plain, uint64_t{kThreads} * kRounds);
}

TEST(NamedSemaphore, CountingLimitsAndArguments) {
    IsolatedEnvironment env;
    for (auto [initial, maximum] : {std::pair{-1, 1}, {2, 1}, {0, 0}, {1, -5}}) {
        EXPECT_FALSE(Semaphore::createOrOpen("Bad", initial, maximum).valid());
        EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
    }

    auto sem = Semaphore::createOrOpen("Counting", 0, 3);
    ASSERT_TRUE(sem.valid());
    EXPECT_EQ(sem.wait(0), WAIT_TIMEOUT);
    int32_t previous = -1;
    EXPECT_TRUE(sem.release(2, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(sem.release(2, &previous));
    EXPECT_EQ(lastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_FALSE(sem.release(0));
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(sem.release(INT32_MAX));
    EXPECT_TRUE(sem.release(1, &previous));
    EXPECT_EQ(previous, 2);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(sem.wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(sem.wait(0), WAIT_TIMEOUT);

    // Opening keeps the existing counts, whatever the caller asks for.
    auto again = Semaphore::createOrOpen("Counting", 3, 3);
    ASSERT_TRUE(again.valid());
    EXPECT_EQ(lastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(again.wait(0), WAIT_TIMEOUT);

    auto lock = Semaphore::createOrOpen("Lock", 1, 1);
    EXPECT_FALSE(lock.release());  // free already
    EXPECT_EQ(lastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_EQ(lock.wait(0), WAIT_OBJECT_0);
    EXPECT_FALSE(lock.release(2));
    EXPECT_EQ(lastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_TRUE(lock.release(1, &previous));
    EXPECT_EQ(previous, 0);

    Semaphore invalid;
    EXPECT_EQ(invalid.wait(0), WAIT_FAILED);
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(invalid.release());
}

// The uncontended lock path is inline in every library that takes a lock:
// the handle it reads must follow moves and closes, and the holder it
// records must be the process that takes the lock, also in a child forked
// without exec (which inherits the parent's cached process id).
TEST(NamedSemaphore, InlineLockPathFollowsHandlesAndRecordsTheRightHolder) {
    IsolatedEnvironment env;
    auto first = Semaphore::createOrOpen("Inline(1)Smph", 1, 1);
    ASSERT_TRUE(first.valid());
    Semaphore moved = std::move(first);
    EXPECT_EQ(first.wait(0), WAIT_FAILED);
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(first.release());
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(moved.wait(0), WAIT_OBJECT_0);
    Semaphore assigned;
    assigned = std::move(moved);
    EXPECT_EQ(moved.wait(0), WAIT_FAILED);
    EXPECT_TRUE(assigned.release());  // the lock taken through the handle before its move
    EXPECT_FALSE(assigned.release());
    EXPECT_EQ(lastError(), ERROR_TOO_MANY_POSTS);

    // A forked child takes the lock and dies holding it: the record names
    // the child, so this process takes the lock over. Had it named this
    // process, the wait would see its own id and time out.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(assigned.wait(0) == WAIT_OBJECT_0 ? 0 : 1);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(assigned.wait(10000), WAIT_OBJECT_0);
    EXPECT_TRUE(assigned.release());

    assigned.close();
    EXPECT_EQ(assigned.wait(0), WAIT_FAILED);
    EXPECT_FALSE(assigned.release());
}

TEST(NamedSemaphore, WaitsTimeOutAndWakeOnRelease) {
    IsolatedEnvironment env;
    auto taken = Semaphore::createOrOpen("Taken", 0, 1);  // taken, and nobody owns it
    ASSERT_TRUE(taken.valid());
    int64_t t0 = nowNs();
    EXPECT_EQ(taken.wait(30), WAIT_TIMEOUT);
    int64_t waited = nowNs() - t0;
    EXPECT_GE(waited, 29'000'000);
    EXPECT_LT(waited, 5'000'000'000);

    for (int32_t maximum : {1, 5}) {
        auto sem = Semaphore::createOrOpen("Wake" + std::to_string(maximum), 0, maximum);
        std::atomic<int> woken{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 2; ++i)
            waiters.emplace_back([&] {
                auto mine = Semaphore::createOrOpen("Wake" + std::to_string(maximum), 0, maximum);
                if (mine.wait(10000) == WAIT_OBJECT_0) ++woken;
                if (maximum == 1) mine.release();
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(woken.load(), 0);
        EXPECT_TRUE(sem.release(1));
        if (maximum > 1) {
            EXPECT_TRUE(sem.release(1));
        }
        for (auto& t : waiters) t.join();
        EXPECT_EQ(woken.load(), 2) << "maximum " << maximum;
    }
}

KALVO_CHILD(takeAndHang) {
    auto sem = Semaphore::createOrOpen("Dead(1)Smph", 1, 1);
    if (!sem.valid() || sem.wait() != WAIT_OBJECT_0) return 2;
    markReady("taken");
    sleepForever();
    return 0;
}

KALVO_CHILD(waitAndStamp) {
    auto sem = Semaphore::createOrOpen("Dead(1)Smph", 1, 1);
    auto map = PageFileMap::createOrOpen("Dead(1).Map", sizeof(Shared));
    if (!sem.valid() || !map.valid()) return 2;
    markReady("waiting");
    if (sem.wait() != WAIT_OBJECT_0) return 3;
    static_cast<Shared*>(map.data())->acquiredAtNs = nowNs();
    return sem.release() ? 0 : 4;
}

// The holder is killed and, in the worse case, left unreaped (a zombie still
// answers kill(pid, 0)). A waiter asleep in another process takes over.
TEST(NamedSemaphore, DeadHolderDoesNotWedgeOthers) {
    IsolatedEnvironment env;
    auto map = PageFileMap::createOrOpen("Dead(1).Map", sizeof(Shared));
    auto sem = Semaphore::createOrOpen("Dead(1)Smph", 1, 1);
    ASSERT_TRUE(map.valid() && sem.valid());
    for (bool reap : {false, true}) {
        auto holder = spawnChild("takeAndHang");
        ASSERT_TRUE(awaitReady("taken"));
        auto waiter = spawnChild("waitAndStamp");
        ASSERT_TRUE(awaitReady("waiting"));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // asleep in wait()
        EXPECT_TRUE(waiter.running());

        int64_t killedAt = nowNs();
        if (reap) {
            holder.kill(SIGKILL);
        } else {
            ::kill(holder.pid(), SIGKILL);
        }
        EXPECT_EQ(waiter.wait(std::chrono::seconds(30)), 0);
        double ms = (static_cast<Shared*>(map.data())->acquiredAtNs - killedAt) / 1e6;
        std::printf("takeover after the holder died (%s): %.1f ms\n", reap ? "reaped" : "zombie",
                    ms);
        EXPECT_LT(ms, 5000.0);  // generous: sanitizer builds on a loaded machine

        // And this process gets it afterwards too.
        EXPECT_EQ(sem.wait(5000), WAIT_OBJECT_0);
        EXPECT_TRUE(sem.release());
        holder.kill(SIGKILL);
        std::remove("taken");
        std::remove("waiting");
    }
}

}  // namespace
