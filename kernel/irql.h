// The IRQL of the calling thread as the kernel interface reports it.
#pragma once

#include "kernel/wdm.h"

namespace kalvo::kernel {

KIRQL currentIrql() noexcept;
void setCurrentIrql(KIRQL irql) noexcept;

// Runs a scope at the given IRQL (the DPC and timer threads at
// DISPATCH_LEVEL, dispatch routines at PASSIVE_LEVEL).
class IrqlScope {
  public:
    explicit IrqlScope(KIRQL irql) noexcept : previous_(currentIrql()) { setCurrentIrql(irql); }
    ~IrqlScope() { setCurrentIrql(previous_); }
    IrqlScope(const IrqlScope&) = delete;
    IrqlScope& operator=(const IrqlScope&) = delete;

  private:
    KIRQL previous_;
};

}  // namespace kalvo::kernel
