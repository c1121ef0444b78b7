// The network chip as the simulation models it: every location of the
// 4096-byte memory window that the chip itself reads or writes, and what the
// chip does with it. Offsets are from the window base; the window is
// little-endian. The chip is stepped once per cycle and samples the window
// then: it cannot see single stores between two cycles, only what they left.
#pragma once

#include <cstdint>

namespace kalvo::sim::chip {

// ---- Areas -----------------------------------------------------------------

// 64 slots of 8 bytes, slot s at 8 * s. While a station answers, the chip
// keeps a status record in the slot of each of its addresses (bytes 0-5 the
// start of the station's model text, zero-padded; byte 6 its head address;
// byte 7 its address count) and clears the slot when the station stops
// answering. The master's own slot (its address from the station register)
// belongs to the master and is never written by the chip.
inline constexpr uint32_t kSlotArea = 0x000;
inline constexpr uint32_t kSlotCount = 64;

// GM area: 64 blocks of 8 bytes (four 16-bit words), block s at 0x200 + 8 * s.
// Blocks 0-31 carry the master's outputs to station s, blocks 32-63 the
// answers of station s - 32. A unit at station b reads words 4 * b + o and
// writes words 4 * (b + 32) + o; a word outside its half reads 0 and a store
// there is dropped.
inline constexpr uint32_t kGmArea = 0x200;
inline constexpr uint32_t kGmWords = 256;
inline constexpr uint32_t kGmOutputWords = 128;  // words 0..127 are outputs
inline constexpr uint32_t kInputBlockBase = 32;  // input block of station b: b + 32

// Stations a line lays out: 0..31 (their input blocks are 32..63).
inline constexpr int kMaxStations = 32;

// ---- Registers ---------------------------------------------------------------

// Write count (16-bit). The master loads it with the number of accesses it is
// about to make into one station block, and re-arms it in long writes when it
// reads 0. The chip takes whatever accesses are pending once per cycle and
// leaves the register at 0 (it only stores when the value is not already 0).
inline constexpr uint32_t kWriteCount = 0x40C;

// Station condition (64-bit): bit s + 32 is set exactly while the station at
// address s answers, recomputed every cycle; bits 0-31 stay clear. All bits
// are clear while the line does not run.
inline constexpr uint32_t kStationCondition = 0x428;
inline constexpr uint32_t kConditionBitBase = 32;

// Mail register (16-bit): the master writes 0x30 before each mail buffer
// operation. The chip ignores it.
inline constexpr uint32_t kMailRegister = 0x448;

// Command register (accessed as 32 bits by the driver).
//   0x8000  set-up: the chip notes it (shown in the trace); a start does not
//           depend on it, because a slow cycle may never see the short set-up
//           phase of the connect sequence.
//   0x100   start: the line starts at the next cycle; the chip then sets the
//           running bit 0x200 and keeps it set while the line runs.
//   other   a value without the start bit stops the line (the driver writes 0);
//           the chip clears the running bit.
inline constexpr uint32_t kCommand = 0x44C;
inline constexpr uint32_t kCommandSetUp = 0x8000;
inline constexpr uint32_t kCommandStart = 0x100;
inline constexpr uint32_t kCommandRunning = 0x200;

// CHKC (16-bit): the number of cycles the line has run, skipping 0, so it
// changes every cycle and is never 0 while the line runs; it stands still
// while the line is stopped and a reset clears it.
inline constexpr uint32_t kChkc = 0x478;

// Mail control (16-bit). The master requests a send by writing
// 0x4000 | destination << 8 | blocks (destination in bits 8-13, the number of
// 8-byte blocks 1..32 in bits 0-5). The chip carries the mail one cycle after
// it first sees the request, writes the mail status and then clears bit 14.
inline constexpr uint32_t kMailControl = 0x47C;
inline constexpr uint16_t kMailSendRequest = 0x4000;
inline constexpr uint16_t kMailDestinationMask = 0x3F00;
inline constexpr uint16_t kMailBlocksMask = 0x003F;

// Mail send register (16-bit): the master writes 0x1FFF before a send. Ignored.
inline constexpr uint32_t kMailSend = 0x480;

// Mail status (16-bit), written by the chip just before it clears the send
// request bit:
//   bit 0  the mail was taken by the destination
//   bit 1  the destination did not answer: no station at that address, its
//          station off the line or not answering, marked absent, without a
//          mail peer, or the request itself was malformed (0 or more than 32
//          blocks) or the chip had no room for the answer
inline constexpr uint32_t kMailStatus = 0x484;
inline constexpr uint16_t kMailStatusSent = 0x0001;
inline constexpr uint16_t kMailStatusNoAnswer = 0x0002;

// Receive buffer controls (16-bit), one per buffer. The master writes 0x40
// to enable a buffer (and so to hand a read buffer back) and 0 to disable it.
// A mail for the master lands in buffer 1 or 2, the first that is enabled and
// empty, and the chip then sets the control to
//   bit 7 full | bit 6 enabled | source << 8 (bits 8-13) | blocks (bits 0-5).
// Mails that find no such buffer wait in the chip, in order, until the master
// enables an empty buffer; the chip holds at most kMailQueueLimit of them.
inline constexpr uint32_t kReceiveControl1 = 0x48C;
inline constexpr uint32_t kReceiveControl2 = 0x490;
inline constexpr uint16_t kReceiveEnabled = 0x0040;
inline constexpr uint16_t kReceiveFull = 0x0080;
inline constexpr uint16_t kReceiveSourceShift = 8;
inline constexpr size_t kMailQueueLimit = 64;

// Station register (16-bit), written by the driver when it connects:
//   bits 0-5   the master's own station address and the first address it serves
//   bits 8-14  the number of addresses served (1..64)
//   bit 15     long frame mode
//   bits 6, 7  the baud rate (the library's)
// A station answers only when all of its addresses lie in the served range.
inline constexpr uint32_t kStationRegister = 0x498;
inline constexpr uint16_t kStationAddressMask = 0x003F;
inline constexpr uint16_t kStationSizeShift = 8;
inline constexpr uint16_t kStationSizeMask = 0x7F;
inline constexpr uint16_t kStationLongFrame = 0x8000;
inline constexpr uint16_t kStationBaudMask = 0x00C0;

// Mail buffers: send, receive 1, receive 2; 256 bytes (32 blocks) each.
inline constexpr uint32_t kMailSendBuffer = 0x500;
inline constexpr uint32_t kMailReceiveBuffer1 = 0x600;
inline constexpr uint32_t kMailReceiveBuffer2 = 0x700;
inline constexpr uint32_t kMailBufferSize = 256;
inline constexpr uint32_t kMailBlockSize = 8;
inline constexpr uint32_t kMailMaxBlocks = 32;

// What a chip reset clears besides the register block: the slot and GM areas
// and the mail buffers (0x000..0x7FF). The board's own words from 0x800 on
// (board ID and the two enable words) are not the chip's.
inline constexpr uint32_t kChipAreasEnd = 0x800;

}  // namespace kalvo::sim::chip
