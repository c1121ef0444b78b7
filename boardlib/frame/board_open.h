// Opening and closing a board: the named semaphores, the library ini's baud
// code, the device instance, the mail service and the window.
#pragma once

#include <cstdint>
#include <optional>

#include "boardlib/frame/board_context.h"

namespace kalvo::boardlib {

// The choice of the device instance. Boards present a board ID word in their
// window: bits 0-1 the board number, bits 2-7 zero when that number is
// valid. A board is found under its own number; boards without a valid one
// fill the remaining numbers in instance order.
class InstanceChoice {
  public:
    explicit InstanceChoice(int32_t board) : ordinal_(board), board_(board) {}
    // The next instance's ID word, or nothing when its window could not be
    // mapped (ranked as unnumbered). True when the scan stops here.
    bool add(int32_t instance, std::optional<uint16_t> idWord);
    // The chosen instance, -1 for none.
    int32_t chosen() const;

  private:
    int32_t ordinal_;
    int32_t board_;
    int32_t chosen_ = -1;
    int32_t unnumbered_[kMaxBoards] = {};
    int32_t unnumberedCount_ = 0;
};

// Scans instances 0 to 3 of the build's device (open, map, read the ID word,
// unmap, close) and returns the chosen instance, -1 for none.
int32_t scanInstances(int32_t board);

// The closing sequence: device (window unmapped first), mail, semaphores.
// wait: KV_close waits for the mail thread to end; unload and a failed open
// do not.
void closeBoard(BoardContext& board, bool wait);

}  // namespace kalvo::boardlib
