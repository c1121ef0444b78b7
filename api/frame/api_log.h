// The Kalvo library's diagnostic log: one per process, open while the library
// is loaded. Every line carries a category (which part wrote it) and a level.
#pragma once

#include "diaglog/log_facility.h"
#include "diaglog/log_type.h"

namespace kalvo::api {

using diaglog::LogType;

// Categories.
inline constexpr LogType kLogFrame = 0x100;  // binding, boards, lines, placement, banners
inline constexpr LogType kLogDio = 0x2000;
inline constexpr LogType kLogAda = 0x4000;
inline constexpr LogType kLogAxsa = 0x8000;
inline constexpr LogType kLogSio = 0x20000;

// Levels (one per line).
inline constexpr LogType kLevelFailure = diaglog::kLogFailure;  // "NG" lines
inline constexpr LogType kLevelCall = diaglog::kLogCall;        // one line per call
inline constexpr LogType kLevelEnd = diaglog::kLogDetail;       // end lines of open/close, frame
inline constexpr LogType kLevelStep = diaglog::kLogStep;        // steps inside a call
inline constexpr LogType kLevelProtocol = diaglog::kLogProtocol;
inline constexpr LogType kLevelThread = diaglog::kLogThread;

// Written unless LOGLEVEL in KalvoLog.ini says otherwise: every category at
// levels 0x01, 0x02 and 0x04.
inline constexpr uint32_t kDefaultLogLevel = 0xFFFFFF07u;

namespace detail {
// Every call reads it, so it is where an inline accessor reaches it (owned
// by api_library.cpp: made on first use, destroyed at detach).
inline diaglog::LogFacility* gApiLog = nullptr;
diaglog::LogFacility& makeApiLog() noexcept;
}  // namespace detail

inline diaglog::LogFacility& apiLog() noexcept {
    return detail::gApiLog != nullptr ? *detail::gApiLog : detail::makeApiLog();
}

}  // namespace kalvo::api
