#include "kernel/kernel_time.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>

namespace kalvo::kernel {

namespace {
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600LL;
}  // namespace

int64_t monotonicNs() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

int64_t systemTime100ns() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (int64_t(ts.tv_sec) + kEpochDifference) * 10000000LL + ts.tv_nsec / 100;
}

int64_t deadlineFromDueTime(int64_t dueTime) noexcept {
    int64_t now = monotonicNs();
    if (dueTime < 0) {
        // Relative; a due time so far away that it overflows never expires
        // in practice, so clamp it.
        if (dueTime < INT64_MIN / 100 + 1) return INT64_MAX;
        int64_t delta = -dueTime * 100;
        return delta > INT64_MAX - now ? INT64_MAX : now + delta;
    }
    int64_t delta100 = dueTime - systemTime100ns();
    if (delta100 <= 0) return now;
    if (delta100 > (INT64_MAX - now) / 100) return INT64_MAX;
    return now + delta100 * 100;
}

void futexWait(volatile int32_t* word, int32_t expected, int64_t deadlineNs) noexcept {
    timespec ts{};
    timespec* timeout = nullptr;
    if (deadlineNs >= 0 && deadlineNs != INT64_MAX) {
        ts.tv_sec = deadlineNs / 1000000000LL;
        ts.tv_nsec = deadlineNs % 1000000000LL;
        timeout = &ts;
    }
    // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC deadline.
    syscall(SYS_futex, const_cast<int32_t*>(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected,
            timeout, nullptr, FUTEX_BITSET_MATCH_ANY);
}

void futexWakeAll(volatile int32_t* word) noexcept {
    syscall(SYS_futex, const_cast<int32_t*>(word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, INT_MAX,
            nullptr, nullptr, 0);
}

}  // namespace kalvo::kernel
