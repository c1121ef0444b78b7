#include "platform/clock.h"

#include <sched.h>
#include <sys/prctl.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>

namespace kalvo::platform {
namespace {

constexpr uint32_t TIMERR_NOERROR = 0;
constexpr uint32_t TIMERR_NOCANDO = 97;

// Timer slack while a period is held: the kernel may otherwise defer a
// sleeper's wake-up by up to 50 µs, so a loop of Sleep(1) would drift.
constexpr unsigned long kTightSlackNs = 1000;

// Timer slack is per thread on Linux, while a Windows period is process-wide.
// The thread that begins the first period tightens its own slack at once;
// every other thread tightens (and later restores) its own in sleepMs, the
// call that waits on a timer.
std::mutex gPeriodLock;
uint32_t gPeriodCount = 0;               // nested begin calls not yet ended
std::atomic<bool> gPeriodActive{false};  // gPeriodCount > 0, read without the lock

struct ThreadSlack {
    bool tightened = false;
    unsigned long saved = 0;  // the slack the thread had before
};
thread_local ThreadSlack tSlack;

void tightenThisThread() {
    if (tSlack.tightened) return;
    int current = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (current < 0) return;
    tSlack.saved = static_cast<unsigned long>(current);
    if (::prctl(PR_SET_TIMERSLACK, kTightSlackNs, 0, 0, 0) == 0) tSlack.tightened = true;
}

void restoreThisThread() {
    if (!tSlack.tightened) return;
    // A saved slack of 0 would mean "back to the default"; the thread had a
    // real value then, so it is set back exactly.
    (void)::prctl(PR_SET_TIMERSLACK, tSlack.saved, 0, 0, 0);
    tSlack.tightened = false;
}

void followPeriod() {
    if (gPeriodActive.load(std::memory_order_relaxed)) {
        tightenThisThread();
    } else if (tSlack.tightened) {
        restoreThisThread();
    }
}

}  // namespace

void sleepMs(uint32_t ms) noexcept {
    followPeriod();
    if (ms == 0) {
        // Sleep(0) gives up the rest of the time slice.
        sched_yield();
        return;
    }
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000u);
    deadline.tv_nsec += static_cast<long>(ms % 1000u) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    // An absolute deadline keeps signals from stretching the sleep.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

uint32_t timeGetTime() noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);  // wraps after 49.7 days, as on Windows
}

uint32_t tickCount() noexcept {
    return timeGetTime();
}

uint32_t timeBeginPeriod(uint32_t periodMs) noexcept {
    if (periodMs == 0) return TIMERR_NOCANDO;
    std::lock_guard<std::mutex> lock(gPeriodLock);
    if (gPeriodCount++ == 0) gPeriodActive.store(true, std::memory_order_relaxed);
    tightenThisThread();
    return TIMERR_NOERROR;
}

uint32_t timeEndPeriod(uint32_t periodMs) noexcept {
    if (periodMs == 0) return TIMERR_NOCANDO;
    std::lock_guard<std::mutex> lock(gPeriodLock);
    // An end without a matching begin changes nothing; the count never goes
    // below zero, so a later begin still tightens.
    if (gPeriodCount == 0) return TIMERR_NOERROR;
    if (--gPeriodCount == 0) {
        gPeriodActive.store(false, std::memory_order_relaxed);
        restoreThisThread();
    }
    return TIMERR_NOERROR;
}

SystemTime localTime() noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    time_t seconds = now.tv_sec;
    tm parts{};
    localtime_r(&seconds, &parts);
    SystemTime t{};
    t.year = static_cast<uint16_t>(parts.tm_year + 1900);
    t.month = static_cast<uint16_t>(parts.tm_mon + 1);
    t.dayOfWeek = static_cast<uint16_t>(parts.tm_wday);
    t.day = static_cast<uint16_t>(parts.tm_mday);
    t.hour = static_cast<uint16_t>(parts.tm_hour);
    t.minute = static_cast<uint16_t>(parts.tm_min);
    // A leap second (60) is shown as 59, the range of the Windows record.
    t.second = static_cast<uint16_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
    t.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000L);
    return t;
}

}  // namespace kalvo::platform
