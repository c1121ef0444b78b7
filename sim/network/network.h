// The simulated line of every board of one SimulatedHardware: a network chip
// model per board, stepped by one cycle thread, with its stations and remote
// units. This is the one control surface for the host, its command-line tool
// (through the admin channel) and tests. Every call is safe from any thread
// while the line runs; a text result is empty on success or the reason a
// request was refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalvo::sim {

class SimulatedHardware;
class RemoteUnit;

// A remote unit as a unit section places it: "DIO_1" is family "DIO",
// number 1; station is the unit's base station address (0..31), offsets its
// word offsets (0..15) from there.
struct UnitDescription {
    std::string family;
    int32_t number = 0;
    std::string kind;
    int32_t station = 0;
    std::vector<int> offsets;
    // The module keeps its outputs when the communication watchdog fires
    // (configured so on some modules); by default they drop to 0.
    bool hold = false;
    // A board as an earlier host left it: its line still runs (from station
    // 0, all 32 addresses) with this word in the unit's output block at its
    // first offset, as a real board goes on when its host goes. A host that
    // starts must stop such a line and clear its outputs before it serves.
    std::optional<uint16_t> left = std::nullopt;
    std::string name() const { return family + "_" + std::to_string(number); }
};

// A station on a line: its head address and the addresses it takes. An echo
// station answers mail by sending it back.
struct StationDescription {
    int32_t address = 0;
    int32_t addressCount = 1;
    std::string model;  // shown in lists only
    bool echo = false;
};

struct BoardNetwork {
    size_t board = 0;  // index of the simulated board
    std::vector<StationDescription> stations;
    std::vector<UnitDescription> units;
};

struct NetworkDescription {
    std::vector<BoardNetwork> boards;
};

struct LineTiming {
    uint32_t cycleMicros = 1000;
    uint64_t cycles = 0;               // cycles run since the network was made
    uint64_t worstLatenessMicros = 0;  // worst start of a cycle after its due time
    uint64_t lateCycles = 0;           // cycles that started a whole period late
};

class Network {
  public:
    // Starts the cycle thread (period cycleMicros, at least 100).
    static std::unique_ptr<Network> create(SimulatedHardware& hardware, uint32_t cycleMicros,
                                           std::string* error);
    ~Network();  // stops the cycle thread; the chips stop answering
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    // Adds every station and unit of the description (after checking all of
    // it: nothing is added when any part is refused).
    std::string apply(const NetworkDescription& spec);

    std::string addStation(size_t board, const StationDescription& station);
    // Removes the station and every unit placed on its addresses.
    std::string removeStation(size_t board, int32_t address);
    // The unit's base station must be an address that one of the board's
    // stations takes; its words are exchanged while that station answers.
    std::string addUnit(size_t board, const UnitDescription& unit);
    // The same with a unit the caller made (tests, or a unit of a kind the
    // unit library does not offer); unit.family only names it.
    std::string addUnit(size_t board, const UnitDescription& unit,
                        std::unique_ptr<RemoteUnit> made);
    std::string removeUnit(std::string_view name);

    // Faults. A station off the line does not answer (its condition bit
    // falls, its units are not exchanged, mail to it finds nobody); a silent
    // unit's station still answers but the unit neither reads its outputs
    // nor changes its inputs; an absent mail destination never takes mail.
    std::string setStationOnline(size_t board, int32_t address, bool online);
    std::string setUnitSilent(std::string_view name, bool silent);
    std::string setMailAbsent(size_t board, int32_t address, bool absent);

    // A unit's own commands (RemoteUnit::control / describe), by unit name.
    std::string unitControl(std::string_view name, const std::vector<std::string>& words);
    std::string describeUnit(std::string_view name, std::string* error) const;
    // In-process access for tests; valid until the unit is removed.
    RemoteUnit* unit(std::string_view name) const;

    // The board's line state, stations and units, as text for the tool.
    std::string describe(size_t board) const;
    // The most recent trace lines of the board's line (connects, starts,
    // stops, resets, station changes, mails, faults), oldest first.
    std::vector<std::string> trace(size_t board, size_t maxLines) const;

    LineTiming timing() const;
    size_t boardCount() const;

    struct Impl;

  private:
    explicit Network(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace kalvo::sim
