// A machine-wide named semaphore of count 1 used as a lock: every process
// that opens a unit of the same family and number shares it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/semaphore.h"

namespace kalvo::api {

class NamedSemaphore {
  public:
    // Creates or opens the semaphore (initial and maximum count 1); false
    // when there is no handle.
    bool create(const std::string& name);
    // No time limit. Inline: an uncontended take is a compare-exchange.
    void wait() noexcept {
        if (semaphore_.valid()) semaphore_.wait();
    }
    // True when taken within the time; a caller that must notice something
    // else while it waits (a unit being closed) waits in slices.
    bool waitFor(uint32_t timeoutMs) noexcept;
    void release() noexcept {  // by one
        if (semaphore_.valid()) semaphore_.release(1);
    }
    void close() noexcept;  // forgets the handle
    bool valid() const noexcept { return semaphore_.valid(); }
    const std::string& name() const noexcept { return name_; }

  private:
    std::string name_;
    platform::Semaphore semaphore_;
};

// Holds the semaphore for a scope.
class SemaphoreHold {
  public:
    explicit SemaphoreHold(NamedSemaphore& s) noexcept : s_(s) { s_.wait(); }
    ~SemaphoreHold() { s_.release(); }
    SemaphoreHold(const SemaphoreHold&) = delete;
    SemaphoreHold& operator=(const SemaphoreHold&) = delete;

  private:
    NamedSemaphore& s_;
};

}  // namespace kalvo::api
