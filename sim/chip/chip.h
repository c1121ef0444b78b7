// The network chip of one simulated board, stepped once per cycle by the
// network's cycle thread. It watches the command, station and mail registers
// of the board's memory window (chip_map.h says what each means to the
// chip), runs the cyclic exchange with the remote units of the answering
// stations, and carries mail between the master and the mail peers.
//
// The station and unit tables are changed by the network facade (one admin
// change at a time) while the cycle runs; one mutex per chip serialises a
// cycle, a table change and a chip reset. The cycle holds it for a few
// microseconds and the admin side only briefly, so the cycle never waits
// long.
#pragma once

#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sim/chip/trace_ring.h"
#include "sim/network/network.h"
#include "sim/units/remote_unit.h"

namespace kalvo::sim::chip {

inline bool sameUnitName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

class Chip {
  public:
    // A remote unit drops its outputs when its station has not been served
    // for this long (and at once when the line stops), as the communication
    // watchdog of a remote I/O module does; a unit configured to hold keeps
    // them.
    static constexpr std::chrono::milliseconds kWatchdogTime{50};

    // window: the board's memory window; control: its control-register
    // window (bit 30 of the register at 0x50 holds the chip in reset).
    Chip(size_t board, uint8_t* window, uint8_t* control);
    Chip(const Chip&) = delete;
    Chip& operator=(const Chip&) = delete;

    // One cycle of the chip (cycleMicros only informs the units); true while
    // the line runs (a stopped chip may be stepped less often).
    bool step(uint32_t cycleMicros);
    // After the board's chip reset cleared the registers: the line stops,
    // the areas are cleared and mail waiting in the chip is dropped.
    void reset();
    // The network goes away: the line stops answering.
    void shutdown();

    // Table changes. The caller has checked them (see Network); stations are
    // keyed by their head address.
    void addStation(const StationDescription& station, std::unique_ptr<MailPeer> peer);
    // Removes the station and returns the names of the units it carried,
    // which are removed with it.
    std::vector<std::string> removeStation(int32_t address);
    void addUnit(const UnitDescription& spec, std::shared_ptr<RemoteUnit> unit);
    bool removeUnit(std::string_view name);
    bool setStationOnline(int32_t address, bool online);
    bool setUnitSilent(std::string_view name, bool silent);
    void setMailAbsent(int32_t address, bool absent);

    // Queries (consistent snapshots).
    std::vector<StationDescription> stations() const;
    bool hasStation(int32_t address) const;
    // Unit names match without regard to case ("dio_1" is DIO_1).
    bool hasUnit(std::string_view name) const;
    std::vector<std::string> unitNames() const;
    std::shared_ptr<RemoteUnit> findUnit(std::string_view name) const;
    std::string describe() const;
    bool running() const;

    TraceRing& traceRing() { return trace_; }
    const TraceRing& traceRing() const { return trace_; }

  private:
    struct Station {
        StationDescription spec;
        bool online = true;
        bool answering = false;
        std::unique_ptr<MailPeer> peer;
        uint64_t addressBits() const;
    };
    struct PlacedUnit {
        UnitDescription spec;
        std::shared_ptr<RemoteUnit> unit;
        bool silent = false;
        // The unit's communication watchdog: when it was last exchanged, and
        // whether it has dropped its outputs since.
        std::chrono::steady_clock::time_point lastServed{};
        bool servedThisStep = false;
        bool outputsDropped = true;  // a new unit's outputs are 0
    };
    struct QueuedMail {
        int source = 0;
        std::vector<uint8_t> data;  // whole blocks, 8..256 bytes
    };

    // All below run with mutex_ held.
    void note(std::string_view text);
    void stepCommand();
    void runCycle(uint32_t cycleMicros);
    void watchUnits();
    void stopLine(std::string_view why);
    void clearSlots(const Station& station);
    void writeSlots(const Station& station, int ownAddress);
    void stepMail();
    void carryMail(uint16_t control);
    void queueForMaster(const Mail& mail, int from, int ownAddress);
    void deliverQueued();
    Station* stationAt(int address);
    int ownAddress() const;

    const size_t board_;
    uint8_t* const window_;
    uint8_t* const control_;
    TraceRing trace_;

    mutable std::mutex mutex_;
    std::vector<Station> stations_;  // sorted by head address
    std::vector<PlacedUnit> units_;
    uint64_t mailAbsent_ = 0;  // bit per station address
    uint64_t answering_ = 0;   // bit per address of every answering station
    uint64_t chipCycle_ = 0;   // steps since the chip was made
    uint64_t lineCycle_ = 0;   // cycles since the line started
    bool running_ = false;
    bool heldInReset_ = false;
    bool setUpSeen_ = false;
    uint16_t stationRegister_ = 0;  // as last seen
    bool sendSeen_ = false;         // a send request waits to be carried
    uint64_t sendSeenCycle_ = 0;
    std::deque<QueuedMail> toMaster_;
    bool waitNoted_ = false;  // the trace already says that mail waits
};

}  // namespace kalvo::sim::chip
