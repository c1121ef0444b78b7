#include "api/frame/board_calls.h"

namespace kalvo::api {

bool BoardCalls::complete() const noexcept {
    for (const BoardCallEntry& call : kBoardCallTable)
        if (!call.bound(*this)) return false;
    return true;
}

}  // namespace kalvo::api
