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

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/export.h"
#include "platform/wait.h"

namespace kalvo::platform {

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
    uint32_t wait(uint32_t timeoutMs = INFINITE) noexcept;
    // Adds count (ReleaseSemaphore); false with ERROR_TOO_MANY_POSTS when the
    // maximum would be exceeded (nothing changes then).
    bool release(int32_t count = 1, int32_t* previous = nullptr) noexcept;

    void close() noexcept;  // CloseHandle; idempotent

  private:
    struct Impl;
    // Closing releases the shared object (ImplClose is the last close of this handle).
    struct ImplClose {
        void operator()(Impl* impl) const noexcept;
    };
    std::unique_ptr<Impl, ImplClose> impl_;
    bool created_ = false;
};

}  // namespace kalvo::platform
