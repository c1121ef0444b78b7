// Named mutexes: existence as an "already open" mark, thread ownership with
// recursion, and abandonment by a thread or a process that went away.
#include "platform/mutex.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "platform/tests/named_test_util.h"
#include "platform/win_error.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

using namespace kalvo::platform;
using kalvo::testing::awaitReady;
using kalvo::testing::IsolatedEnvironment;
using kalvo::testing::markReady;
using kalvo::testing::sleepForever;
using kalvo::testing::spawnChild;

namespace {

KALVO_CHILD(reportExistence) {
    auto mutex = Mutex::createOrOpen("Mail(1)Mutx");
    if (!mutex.valid()) return 2;
    return lastError() == ERROR_ALREADY_EXISTS ? 10 : 11;
}

TEST(NamedMutex, ExistenceIsSeenByOtherProcesses) {
    IsolatedEnvironment env;
    EXPECT_EQ(spawnChild("reportExistence").wait(), 11);
    {
        auto mutex = Mutex::createOrOpen("Mail(1)Mutx");
        ASSERT_TRUE(mutex.valid());
        EXPECT_TRUE(mutex.created());
        EXPECT_EQ(spawnChild("reportExistence").wait(), 10);
    }
    EXPECT_EQ(spawnChild("reportExistence").wait(), 11);
}

TEST(NamedMutex, OwnershipIsPerThreadAndRecursive) {
    IsolatedEnvironment env;
    auto mutex = Mutex::createOrOpen("Own", true);
    ASSERT_TRUE(mutex.valid());
    EXPECT_EQ(mutex.wait(0), WAIT_OBJECT_0);  // recursion on top of the initial ownership

    std::thread([&] {
        EXPECT_FALSE(mutex.release());
        EXPECT_EQ(lastError(), ERROR_NOT_OWNER);
        EXPECT_EQ(mutex.wait(20), WAIT_TIMEOUT);
    }).join();

    EXPECT_TRUE(mutex.release());
    EXPECT_TRUE(mutex.release());
    EXPECT_FALSE(mutex.release());
    EXPECT_EQ(lastError(), ERROR_NOT_OWNER);

    // initialOwner only counts for the creator.
    auto opened = Mutex::createOrOpen("Own", true);
    EXPECT_FALSE(opened.release());
    EXPECT_EQ(lastError(), ERROR_NOT_OWNER);

    // Another thread gets it once released; a waiter wakes on release.
    ASSERT_EQ(mutex.wait(0), WAIT_OBJECT_0);
    std::thread waiter([] {
        auto mine = Mutex::createOrOpen("Own");
        EXPECT_EQ(mine.wait(10000), WAIT_OBJECT_0);
        EXPECT_TRUE(mine.release());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(mutex.release());
    waiter.join();

    Mutex invalid;
    EXPECT_EQ(invalid.wait(0), WAIT_FAILED);
    EXPECT_FALSE(invalid.release());
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
}

TEST(NamedMutex, ThreadThatEndedOwningAbandonsIt) {
    IsolatedEnvironment env;
    auto mutex = Mutex::createOrOpen("Quit");
    std::thread([] {
        auto mine = Mutex::createOrOpen("Quit");
        EXPECT_EQ(mine.wait(), WAIT_OBJECT_0);
    }).join();
    EXPECT_EQ(mutex.wait(5000), WAIT_ABANDONED);
    EXPECT_EQ(mutex.wait(0), WAIT_OBJECT_0);  // ours now, recursively
    EXPECT_TRUE(mutex.release());
    EXPECT_TRUE(mutex.release());
}

KALVO_CHILD(ownAndHang) {
    auto mutex = Mutex::createOrOpen("Dead(1)Mutx", true);
    if (!mutex.valid()) return 2;
    markReady("owned");
    sleepForever();
    return 0;
}

TEST(NamedMutex, ProcessKilledOwningAbandonsIt) {
    IsolatedEnvironment env;
    auto child = spawnChild("ownAndHang");
    ASSERT_TRUE(awaitReady("owned"));
    auto mutex = Mutex::createOrOpen("Dead(1)Mutx");
    ASSERT_TRUE(mutex.valid());
    EXPECT_FALSE(mutex.created());
    EXPECT_EQ(mutex.wait(0), WAIT_TIMEOUT);

    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        child.kill(SIGKILL);
    });
    EXPECT_EQ(mutex.wait(10000), WAIT_ABANDONED);
    killer.join();
    EXPECT_TRUE(mutex.release());
    EXPECT_EQ(mutex.wait(0), WAIT_OBJECT_0);
    EXPECT_TRUE(mutex.release());
}

}  // namespace
