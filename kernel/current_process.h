// The process a request is served for ("the context of the calling
// process"): set by the I/O manager around the dispatch of a client request,
// null on system threads.
#pragma once

#include "kernel/export.h"

#include "kernel/device_backend.h"

namespace kalvo::kernel {

KALVO_KERNEL_API CallerProcess* currentCaller() noexcept;
// For KeStackAttachProcess: the thread serves caller until set back.
KALVO_KERNEL_API void setCurrentCaller(CallerProcess* caller) noexcept;

class KALVO_KERNEL_API CallerScope {
  public:
    explicit CallerScope(CallerProcess* caller) noexcept;
    ~CallerScope();
    CallerScope(const CallerScope&) = delete;
    CallerScope& operator=(const CallerScope&) = delete;

  private:
    CallerProcess* previous_;
};

}  // namespace kalvo::kernel
