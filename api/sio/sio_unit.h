// A serial interface unit: one or more channels, each moving bytes six at a
// time through one 8-byte block in each direction (bytes 0-5 data, bytes 6-7
// the master's control word or the unit's status word), with a handshake on
// single bits of those words.
//
// Channel c uses the offsets 4(c-1)..4(c-1)+3 of the placement; the first of
// them (a multiple of 4) names the 8-byte block W/4 from the unit's station:
// the output block at the output station, the input block at the input
// station, each read and written whole.
//
// Receiving: a receive thread per channel and process, started by the first
// Config, takes each block the unit offers into the channel's receive ring,
// which every process with the unit open shares. Sending: PutData feeds this
// process's send ring and hands it to the unit block by block.
//
// Named objects per channel (i = channel - 1 in two digits), shared by every
// process that opens the unit: "SIO(1)RcvSmph00" (one GetData at a time),
// "SIO(1)RcvThrdSmph00" (one receive cycle at a time across the receive
// threads of all processes), "SIO(1)SndSmph00" (one PutData at a time),
// "SIO(1)Smph00" (every read-modify-write of the output block's control
// word), and the receive ring "SIO(1)RcvBuff00" (sio_rings.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "api/frame/named_semaphore.h"
#include "api/frame/unit.h"
#include "api/sio/sio_rings.h"
#include "platform/thread.h"

namespace kalvo::api {

class SioUnit final : public Unit {
  public:
    SioUnit(const UnitPlacement& placement, const BoardManager& boards);
    // Closes the unit as Close does; its receive threads have ended when it
    // returns.
    ~SioUnit() override;

    int32_t Open() override;
    void Close() override;
    // The base check, and at least one channel whose first offset is a
    // multiple of 4. Like the other families, its line ("CheckInfo:
    // MaxChan") is written only when the base check passed: a placement
    // refused by the frame has no channels to count.
    bool CheckInfo() override;

    int32_t channelCount() const noexcept { return channelCount_; }

    // Channels are 1-based; a channel outside 1..channelCount gives 3. A
    // board call that fails ends the call with its code, with nothing built
    // from what could not be read.
    int32_t config(int32_t channel, int32_t baud, int32_t bit, int32_t parity, int32_t stop,
                   int32_t receiveSize, int32_t sendSize);
    int32_t putData(int32_t channel, const uint8_t* data, int32_t length, int32_t* sent,
                    int32_t timeoutMs);
    int32_t getData(int32_t channel, uint8_t* data, int32_t length, int32_t* received,
                    int32_t timeoutMs);
    int32_t clearError(int32_t channel);
    int32_t checkBuffer(int32_t channel, int32_t* size);
    int32_t clearBuffer(int32_t channel);

    static std::unique_ptr<Unit> make(const UnitPlacement& placement, const BoardManager& boards);

  private:
    struct WorkerThread {
        platform::Thread handle;
        bool suspended = true;
        std::atomic<bool> ended{false};
        std::atomic<bool> stop{false};
    };
    struct Channel {
        int32_t receiveLength = 0;
        std::atomic<int32_t> receiveError{0};
        SharedRing receiveRing;
        int32_t sendLength = 0;
        std::atomic<int32_t> sendError{0};
        LocalRing sendRing;
        NamedSemaphore receiveCall;
        NamedSemaphore receiveCycle;
        NamedSemaphore sendCall;
        NamedSemaphore control;
        WorkerThread receiver;
        int32_t index = 0;  // channel - 1
        int32_t block = 0;  // the 8-byte block from the station: first offset / 4
    };
    // Close with or without waiting for the receive threads (see sio_unit.cpp).
    void close(bool waiting);
    uint32_t receiveLoop(Channel& ch);
    // One receive cycle under the receive-cycle lock: a block the unit
    // offers taken into the ring and acknowledged.
    void receiveCycle(Channel& ch);
    // Hands one block of up to six bytes to the unit and waits for its
    // answer: 0 (taken), 0x10 (send error), 0x20 (no acknowledge within the
    // handshake limit), 0x11 (the unit is closing) or a board call's code.
    int32_t sendBlock(Channel& ch, const uint8_t* bytes, int32_t count);
    // Takes a call lock, giving up (false) once the unit is closing.
    bool takeCallLock(NamedSemaphore& lock);
    bool channelValid(int32_t channel) const noexcept;

    // The channel's blocks, read and written whole: 0 or the board call's
    // code (a failed read leaves *block as it was).
    int32_t readInput(const Channel& ch, uint64_t* block) const;
    int32_t readOutput(const Channel& ch, uint64_t* block) const;
    int32_t writeOutput(const Channel& ch, uint64_t block) const;
    // Under the control-word lock: the output block read, the control word's
    // bits in `clear` cleared and those in `set` set, the block written back.
    // A block that cannot be read is not written.
    int32_t changeControl(Channel& ch, uint16_t clear, uint16_t set);
    // With the control-word lock held by the caller (Config, ClearError):
    // the control word's bits outside `keep` cleared and those in `set` set,
    // then after the settle time (multiplier x 10 ms) the bits in `clear`
    // cleared, and the settle time again.
    int32_t pulseControl(Channel& ch, uint16_t keep, uint16_t set, uint16_t clear);
    // Polls the input block every 1 ms for at most multiplier x 100 ms until
    // done(status) is true: 0 with the status in *status, 0x11 at the limit
    // or once the unit is closing, or a board call's code.
    template <typename Done>
    int32_t waitStatus(const Channel& ch, Done done, uint16_t* status) const;

    int32_t channelCount_ = 0;
    std::vector<std::unique_ptr<Channel>> channels_;
    std::atomic<int32_t> closing_{0};
    // Calls in progress in other threads; Close lets them leave first.
    std::atomic<int32_t> callsInFlight_{0};
    bool opened_ = false;
};

}  // namespace kalvo::api
