// A board whose device host went away.
//
// The host can die, be stopped or restart while this process has the board
// open; the platform says so within milliseconds (platform/device_loss.h).
// The board is then marked lost, its line's mail service stops touching the
// window and ends its waits, one log line says which board was lost and why,
// and the window is retired: at once with zeros of this process, so that
// nothing written into it reaches the board any more, and, as soon as no
// call is inside it, with memory that faults on access, so
// that a pointer the application kept cannot reach a board a new host now
// serves. From then on every call that would reach the board answers -1
// (KV_ERR_REQUEST), never 0. Nothing reconnects by itself: the program
// closes and opens the board again, or starts again, and meets the new host.
#pragma once

#include <atomic>

#include "boardlib/frame/board_context.h"

namespace kalvo::boardlib {

// What the loss does, once: the flag, the mail service, the log line, the
// window retired. why says what became of the host.
void markBoardLost(BoardContext& board, const char* why) noexcept;

// The last step of KV_open: watch the board's device.
void watchForLoss(BoardContext& board) noexcept;
// The first step of the closing sequence: no loss is reported after it, and
// a lost board's window is retired for good (no call uses it any more).
void endLossWatch(BoardContext& board) noexcept;

// The check of every call that would reach the board: one relaxed load. A
// GM access makes it inside the line's semaphore, a register or slot access
// inside its WindowUse (the retirement waits for both); a device request
// makes it first.
inline bool boardLost(const BoardContext& board) noexcept {
    return board.lost.load(std::memory_order_relaxed);
}

}  // namespace kalvo::boardlib
