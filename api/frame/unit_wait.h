// Waits for a remote unit, shared by the families (and the line start).
//
// Every wait for a unit is bounded by a time per unit scaled by its board
// line's "TimeOutTimes": 200 ms for a command reply, 100 ms for a serial
// handshake, 10 ms for a serial settle, 20 ms after a line start. The value
// comes from Kalvo.ini as written, so it can be anything a 32-bit integer
// holds; the product is taken in 64 bits and bounded here, once.
//
// A wait looks at the unit, sleeps 1 ms (KV_BeginPeriod makes that 1 ms)
// and looks again until the look is satisfied, fails or the limit passes;
// what a look finds counts before the time does.
// A look that fails (a board call's code, or the caller giving up) ends the
// wait at once with that code: a board that cannot be read does not start
// answering by being asked again.
#pragma once

#include <cstdint>
#include <optional>

#include "kalvo/kalvo.h"
#include "platform/clock.h"

namespace kalvo::api {

// perUnitMs times the multiplier in milliseconds. A multiplier of 0 or less
// (a bad "TimeOutTimes") gives 0: the unit is looked at, not waited for,
// rather than a limit that wraps to weeks. A product beyond the 32-bit millisecond timer stops
// at its range, where a wait ends only with its unit's answer.
constexpr uint32_t waitLimitMs(int32_t timeOutTimes, uint32_t perUnitMs) noexcept {
    const int64_t ms = int64_t{timeOutTimes} * perUnitMs;
    return ms <= 0 ? 0u : ms >= int64_t{UINT32_MAX} ? UINT32_MAX : static_cast<uint32_t>(ms);
}

// What one look at the unit found: nothing yet (keep waiting), or the end
// of the wait with its code (0 when the unit did what was waited for).
using UnitLook = std::optional<int32_t>;
inline constexpr UnitLook kKeepWaiting = std::nullopt;

// Looks until look() ends the wait, or gives KALVO_ERR_TIMEOUT when a look
// finds nothing once more than limitMs have passed since the first one.
template <typename Look>
int32_t waitForUnit(uint32_t limitMs, Look&& look) {
    const uint32_t start = platform::timeGetTime();
    for (;;) {
        if (const UnitLook ended = look()) return *ended;
        if (platform::timeGetTime() - start > limitMs) return KALVO_ERR_TIMEOUT;
        platform::sleepMs(1);
    }
}

// A pause of limitMs that ends early once done() holds; true when it did.
template <typename Done>
bool pauseUnless(uint32_t limitMs, Done&& done) {
    return waitForUnit(limitMs, [&]() -> UnitLook {
               return done() ? UnitLook{KALVO_OK} : kKeepWaiting;
           }) == KALVO_OK;
}

}  // namespace kalvo::api
