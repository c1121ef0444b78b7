#include "kernel/current_process.h"

namespace kalvo::kernel {

namespace {
thread_local CallerProcess* tlsCaller = nullptr;
}

CallerProcess* currentCaller() noexcept {
    return tlsCaller;
}

void setCurrentCaller(CallerProcess* caller) noexcept {
    tlsCaller = caller;
}

CallerScope::CallerScope(CallerProcess* caller) noexcept : previous_(tlsCaller) {
    tlsCaller = caller;
}

CallerScope::~CallerScope() {
    tlsCaller = previous_;
}

}  // namespace kalvo::kernel
