// The 23 calls of a board library that the Kalvo library binds by name.
// Every build of the board library exports them with the same arguments.
#pragma once

#include <array>
#include <cstddef>

#include "kalvo/board_library.h"

namespace kalvo::api {

struct BoardCalls {
    decltype(&::KV_boardname) boardname = nullptr;
    decltype(&::KV_dllname) dllname = nullptr;
    decltype(&::KV_version) version = nullptr;
    decltype(&::KV_maxline) maxline = nullptr;
    decltype(&::KV_open) open = nullptr;
    decltype(&::KV_close) close = nullptr;
    decltype(&::KV_start) start = nullptr;
    decltype(&::KV_stop) stop = nullptr;
    decltype(&::KV_reset) reset = nullptr;
    decltype(&::KV_GetCnectStat) getCnectStat = nullptr;
    decltype(&::KV_Attach) attach = nullptr;
    decltype(&::KV_GetReg16) getReg16 = nullptr;
    decltype(&::KV_GetReg64) getReg64 = nullptr;
    decltype(&::KV_SetReg16) setReg16 = nullptr;
    decltype(&::KV_SetReg64) setReg64 = nullptr;
    decltype(&::KV_GetMemByte) getMemByte = nullptr;
    decltype(&::KV_GetMemShort) getMemShort = nullptr;
    decltype(&::KV_GetMemLong) getMemLong = nullptr;
    decltype(&::KV_GetMemDLong) getMemDLong = nullptr;
    decltype(&::KV_SetMemByte) setMemByte = nullptr;
    decltype(&::KV_SetMemShort) setMemShort = nullptr;
    decltype(&::KV_SetMemLong) setMemLong = nullptr;
    decltype(&::KV_SetMemDLong) setMemDLong = nullptr;

    // The names in binding order, and the matching slots.
    static constexpr std::array<const char*, 23> kNames{
        "KV_boardname",   "KV_dllname",     "KV_version",    "KV_maxline",     "KV_open",
        "KV_close",       "KV_start",       "KV_stop",       "KV_reset",       "KV_GetCnectStat",
        "KV_Attach",      "KV_GetReg16",    "KV_GetReg64",   "KV_SetReg16",    "KV_SetReg64",
        "KV_GetMemByte",  "KV_GetMemShort", "KV_GetMemLong", "KV_GetMemDLong", "KV_SetMemByte",
        "KV_SetMemShort", "KV_SetMemLong",  "KV_SetMemDLong"};

    // Binds slot i from an address found for kNames[i].
    void set(size_t i, void* address) noexcept;
    // True when all 23 are bound.
    bool complete() const noexcept;
};

}  // namespace kalvo::api
