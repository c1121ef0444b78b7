// Threads with Windows semantics: created running or suspended, resumed,
// waited for with a time-out, and an exit code.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/export.h"
#include "platform/wait.h"

namespace kalvo::platform {

inline constexpr uint32_t STILL_ACTIVE = 259;

class KALVO_PLATFORM_API Thread {
  public:
    using Body = std::function<uint32_t()>;

    Thread() noexcept;
    // Destroying a thread object closes the handle: a running thread goes on
    // and is detached; a suspended one that was never resumed is resumed and
    // runs to its end.
    ~Thread();
    Thread(Thread&&) noexcept;
    Thread& operator=(Thread&&) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // CreateThread; suspended threads start with resume(). Invalid on failure.
    static Thread create(Body body, bool suspended = false);

    bool valid() const noexcept { return impl_ != nullptr; }
    // ResumeThread: the previous suspend count (1 on the first resume of a
    // suspended thread, 0 for a running one), or -1 on an invalid thread.
    int32_t resume() noexcept;
    // WAIT_OBJECT_0 once the body returned, else WAIT_TIMEOUT / WAIT_FAILED.
    uint32_t wait(uint32_t timeoutMs = INFINITE) noexcept;
    // GetExitCodeThread: STILL_ACTIVE while running, then the body's result.
    uint32_t exitCode() const noexcept;
    // The body's thread, from the inside: true when this is it.
    bool isCurrent() const noexcept;

    void close() noexcept;

  private:
    struct Impl;
    Impl* impl_ = nullptr;
};

}  // namespace kalvo::platform
