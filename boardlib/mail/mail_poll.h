// The chip's mail registers and the poll that turns their changes into the
// line's status word, pending receive buffer and events.
//
// The poll is a pure function of four register values and the poll state,
// so the same code serves the mail thread (every 10 ms) and KV_MailStatus.
#pragma once

#include <cstdint>

#include "driver/requests/chip_registers.h"

namespace kalvo::boardlib::mail {

// The mail registers and buffers of the chip (driver/requests/chip_registers.h).
using namespace kalvo::chipmap;
inline constexpr int32_t kMaxMailLength = 256;

// Status word bits.
inline constexpr uint16_t kStatusSendComplete = 0x0001;
inline constexpr uint16_t kStatusNoBuffer = 0x0020;
inline constexpr uint16_t kStatusMailWaiting = 0x0100;

// "previous send state" value while the chip reported a send in progress.
inline constexpr uint16_t kSendWasBusy = 4;

// Index of each of the line's five events.
enum MailEventIndex : int {
    kEventRecv1 = 0,
    kEventRecv2,
    kEventSendResult,
    kEventClose,
    kEventError
};
inline constexpr int kMailEventCount = 5;

struct PollRegisters {
    uint16_t status = 0;    // mail status register
    uint16_t recv1 = 0;     // receive buffer 1 control
    uint16_t recv2 = 0;     // receive buffer 2 control
    uint16_t control = 0;   // mail control register
    uint16_t control2 = 0;  // mail control register, read again for the send state
};

struct PollState {
    uint16_t status = 0;    // the status word
    int32_t pending = 0;    // receive buffer to read next: 0 none, 1 or 2
    uint16_t prevSend = 0;  // kSendWasBusy when a send was in progress at the last poll
    uint16_t prevRecv = 0;  // bit 0 buffer 1 full, bit 1 buffer 2 full, at the last poll
};

// Which events one poll signals.
struct PollSignals {
    bool recv1 = false;
    bool recv2 = false;
    bool sendResult = false;
    bool error = false;

    bool any() const noexcept { return recv1 || recv2 || sendResult || error; }
};

PollSignals applyPoll(PollState& state, const PollRegisters& regs) noexcept;

// Reads the registers from the window in the chip's order (status, both
// receive controls, control, control again) and applies the poll.
PollSignals pollWindow(uint8_t* base, PollState& state) noexcept;

}  // namespace kalvo::boardlib::mail
