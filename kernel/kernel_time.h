// Time bases of the kernel: the host's monotonic clock for deadlines, and
// the system time in 100 ns units since 1601 that absolute kernel times use.
#pragma once

#include <cstdint>

namespace kalvo::kernel {

int64_t monotonicNs() noexcept;
// 100 ns units since 1601-01-01 UTC.
int64_t systemTime100ns() noexcept;
// A kernel due time (negative: relative, 100 ns units; otherwise an
// absolute system time) as a monotonic deadline in nanoseconds.
int64_t deadlineFromDueTime(int64_t dueTime) noexcept;

// Sleeps while *word == expected, until deadlineNs (monotonic; < 0 none).
void futexWait(volatile int32_t* word, int32_t expected, int64_t deadlineNs) noexcept;
void futexWakeAll(volatile int32_t* word) noexcept;

}  // namespace kalvo::kernel
