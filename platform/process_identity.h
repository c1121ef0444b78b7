// Identity and liveness of processes and threads, for objects that record
// their holder in shared memory.
//
// getpid() and gettid() are system calls in glibc; the lock paths of the named
// objects must make none when uncontended, so both are cached (and refreshed
// in a child after fork).
#pragma once

#include <cstdint>

namespace kalvo::platform::detail {

uint32_t currentPid() noexcept;
uint32_t currentTid() noexcept;

// False once the process has exited, also while it is a zombie that its
// parent has not reaped yet. A process of another user counts as alive.
bool processAlive(uint32_t pid) noexcept;
// The same for one thread (a thread id names exactly one live thread).
bool threadAlive(uint32_t tid) noexcept;

}  // namespace kalvo::platform::detail
