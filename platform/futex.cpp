#include "platform/futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "platform/wait.h"

namespace kalvo::platform::detail {

void futexWait(uint32_t* word, uint32_t expected, int64_t timeoutNs) noexcept {
    timespec ts{};
    timespec* tsp = nullptr;
    if (timeoutNs >= 0) {
        ts.tv_sec = static_cast<time_t>(timeoutNs / 1000000000);
        ts.tv_nsec = static_cast<long>(timeoutNs % 1000000000);
        tsp = &ts;
    }
    ::syscall(SYS_futex, word, FUTEX_WAIT, expected, tsp, nullptr, 0);
}

void futexWake(uint32_t* word, int count) noexcept {
    ::syscall(SYS_futex, word, FUTEX_WAKE, count, nullptr, nullptr, 0);
}

int64_t monotonicNs() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

Deadline::Deadline(uint32_t timeoutMs) noexcept
    : end_(timeoutMs == INFINITE ? -1 : monotonicNs() + int64_t{timeoutMs} * 1000000) {}

int64_t Deadline::remainingNs(int64_t sliceNs) const noexcept {
    if (end_ < 0) return sliceNs;
    return std::clamp<int64_t>(end_ - monotonicNs(), 0, sliceNs);
}

bool Deadline::expired() const noexcept {
    return end_ >= 0 && monotonicNs() >= end_;
}

}  // namespace kalvo::platform::detail
