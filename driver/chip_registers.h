// Locations in the board's two windows that the driver itself touches. The
// rest of the network chip's memory is the library's business: it reaches
// it through its own mapping of the memory window.
#pragma once

#include <cstdint>

#include "driver/requests/chip_registers.h"

namespace tolva {

// The chip registers the board library uses too.
using namespace kalvo::chipmap;

// Control register window (first memory range of the board).
inline constexpr uint32_t kControlRegister = 0x50;
inline constexpr uint32_t kControlResetBit = 0x40000000;  // bit 30: board reset

// Memory window (second memory range): the network chip.
inline constexpr uint32_t kStationArea = 0x000;  // 256 words up to 0x3FC
inline constexpr uint32_t kStationAreaWords = 256;
inline constexpr uint32_t kConnectClearWords = 284;      // 0x000..0x46C at a connect
inline constexpr uint32_t kMailRegisterPrepare = 0x700;  // into kMailRegister while preparing
inline constexpr uint32_t kStationKeepMask = 0xC0C0;     // baud-rate bits the library owns
inline constexpr uint32_t kMailArea = kMailSendBuffer;   // the three buffers: 192 words up to 0x7FC
inline constexpr uint32_t kMailAreaWords = 192;
inline constexpr uint32_t kBoardEnable0 = 0x800;  // 16-bit, 0 at start and stop
inline constexpr uint32_t kBoardEnable1 = 0x802;

}  // namespace tolva
