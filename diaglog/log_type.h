// The type passed with every log line: a category and a level.
//
// Bits 8 to 31 are category bits (one per subsystem of a library), bits 0 to 7
// the level. A line is written when its type shares at least one category bit
// and at least one level bit with the log's level mask.
#pragma once

#include <cstdint>
#include <string_view>

namespace kalvo::diaglog {

using LogType = uint32_t;

inline constexpr LogType kLogCategoryMask = 0xFFFFFF00u;
inline constexpr LogType kLogLevelMask = 0x000000FFu;

// The six levels. Every line carries exactly one of them.
inline constexpr LogType kLogFailure = 0x01;   // failure ("NG") lines
inline constexpr LogType kLogCall = 0x02;      // call lines and banners
inline constexpr LogType kLogDetail = 0x04;    // internal detail, end lines
inline constexpr LogType kLogStep = 0x08;      // steps inside a call
inline constexpr LogType kLogProtocol = 0x10;  // protocol detail
inline constexpr LogType kLogThread = 0x20;    // receive-thread lines

// True when a line of this type passes the level mask.
constexpr bool logPasses(LogType type, uint32_t levelMask) noexcept {
    const uint32_t shared = type & levelMask;
    return (shared & kLogCategoryMask) != 0 && (shared & kLogLevelMask) != 0;
}

// The marker that stands between the time stamp and the message. The level
// is exactly one of the six values; a type carrying another level value gets
// no marker (the line is still written as the filter let it through).
constexpr std::string_view logMarker(LogType type) noexcept {
    switch (type & kLogLevelMask) {
        case 0x01:
            return "@@   ";
        case 0x02:
            return "**   ";
        case 0x04:
            return "##    ";
        case 0x08:
            return "++     ";
        case 0x10:
            return "--      ";
        case 0x20:
            return "==       ";
        default:
            return {};
    }
}

}  // namespace kalvo::diaglog
