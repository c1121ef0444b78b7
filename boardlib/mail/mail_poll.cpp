#include "boardlib/mail/mail_poll.h"

#include "boardlib/window/window_bus.h"

namespace kalvo::boardlib::mail {

PollSignals applyPoll(PollState& state, const PollRegisters& regs) noexcept {
    PollSignals out;
    // The chip's status bits 0..2 move up one place, its bit 5 lands on bit 4.
    uint16_t status =
        static_cast<uint16_t>(((regs.status & 0x7) << 1) | ((regs.status & 0x20) >> 1));

    const uint16_t bufferBits = kReceiveEnabled | kReceiveFull;
    const bool enabled = (regs.recv1 & bufferBits) != 0 || (regs.recv2 & bufferBits) != 0;
    if (!enabled) status |= kStatusNoBuffer;

    const uint16_t recv = static_cast<uint16_t>(((regs.recv1 & kReceiveFull) ? 1 : 0) |
                                                ((regs.recv2 & kReceiveFull) ? 2 : 0));
    if (recv != 0) status |= kStatusMailWaiting;

    // Send complete stays until the next send clears it.
    if (state.status & kStatusSendComplete) status |= kStatusSendComplete;

    if (state.prevSend == kSendWasBusy && (regs.control & kMailSendRequest) == 0) {
        status |= kStatusSendComplete;
        out.sendResult = true;
    }
    state.status = status;
    state.prevSend = (regs.control2 & kMailSendRequest) ? kSendWasBusy : 0;

    switch (recv) {
        case 3:
            if (state.pending != 1 && state.pending != 2) state.pending = 1;
            break;
        case 1:
            state.pending = 1;
            break;
        case 2:
            state.pending = 2;
            break;
        default:
            state.pending = 0;
            break;
    }

    // At most one receive event per poll; buffer 1 first.
    if ((recv & 1) && !(state.prevRecv & 1))
        out.recv1 = true;
    else if ((recv & 2) && !(state.prevRecv & 2))
        out.recv2 = true;

    // Repeats at every poll while no buffer is enabled or full.
    if (!enabled) out.error = true;

    state.prevRecv = recv;
    return out;
}

PollSignals pollWindow(uint8_t* base, PollState& state) noexcept {
    PollRegisters regs;
    regs.status = bus::load<uint16_t>(base, kMailStatusRegister);
    regs.recv1 = bus::load<uint16_t>(base, kReceiveControl1);
    regs.recv2 = bus::load<uint16_t>(base, kReceiveControl2);
    regs.control = bus::load<uint16_t>(base, kMailControl);
    regs.control2 = bus::load<uint16_t>(base, kMailControl);
    return applyPoll(state, regs);
}

}  // namespace kalvo::boardlib::mail
