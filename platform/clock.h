// Time services: Sleep, the millisecond tick, timer resolution, local time.
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace kalvo::platform {

KALVO_PLATFORM_API void sleepMs(uint32_t ms) noexcept;

// timeGetTime / GetTickCount: milliseconds since boot, 32-bit, wrapping.
KALVO_PLATFORM_API uint32_t timeGetTime() noexcept;
KALVO_PLATFORM_API uint32_t tickCount() noexcept;

// timeBeginPeriod / timeEndPeriod: 0 (TIMERR_NOERROR) for 1 ms or more,
// 97 (TIMERR_NOCANDO) for 0; an end without a matching begin does nothing.
// While any period is held, sleeps run with a tight timer slack (1 µs); after
// the last end each thread gets its previous slack back (the ending thread at
// once, the others at their next sleepMs).
KALVO_PLATFORM_API uint32_t timeBeginPeriod(uint32_t periodMs) noexcept;
KALVO_PLATFORM_API uint32_t timeEndPeriod(uint32_t periodMs) noexcept;

// GetLocalTime.
struct SystemTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
KALVO_PLATFORM_API SystemTime localTime() noexcept;

}  // namespace kalvo::platform
