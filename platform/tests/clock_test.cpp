// Time services: the millisecond tick, Sleep, timer periods and local time.
#include "platform/clock.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <ctime>
#include <thread>

using namespace kalvo::platform;

namespace {

long slackNow() {
    return ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
}

TEST(Clock, TickFollowsTheMonotonicClockAndSleepWaitsAtLeastItsTime) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint32_t expected = static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                              static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
    uint32_t t0 = timeGetTime();
    // Unsigned difference: correct across the 32-bit wrap.
    EXPECT_LE(t0 - expected, 1000u);
    EXPECT_LE(tickCount() - t0, 1000u);

    sleepMs(30);
    uint32_t elapsed = timeGetTime() - t0;
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 10000u);
    sleepMs(0);  // yields, returns
}

TEST(Clock, PeriodsNestAndTightenTimerSlackUntilTheLastEnd) {
    long before = slackNow();
    ASSERT_GE(before, 0);
    EXPECT_EQ(timeBeginPeriod(0), 97u);
    EXPECT_EQ(timeEndPeriod(0), 97u);
    EXPECT_EQ(timeEndPeriod(1), 0u);  // no period held: nothing to end
    EXPECT_EQ(slackNow(), before);

    EXPECT_EQ(timeBeginPeriod(1), 0u);
    EXPECT_EQ(slackNow(), 1000);
    EXPECT_EQ(timeBeginPeriod(1), 0u);

    // Another thread follows the period in its own sleeps.
    long inThread = -1;
    std::thread([&] {
        sleepMs(1);
        inThread = slackNow();
    }).join();
    EXPECT_EQ(inThread, 1000);

    EXPECT_EQ(timeEndPeriod(1), 0u);
    EXPECT_EQ(slackNow(), 1000);  // one period still held
    EXPECT_EQ(timeEndPeriod(1), 0u);
    EXPECT_EQ(slackNow(), before);
}

TEST(Clock, LocalTimeMatchesTheCLibrary) {
    SystemTime a = localTime();
    time_t now = time(nullptr);
    tm parts{};
    localtime_r(&now, &parts);
    SystemTime b = localTime();
    // Unless a second boundary passed between the calls, the fields agree.
    if (a.second == b.second) {
        EXPECT_EQ(a.year, parts.tm_year + 1900);
        EXPECT_EQ(a.month, parts.tm_mon + 1);
        EXPECT_EQ(a.day, parts.tm_mday);
        EXPECT_EQ(a.dayOfWeek, parts.tm_wday);
        EXPECT_EQ(a.hour, parts.tm_hour);
        EXPECT_EQ(a.minute, parts.tm_min);
    }
    EXPECT_LT(a.milliseconds, 1000);
    EXPECT_LE(a.second, 59);
}

}  // namespace
