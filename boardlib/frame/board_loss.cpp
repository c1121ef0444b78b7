#include "boardlib/frame/board_loss.h"

#include "boardlib/frame/library.h"
#include "boardlib/window/window_users.h"
#include "platform/device_loss.h"

namespace kalvo::boardlib {
namespace {

constexpr uint32_t kQuietWaitMs = 2000;

// On the platform's watch thread, once. The board stays valid: its closing
// sequence ends the watch (waiting for this) before anything goes.
void boardLostHandler(void* context, const char* why) {
    markBoardLost(*static_cast<BoardContext*>(context), why);
}

// After the lost flag is set: true once no call can still be inside the
// window. The register and slot calls mark themselves (window_users.h); the
// GM calls look at the flag inside the line's semaphores, so taking each of
// them once waits for a GM access under way. These semaphores are shared
// with other processes: one that holds them for longer than this (stopped in
// a debugger) leaves the window as zeros, never made inaccessible.
bool windowQuiet(BoardContext& board) {
    if (!waitForWindowUsers()) return false;
    for (int32_t line = 0; line < kLineSlots; ++line) {
        for (platform::Semaphore* s : {&board.readSemaphore[line], &board.writeSemaphore[line]}) {
            if (!s->valid()) continue;
            if (s->wait(kQuietWaitMs) != platform::WAIT_OBJECT_0) return false;
            s->release(1);
        }
    }
    return true;
}

}  // namespace

void markBoardLost(BoardContext& board, const char* why) noexcept {
    board.lost.store(true, std::memory_order_relaxed);
    for (auto& mail : board.mail)
        if (mail) mail->markLost();
    libraryLog().writef(kLogNg,
                        "%s lost: <Device=%s>: %s; every call on the board answers Ret(%xh) "
                        "until it is closed and opened again",
                        board.prefix, board.devicePath, why, static_cast<uint32_t>(-1));
    if (board.window == nullptr) return;
    platform::retireDeviceView(board.window, /*accessible=*/true);
    if (windowQuiet(board)) platform::retireDeviceView(board.window, /*accessible=*/false);
}

void watchForLoss(BoardContext& board) noexcept {
    board.lossWatched = platform::watchDeviceLoss(board.device, boardLostHandler, &board);
}

void endLossWatch(BoardContext& board) noexcept {
    if (board.lossWatched) platform::unwatchDeviceLoss(board.device);
    board.lossWatched = false;
    // No call is inside the window of a board being closed.
    if (boardLost(board) && board.window != nullptr)
        platform::retireDeviceView(board.window, /*accessible=*/false);
}

}  // namespace kalvo::boardlib
