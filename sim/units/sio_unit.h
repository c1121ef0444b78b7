// A serial unit. Each channel exchanges up to six bytes per block with the
// master through one 8-byte block in each direction: bytes 0-5 data, bytes
// 6-7 the control word (master to unit) or the status word (unit to master).
//
// Control: bits 0-5 configuration code, 6 configuration request, 8-10 bytes
//          in the block sent, 11 error reset request, 14 receive
//          acknowledge, 15 send request.
// Status:  bits 8-10 bytes in the block received, 11 receive error, 12 send
//          error, 14 received data ready, 15 send acknowledge.
//
// Sending: on a send request the unit takes the block's bytes and raises the
// send acknowledge until the request falls. With a send error standing it
// answers with bit 12 instead and takes nothing. Receiving: the unit offers a
// block with data ready, drops data ready when the acknowledge rises, and
// offers the next block only after the acknowledge has fallen.
//
// A channel is a loopback (bytes sent come back as received blocks) or is
// attached to a pseudo-terminal: a terminal program on its /dev/pts path
// sees the bytes the master sends and its bytes reach the master. Bytes are
// queued, never dropped: when a queue is full the unit holds its send
// acknowledge back until there is room.
#pragma once

#include <array>
#include <memory>
#include <mutex>

#include "sim/units/byte_ring.h"
#include "sim/units/remote_unit.h"

namespace kalvo::sim::units {

class SioUnit final : public RemoteUnit {
  public:
    static constexpr size_t kQueueBytes = 64 * 1024;

    explicit SioUnit(std::vector<int> offsets);
    ~SioUnit() override;

    std::string_view family() const override { return "SIO"; }
    const std::vector<int>& offsets() const override { return offsets_; }
    void exchange(StationPort& port, const CycleInfo& cycle) override;
    void communicationLost() override;
    std::string describe() const override;
    std::string control(const std::vector<std::string>& words) override;
    std::string help() const override;

  private:
    struct Channel {
        Channel() : toMaster(kQueueBytes), toTerminal(kQueueBytes) {}
        ByteRing toMaster;     // bytes waiting to be offered as received blocks
        ByteRing toTerminal;   // bytes the master sent, waiting for the terminal
        uint16_t control = 0;  // last control word seen
        bool sendAcknowledged = false;
        bool dataReady = false;
        bool configRequested = false;
        bool receiveError = false;
        bool sendError = false;
        uint8_t configCode = 0;
        uint8_t offered[6] = {};  // data bytes of the block on offer
        uint8_t offeredCount = 0;
        uint64_t bytesSent = 0;  // taken from the master
        // Byte counts of the last blocks taken from the master, oldest first
        // in the description, so a test reads how a message was cut.
        std::array<uint8_t, 8> lastBlocks{};
        size_t blocksTaken = 0;
        uint64_t bytesReceived = 0;  // offered to the master
        int ptyMaster = -1;
        int ptySlave = -1;  // held open so the terminal side keeps its settings
        std::string ptyPath;
    };
    void serviceTerminal(Channel& channel);
    std::string attachTerminal(Channel& channel);
    void detachTerminal(Channel& channel);
    int channelCount() const { return static_cast<int>(offsets_.size() / 4); }

    const std::vector<int> offsets_;
    mutable std::mutex mutex_;
    std::array<std::unique_ptr<Channel>, 4> channels_;
};

}  // namespace kalvo::sim::units
