// The 23 calls of a board library that the Kalvo library binds by name.
// Every build of the board library exports them with the same arguments.
#pragma once

#include <array>
#include <cstddef>
#include <type_traits>

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

    // Binds every call from its module: lookup(name) gives the address of
    // an exported name, or null.
    template <typename Lookup>
    void bindAll(Lookup&& lookup);
    // True when all 23 are bound.
    bool complete() const noexcept;
};

// The bound calls, each by its exported name and the slot it fills, in
// binding order.
struct BoardCallEntry {
    const char* name;
    void (*bind)(BoardCalls&, void* address) noexcept;
    bool (*bound)(const BoardCalls&) noexcept;
};

template <auto Slot>
constexpr BoardCallEntry boardCall(const char* name) {
    return {name,
            [](BoardCalls& calls, void* address) noexcept {
                using Fn = std::remove_reference_t<decltype(calls.*Slot)>;
                calls.*Slot = reinterpret_cast<Fn>(address);
            },
            [](const BoardCalls& calls) noexcept { return calls.*Slot != nullptr; }};
}

inline constexpr std::array<BoardCallEntry, 23> kBoardCallTable{
    boardCall<&BoardCalls::boardname>("KV_boardname"),
    boardCall<&BoardCalls::dllname>("KV_dllname"),
    boardCall<&BoardCalls::version>("KV_version"),
    boardCall<&BoardCalls::maxline>("KV_maxline"),
    boardCall<&BoardCalls::open>("KV_open"),
    boardCall<&BoardCalls::close>("KV_close"),
    boardCall<&BoardCalls::start>("KV_start"),
    boardCall<&BoardCalls::stop>("KV_stop"),
    boardCall<&BoardCalls::reset>("KV_reset"),
    boardCall<&BoardCalls::getCnectStat>("KV_GetCnectStat"),
    boardCall<&BoardCalls::attach>("KV_Attach"),
    boardCall<&BoardCalls::getReg16>("KV_GetReg16"),
    boardCall<&BoardCalls::getReg64>("KV_GetReg64"),
    boardCall<&BoardCalls::setReg16>("KV_SetReg16"),
    boardCall<&BoardCalls::setReg64>("KV_SetReg64"),
    boardCall<&BoardCalls::getMemByte>("KV_GetMemByte"),
    boardCall<&BoardCalls::getMemShort>("KV_GetMemShort"),
    boardCall<&BoardCalls::getMemLong>("KV_GetMemLong"),
    boardCall<&BoardCalls::getMemDLong>("KV_GetMemDLong"),
    boardCall<&BoardCalls::setMemByte>("KV_SetMemByte"),
    boardCall<&BoardCalls::setMemShort>("KV_SetMemShort"),
    boardCall<&BoardCalls::setMemLong>("KV_SetMemLong"),
    boardCall<&BoardCalls::setMemDLong>("KV_SetMemDLong"),
};

template <typename Lookup>
void BoardCalls::bindAll(Lookup&& lookup) {
    for (const BoardCallEntry& call : kBoardCallTable) call.bind(*this, lookup(call.name));
}

}  // namespace kalvo::api
