// Line control: bringing a board line onto the network (normal, long-frame
// and GMM start), its baud rate, stopping it, and the fill of the started
// stations' output blocks.
#pragma once

#include <cstdint>

#include "boardlib/frame/board_context.h"
#include "driver/requests/chip_registers.h"

namespace kalvo::boardlib {

// The station register (driver/requests/chip_registers.h).
using kalvo::chipmap::kStationRegister;

// Bits 6 and 7 of the station register for a baud code (Mbit/s).
constexpr uint16_t baudBits(int32_t baud) noexcept {
    return baud == 3 ? 0x40 : baud == 6 ? 0x80 : 0xC0;
}

// The station range a start asks for: the address is 0 to 63 (else 63), the
// count at least 1 and cut to end at station 63.
struct StationRange {
    int32_t address;
    int32_t count;
};
StationRange clampStations(int32_t address, int32_t count) noexcept;

// KV_reset and KV_stop without their log lines (also the finish step).
// False when the board was lost before the fill.
bool resetLine(BoardContext& board, int32_t line, int32_t data);
void stopLine(BoardContext& board, int32_t line);

// The finish step at unload: in the last process that has the library
// loaded, reset and stop line 0 (not on a lost board: no host is there).
void finishLine(BoardContext& board);

}  // namespace kalvo::boardlib
