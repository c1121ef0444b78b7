// Named counting semaphore with Windows lifetime.
//
// The object lives while any process holds a handle to it and disappears with
// its last holder, also when holders are killed. Waits and releases that find
// the semaphore uncontended make no system call (an atomic count in the shared
// object; waiters sleep on a futex).
//
// A semaphore of maximum count 1 is used as a cross-process lock throughout
// the stack. Its holder's process is recorded, and a waiter that finds the
// holder dead takes the lock over within 100 ms. (Windows would leave such a
// semaphore taken forever and wedge every program on the machine.)
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/export.h"
#include "platform/wait.h"

namespace kalvo::platform {

namespace detail {
// This process's id, cached at load and refreshed in a child after fork
// (process_identity.cpp); 0 until the platform library is initialised.
KALVO_PLATFORM_API extern std::atomic<uint32_t> gProcessId;
}  // namespace detail

class KALVO_PLATFORM_API Semaphore {
  public:
    Semaphore() noexcept;  // holds nothing
    ~Semaphore();
    Semaphore(Semaphore&&) noexcept;
    Semaphore& operator=(Semaphore&&) noexcept;
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Create or open (CreateSemaphore). An empty name makes a process-private
    // semaphore. Sets the last error to ERROR_ALREADY_EXISTS when it existed
    // (initial and maximum are then those of the existing object), to
    // ERROR_SUCCESS when created; on failure returns an invalid object with
    // the reason in the last error. 0 <= initial <= maximum, maximum >= 1.
    static Semaphore createOrOpen(std::string_view name, int32_t initial, int32_t maximum);

    bool valid() const noexcept { return impl_ != nullptr; }
    explicit operator bool() const noexcept { return valid(); }
    bool created() const noexcept { return created_; }

    // WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
    //
    // A free lock is taken here, inline, by one compare-exchange that stores
    // this process's id as the holder record (what lets a waiter take the
    // lock over from a killed holder); everything else, sleeping and the
    // takeover included, is the out-of-line path.
    uint32_t wait(uint32_t timeoutMs = INFINITE) noexcept {
        if (lockWord_ != nullptr) [[likely]] {
            const uint32_t me = detail::gProcessId.load(std::memory_order_relaxed);
            uint32_t expected = 0;
            if (me != 0 && std::atomic_ref<uint32_t>(*lockWord_)
                               .compare_exchange_strong(expected, me, std::memory_order_acquire,
                                                        std::memory_order_relaxed))
                return WAIT_OBJECT_0;
        }
        return waitSlow(timeoutMs);
    }
    // Adds count (ReleaseSemaphore); false with ERROR_TOO_MANY_POSTS when the
    // maximum would be exceeded (nothing changes then).
    //
    // A lock released by one with nobody asleep on it is done inline; a
    // wake-up and every error are the out-of-line path.
    bool release(int32_t count = 1, int32_t* previous = nullptr) noexcept {
        if (lockWord_ != nullptr && count == 1) [[likely]] {
            const uint32_t holder = std::atomic_ref<uint32_t>(*lockWord_).exchange(0);
            if (holder != 0 && std::atomic_ref<uint32_t>(*lockWaiters_).load() == 0) [[likely]] {
                if (previous) *previous = 0;
                return true;
            }
            return finishLockRelease(holder, previous);
        }
        return releaseSlow(count, previous);
    }

    void close() noexcept;  // CloseHandle; idempotent

  private:
    uint32_t waitSlow(uint32_t timeoutMs) noexcept;
    bool releaseSlow(int32_t count, int32_t* previous) noexcept;
    // After the inline exchange of a lock's word: holder is what it held.
    bool finishLockRelease(uint32_t holder, int32_t* previous) noexcept;

    struct Impl;
    // Closing releases the shared object (ImplClose is the last close of this handle).
    struct ImplClose {
        void operator()(Impl* impl) const noexcept;
    };
    std::unique_ptr<Impl, ImplClose> impl_;
    // The lock's word and sleeper count in the shared object, for the inline
    // paths; null unless this is an open semaphore of maximum 1.
    uint32_t* lockWord_ = nullptr;
    uint32_t* lockWaiters_ = nullptr;
    bool created_ = false;
};

}  // namespace kalvo::platform
