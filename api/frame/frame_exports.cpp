// The board-level calls of the library.
#include "api/frame/api_library.h"
#include "api/frame/api_log.h"
#include "kalvo/kalvo.h"
#include "platform/clock.h"

using namespace kalvo::api;

namespace {
constexpr LogType kBoardCall = kLogFrame | kLevelCall;
}

extern "C" {

KV_API int32_t KV_BeginPeriod(void) {
    const auto ret = static_cast<int32_t>(kalvo::platform::timeBeginPeriod(1));
    apiLog().writef(kBoardCall, "KV_BeginPeriod: Ret(%xh)", ret);
    return ret;
}

KV_API int32_t KV_EndPeriod(void) {
    const auto ret = static_cast<int32_t>(kalvo::platform::timeEndPeriod(1));
    apiLog().writef(kBoardCall, "KV_EndPeriod: Ret(%xh)", ret);
    return ret;
}

KV_API int32_t KV_CheckBoard(int32_t board) {
    ApiLibrary* lib = library();
    const int32_t ret = lib ? lib->boards.checkBoard(board) : kRetArgument;
    apiLog().writef(kBoardCall, "KV_CheckBoard: Board(%d): Ret(%xh)", board, ret);
    return ret;
}

KV_API int32_t KV_AttachMemory(int32_t board, int32_t line, void** address) {
    ApiLibrary* lib = library();
    const int32_t ret = lib ? lib->boards.attachMemory(board, line, address) : kRetArgument;
    apiLog().writef(kBoardCall, "KV_AttachMemory: Board(%d)-Line(%d): Ret(%xh)", board, line, ret);
    return ret;
}

}  // extern "C"
