// Named event with Windows lifetime, and wait-for-any across processes.
//
// A wait-for-any over several events wakes within 1 ms of a set in any process.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "platform/export.h"
#include "platform/wait.h"

namespace kalvo::platform {

class KALVO_PLATFORM_API Event {
  public:
    Event() noexcept;
    ~Event();
    Event(Event&&) noexcept;
    Event& operator=(Event&&) noexcept;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Create or open (CreateEvent). An empty name makes a process-private event.
    // Manual reset: stays set until reset. Auto reset: a released wait clears it.
    // Last error as for Semaphore::createOrOpen.
    static Event createOrOpen(std::string_view name, bool manualReset, bool initialState);

    bool valid() const noexcept { return impl_ != nullptr; }
    explicit operator bool() const noexcept { return valid(); }
    bool created() const noexcept { return created_; }

    bool set() noexcept;
    bool reset() noexcept;
    bool isSet() const noexcept;
    // WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
    uint32_t wait(uint32_t timeoutMs = INFINITE) noexcept;

    void close() noexcept;

    struct Impl;

  private:
    // Closing releases the shared object (ImplClose is the last close of this handle).
    struct ImplClose {
        void operator()(Impl* impl) const noexcept;
    };
    std::unique_ptr<Impl, ImplClose> impl_;
    bool created_ = false;
    friend uint32_t waitForAny(std::span<Event* const>, uint32_t) noexcept;
};

// WaitForMultipleObjects(bWaitAll = FALSE): WAIT_OBJECT_0 + index of the
// lowest-indexed set event, WAIT_TIMEOUT, or WAIT_FAILED (empty list, more
// than 64 events, or an invalid event).
KALVO_PLATFORM_API uint32_t waitForAny(std::span<Event* const> events, uint32_t timeoutMs) noexcept;

}  // namespace kalvo::platform
