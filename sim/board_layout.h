// Where a simulated board's resources sit in the physical-memory file, and
// the few board registers the simulation itself reacts to.
//
// Every board owns one 64 KiB-aligned region. Its two windows lie inside it
// but are deliberately not 64 KiB aligned, so a driver that maps a view at
// the 64 KiB allocation granularity must correct the returned address; and
// because the region is the board's alone, such a view never reaches the
// bytes of another board.
#pragma once

#include <cstdint>

namespace kalvo::sim {

inline constexpr uint64_t kPhysicalBase = 0xE0000000;  // bus address of region 0
inline constexpr uint64_t kRegionSize = 0x10000;       // the view allocation granularity

// Control-register window (first memory resource, like a PCI BAR0). A
// 128-byte BAR is only 128-byte aligned, so it does not start on a page.
inline constexpr uint64_t kControlWindowOffset = 0x1080;
inline constexpr uint32_t kControlWindowLength = 0x80;
// 32-bit control register; setting bit 30 holds the network chip in reset.
inline constexpr uint32_t kControlRegister = 0x50;
inline constexpr uint32_t kControlResetBit = 0x40000000;

// The network chip's memory window (second memory resource, like BAR1).
inline constexpr uint64_t kMemoryWindowOffset = 0x3000;
inline constexpr uint32_t kMemoryWindowLength = 0x1000;
// The chip's register block, cleared by a chip reset.
inline constexpr uint32_t kChipRegistersBegin = 0x400;
inline constexpr uint32_t kChipRegistersEnd = 0x500;
// 16-bit board ID word: bits 0-1 the board number, bits 2-7 zero when that
// number is valid. Set by the board's jumpers, so a chip reset keeps it.
inline constexpr uint32_t kBoardIdOffset = 0x808;

// The ID word of a board whose number is not valid.
inline constexpr uint16_t kUnnumberedBoardId = 0x00FF;

// Stand-ins for a port range and an interrupt that some boards report
// among their memory ranges; nothing is behind them.
inline constexpr uint64_t kExtraPortBase = 0xD000;
inline constexpr uint32_t kExtraPortLength = 0x80;
inline constexpr uint32_t kExtraInterruptLevel = 11;

constexpr uint64_t regionAddress(uint64_t board) {
    return kPhysicalBase + board * kRegionSize;
}

}  // namespace kalvo::sim
