// Which threads are inside a board window right now.
//
// When the device host of a board goes away, its window must stop reaching
// the board, and in the end it is replaced by memory that faults on any
// access (platform/device_loss.h), so that a pointer an application kept
// into the window cannot write to a board that a new host serves. No call of
// the library may fault on the way: an access that began before the loss
// must be over before the window goes.
//
// The GM calls need nothing of this: they access the window under the
// line's semaphores, which the retiring side takes once. The register and
// slot calls take no lock, and stay as cheap as they were: such a call marks
// its thread as inside with a plain store into a record of the thread's own,
// then checks the board's lost flag with one relaxed load, and marks the
// thread outside again when its accesses are done. The retiring side pays
// instead: it sets
// the flag, makes every thread of the process pass a full memory barrier
// (membarrier), then waits for each thread that was inside at that moment to
// leave. A thread that enters after the barrier sees the flag and does not
// touch the window. Where the system offers no such barrier, the caller is
// told and the window is never made inaccessible.
#pragma once

#include <atomic>
#include <cstdint>

namespace kalvo::boardlib {

struct WindowUser {
    // Odd while the thread is inside a window; only the thread writes it.
    std::atomic<uint32_t> sequence{0};
    std::atomic<bool> owned{true};  // false once its thread has ended
    WindowUser* next = nullptr;
};

// The calling thread's record, made (or taken over from an ended thread) on
// its first use. Kept in a thread-local pointer of the initial-exec model:
// one load at a fixed offset from the thread pointer, no call.
namespace detail {
[[gnu::tls_model("initial-exec")]] inline thread_local WindowUser* tWindowUser = nullptr;
WindowUser* registerWindowUser() noexcept;
}  // namespace detail

inline WindowUser* windowUser() noexcept {
    WindowUser* user = detail::tWindowUser;
    if (user == nullptr) [[unlikely]]
        user = detail::registerWindowUser();
    return user;
}

// One thread's accesses to a window, from the check of the lost flag to the
// last access.
class WindowUse {
  public:
    WindowUse() noexcept : user_(windowUser()) {
        user_->sequence.store(user_->sequence.load(std::memory_order_relaxed) + 1,
                              std::memory_order_relaxed);
        // The barrier is the retiring side's (membarrier); here only the
        // compiler must keep the order.
        std::atomic_signal_fence(std::memory_order_seq_cst);
    }
    ~WindowUse() {
        std::atomic_signal_fence(std::memory_order_seq_cst);
        user_->sequence.store(user_->sequence.load(std::memory_order_relaxed) + 1,
                              std::memory_order_release);
    }
    WindowUse(const WindowUse&) = delete;
    WindowUse& operator=(const WindowUse&) = delete;

  private:
    WindowUser* user_;
};

// At library load and unload.
void startWindowUsers() noexcept;
void endWindowUsers() noexcept;

// After a board's lost flag was set: returns once every access that may not
// have seen it is over. False when this system cannot tell (no membarrier).
bool waitForWindowUsers() noexcept;

}  // namespace kalvo::boardlib
