// The line's connect sequence: a small state machine stepped by a 10 ms
// one-shot timer that every tick re-arms. Delays are counted in ticks, so
// nothing waits at dispatch level. The line state names the step taken next.
#include "driver/requests/request_codes.h"

#include "driver/chip_registers.h"
#include "driver/tolva.h"

using namespace tolva;
using kalvo::requests::ConnectMode;
using kalvo::requests::LineState;

namespace {

constexpr LONGLONG kTickDue = -100000;  // relative, 100 ns units: 10 ms

volatile ULONG* Register(const TOLVA_SEQUENCE* seq, ULONG offset) {
    return reinterpret_cast<volatile ULONG*>(static_cast<PUCHAR>(seq->Memory.MappedAddress) +
                                             offset);
}

void Write(const TOLVA_SEQUENCE* seq, ULONG offset, ULONG value) {
    WRITE_REGISTER_ULONG(Register(seq, offset), value);
}

// Moves the line state on from the state this tick acted on. A connect or
// disconnect request that changed the state meanwhile wins: its value stays
// and the next tick acts on it.
void Advance(TOLVA_SEQUENCE* seq, LONG from, LONG to) {
    seq->LineState.compare_exchange_strong(from, to);
}

void ClearWords(const TOLVA_SEQUENCE* seq, ULONG offset, ULONG words) {
    for (ULONG i = 0; i < words; ++i) Write(seq, offset + 4 * i, 0);
}

}  // namespace

void CTolva::ClearIdleAreas(PUCHAR memory) {
    auto write = [memory](ULONG offset) {
        WRITE_REGISTER_ULONG(reinterpret_cast<volatile ULONG*>(memory + offset), 0);
    };
    write(kCommandRegister);
    for (ULONG i = 0; i < kStationAreaWords; ++i) write(kStationArea + 4 * i);
    for (ULONG i = 0; i < kMailAreaWords; ++i) write(kMailArea + 4 * i);
}

void CTolva::TimerWorkProc(PKDPC dpc, PVOID context, PVOID arg1, PVOID arg2) {
    (void)dpc;
    (void)arg1;
    (void)arg2;
    auto* seq = CONTAINING_RECORD(static_cast<PKDPC>(context), TOLVA_SEQUENCE, Dpc);
    // Only a started board has windows to step; a tick that was queued just
    // before a stop finds the flag down and leaves the board alone.
    if (!seq->Running.load()) return;
    Step(seq);
}

void CTolva::Step(TOLVA_SEQUENCE* seq) {
    LONG countdown = seq->Countdown.load();
    bool rearm = true;
    if (countdown > 0) {
        seq->Countdown.store(countdown - 1);
    } else {
        const LONG state = seq->LineState.load();
        switch (state) {
            case LineState::Idle:
                ClearIdleAreas(static_cast<PUCHAR>(seq->Memory.MappedAddress));
                seq->Countdown.store(0);
                rearm = false;  // the sequence stops here
                break;
            case LineState::Accepted:
                Write(seq, kCommandRegister, 0);
                Write(seq, kMailRegister, kMailRegisterPrepare);
                ClearWords(seq, kStationArea, kConnectClearWords);
                Advance(seq, state, LineState::Prepare);
                seq->Countdown.store(1);
                break;
            case LineState::Prepare:
                Write(seq, kCommandRegister, 0);
                Write(seq, kMailRegister, kMailRegisterPrepare);
                Advance(seq, state, LineState::SetUp);
                seq->Countdown.store(1);
                break;
            case LineState::SetUp:
                Write(seq, kCommandRegister, kCommandSetUp);
                seq->Countdown.store(1);
                if (seq->ConnectMode.load() == static_cast<LONG>(ConnectMode::Gmm)) {
                    // A GMM connect only puts the chip into set-up.
                    Advance(seq, state, LineState::Idle);
                    rearm = false;
                } else {
                    Advance(seq, state, LineState::Station);
                }
                break;
            case LineState::Station: {
                ULONG value =
                    READ_REGISTER_ULONG(Register(seq, kStationRegister)) & kStationKeepMask;
                // The address goes in unmasked: the library keeps it in 0..63
                // and the size in 1..64.
                value |= static_cast<ULONG>(seq->StationAddress.load());
                value |= static_cast<ULONG>(static_cast<LONG>(seq->StationSize.load())) << 8;
                if (seq->ConnectMode.load() == static_cast<LONG>(ConnectMode::LongFrame))
                    value |= kStationLongFrame;
                seq->StationRegister = value;
                Write(seq, kStationRegister, value);
                Advance(seq, state, LineState::ClearCommand);
                break;
            }
            case LineState::ClearCommand:
                Write(seq, kCommandRegister, 0);
                Advance(seq, state, LineState::Start);
                break;
            case LineState::Start:
                Write(seq, kCommandRegister, kCommandStart);
                Advance(seq, state, LineState::Running);
                seq->Countdown.store(5);
                break;
            case LineState::Running:
                if (READ_REGISTER_ULONG(Register(seq, kCommandRegister)) & kCommandRunning) {
                    seq->Countdown.store(5);
                } else {
                    Advance(seq, state, LineState::Start);  // the line dropped: start again
                }
                break;
            default:
                break;
        }
    }
    if (rearm && seq->Running.load()) {
        LARGE_INTEGER due;
        due.QuadPart = kTickDue;
        KeSetTimer(&seq->Timer, due, &seq->Dpc);
    }
}
