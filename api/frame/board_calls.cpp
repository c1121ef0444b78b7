#include "api/frame/board_calls.h"

namespace kalvo::api {
namespace {

template <typename Fn>
void bind(Fn& slot, void* address) noexcept {
    slot = reinterpret_cast<Fn>(address);
}

}  // namespace

void BoardCalls::set(size_t i, void* a) noexcept {
    switch (i) {
        case 0:
            bind(boardname, a);
            break;
        case 1:
            bind(dllname, a);
            break;
        case 2:
            bind(version, a);
            break;
        case 3:
            bind(maxline, a);
            break;
        case 4:
            bind(open, a);
            break;
        case 5:
            bind(close, a);
            break;
        case 6:
            bind(start, a);
            break;
        case 7:
            bind(stop, a);
            break;
        case 8:
            bind(reset, a);
            break;
        case 9:
            bind(getCnectStat, a);
            break;
        case 10:
            bind(attach, a);
            break;
        case 11:
            bind(getReg16, a);
            break;
        case 12:
            bind(getReg64, a);
            break;
        case 13:
            bind(setReg16, a);
            break;
        case 14:
            bind(setReg64, a);
            break;
        case 15:
            bind(getMemByte, a);
            break;
        case 16:
            bind(getMemShort, a);
            break;
        case 17:
            bind(getMemLong, a);
            break;
        case 18:
            bind(getMemDLong, a);
            break;
        case 19:
            bind(setMemByte, a);
            break;
        case 20:
            bind(setMemShort, a);
            break;
        case 21:
            bind(setMemLong, a);
            break;
        case 22:
            bind(setMemDLong, a);
            break;
        default:
            break;
    }
}

bool BoardCalls::complete() const noexcept {
    return boardname && dllname && version && maxline && open && close && start && stop && reset &&
           getCnectStat && attach && getReg16 && getReg64 && setReg16 && setReg64 && getMemByte &&
           getMemShort && getMemLong && getMemDLong && setMemByte && setMemShort && setMemLong &&
           setMemDLong;
}

}  // namespace kalvo::api
