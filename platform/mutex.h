// Named mutex with Windows lifetime and ownership.
//
// Owned by a thread, recursive; a mutex whose owner's process died is taken
// with WAIT_ABANDONED. The stack mostly uses its existence (ERROR_ALREADY_EXISTS
// on create) as a cross-process "already open" mark.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/export.h"
#include "platform/wait.h"

namespace kalvo::platform {

class KALVO_PLATFORM_API Mutex {
  public:
    Mutex() noexcept;
    ~Mutex();
    Mutex(Mutex&&) noexcept;
    Mutex& operator=(Mutex&&) noexcept;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Create or open (CreateMutex). initialOwner takes ownership only when this
    // call created it. Last error: ERROR_ALREADY_EXISTS when it existed,
    // ERROR_SUCCESS when created; invalid object and the reason on failure.
    static Mutex createOrOpen(std::string_view name, bool initialOwner = false);

    bool valid() const noexcept { return impl_ != nullptr; }
    explicit operator bool() const noexcept { return valid(); }
    bool created() const noexcept { return created_; }

    // WAIT_OBJECT_0, WAIT_ABANDONED (owner died; now ours), WAIT_TIMEOUT, WAIT_FAILED.
    uint32_t wait(uint32_t timeoutMs = INFINITE) noexcept;
    // false with ERROR_NOT_OWNER when the calling thread does not own it.
    bool release() noexcept;

    void close() noexcept;

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
