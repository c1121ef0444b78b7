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
    // multiple of 4.
    bool CheckInfo() override;

    int32_t channelCount() const noexcept { return channelCount_; }

    // Channels are 1-based; a channel outside 1..channelCount gives 3.
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
    enum class BlockOutcome { sent, sendError, noAcknowledge };

    // Close with or without waiting for the receive threads (see sio_unit.cpp).
    void close(bool waiting);
    uint32_t receiveLoop(Channel& ch);
    BlockOutcome sendBlock(Channel& ch, const uint8_t* bytes, int32_t count);
    // Takes a call lock, giving up (false) once the unit is closing.
    bool takeCallLock(NamedSemaphore& lock);
    bool channelValid(int32_t channel) const noexcept;

    // The channel's blocks; a failed read leaves the value 0.
    uint64_t readInput(const Channel& ch) const;
    uint64_t readOutput(const Channel& ch) const;
    void writeOutput(const Channel& ch, uint64_t block) const;
    // Under the control-word lock: the output block read, the control word's
    // bits in `clear` cleared and those in `set` set, the block written back.
    void changeControl(Channel& ch, uint16_t clear, uint16_t set);
    // Polls the input block every 1 ms for at most multiplier x 100 ms until
    // done(status) is true; the last status read.
    template <typename Done>
    uint16_t pollStatus(const Channel& ch, Done done, bool* met) const;

    int32_t channelCount_ = 0;
    std::vector<std::unique_ptr<Channel>> channels_;
    std::atomic<int32_t> closing_{0};
    // Calls in progress in other threads; Close lets them leave first.
    std::atomic<int32_t> callsInFlight_{0};
    bool opened_ = false;
};

}  // namespace kalvo::api
