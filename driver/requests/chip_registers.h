// The network chip's registers in the board's memory window that both the
// driver and the board library use: offsets from the window base (the
// window is little-endian) and their bits, one name each. The simulated
// chip keeps its own model of the same map (sim/chip/chip_map.h); a test
// holds it against this one.
#pragma once

#include <cstdint>

namespace kalvo::chipmap {

// GM area: 64 station blocks of four 16-bit words (outputs 0-31, inputs 32-63).
inline constexpr uint32_t kGmArea = 0x200;

// Write count (16-bit): loaded with the number of accesses about to be made
// into one station block; the chip counts it down.
inline constexpr uint32_t kWriteCountRegister = 0x40C;

// Station condition (64-bit): bit s set while station block s answers.
inline constexpr uint32_t kConditionRegister = 0x428;

// Mail register (16-bit): the library writes 0x30 before every mail buffer
// operation; the driver writes 0x700 into it while it prepares a connect.
inline constexpr uint32_t kMailRegister = 0x448;
inline constexpr uint16_t kMailRegisterValue = 0x30;

// Command register (accessed as 32 bits by the driver).
inline constexpr uint32_t kCommandRegister = 0x44C;
inline constexpr uint32_t kCommandSetUp = 0x8000;
inline constexpr uint32_t kCommandStart = 0x100;
inline constexpr uint32_t kCommandRunning = 0x200;  // read back: the line runs

// CHKC (16-bit): the cycle counter; changes every cycle while the line runs.
inline constexpr uint32_t kChkcRegister = 0x478;

// Mail control (16-bit): 0x4000 | destination << 8 | blocks requests a send;
// bit 14 stays set while the send is in progress.
inline constexpr uint32_t kMailControl = 0x47C;
inline constexpr uint16_t kMailSendRequest = 0x4000;

// Mail send register (16-bit): 0x1FFF before a send.
inline constexpr uint32_t kMailSendRegister = 0x480;
inline constexpr uint16_t kMailSendRegisterValue = 0x1FFF;

// Mail status (16-bit), written by the chip when a send ends.
inline constexpr uint32_t kMailStatusRegister = 0x484;

// Receive buffer controls (16-bit): bit 6 enabled, bit 7 full.
inline constexpr uint32_t kReceiveControl1 = 0x48C;
inline constexpr uint32_t kReceiveControl2 = 0x490;
inline constexpr uint16_t kReceiveEnabled = 0x40;
inline constexpr uint16_t kReceiveFull = 0x80;

// Station register (16-bit): bits 0-5 the master's address, bits 6-7 the
// baud rate, bits 8-14 the number of addresses served, bit 15 long frame.
inline constexpr uint32_t kStationRegister = 0x498;
inline constexpr uint16_t kStationBaudMask = 0x00C0;
inline constexpr uint16_t kStationLongFrame = 0x8000;

// Mail buffers: send, receive 1, receive 2; 256 bytes each.
inline constexpr uint32_t kMailSendBuffer = 0x500;
inline constexpr uint32_t kMailReceiveBuffer1 = 0x600;
inline constexpr uint32_t kMailReceiveBuffer2 = 0x700;

}  // namespace kalvo::chipmap
