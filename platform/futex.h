// Futex calls on words in shared memory (shared futexes: the kernel keys them
// by file and offset, so they work across processes and across mappings).
#pragma once

#include <cstdint>

namespace kalvo::platform::detail {

// Sleeps while *word == expected, at most timeoutNs (< 0: no limit). Returns
// when woken, when the value differs, on a signal or on the time-out; callers
// re-check their condition.
void futexWait(uint32_t* word, uint32_t expected, int64_t timeoutNs) noexcept;
void futexWake(uint32_t* word, int count) noexcept;

// CLOCK_MONOTONIC in nanoseconds.
int64_t monotonicNs() noexcept;

// A deadline for a Windows time-out in milliseconds (INFINITE: none).
class Deadline {
  public:
    explicit Deadline(uint32_t timeoutMs) noexcept;
    bool infinite() const noexcept { return end_ < 0; }
    // Nanoseconds left, never below 0; capped at sliceNs (a wait that must
    // look at its object now and then sleeps in slices).
    int64_t remainingNs(int64_t sliceNs) const noexcept;
    bool expired() const noexcept;

  private:
    int64_t end_;
};

}  // namespace kalvo::platform::detail
