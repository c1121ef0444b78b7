// Wait results and time-outs shared by every waitable named object, with the
// values of the Windows wait functions.
#pragma once

#include <cstdint>

namespace kalvo::platform {

inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;

inline constexpr uint32_t WAIT_OBJECT_0 = 0x00000000u;   // + index for wait-for-any
inline constexpr uint32_t WAIT_ABANDONED = 0x00000080u;  // a mutex whose owner died
inline constexpr uint32_t WAIT_TIMEOUT = 0x00000102u;
inline constexpr uint32_t WAIT_FAILED = 0xFFFFFFFFu;

}  // namespace kalvo::platform
