#include "sim/network/network.h"

#include <algorithm>
#include <mutex>

#include "sim/chip/chip.h"
#include "sim/chip/chip_map.h"
#include "sim/chip/window_access.h"
#include "sim/network/cycle_thread.h"
#include "sim/simulated_hardware.h"
#include "sim/units/remote_unit.h"

namespace kalvo::sim {

namespace {

constexpr uint32_t kMinCycleMicros = 100;
constexpr uint32_t kMaxCycleMicros = 1'000'000;
constexpr int kMaxOffset = 15;

std::string addressRange(const StationDescription& s) {
    if (s.addressCount <= 1) return std::to_string(s.address);
    return std::to_string(s.address) + "-" + std::to_string(s.address + s.addressCount - 1);
}

bool covers(const StationDescription& s, int32_t address) {
    return address >= s.address && address < s.address + s.addressCount;
}

}  // namespace

struct Network::Impl {
    SimulatedHardware& hardware;
    uint32_t cycleMicros;
    std::vector<std::unique_ptr<chip::Chip>> chips;
    // One table change at a time, so that a check still holds when its
    // change is made. Taken before a chip's own mutex, never after.
    mutable std::mutex admin;
    std::unique_ptr<CycleThread> cycle;

    Impl(SimulatedHardware& hw, uint32_t micros) : hardware(hw), cycleMicros(micros) {}

    std::string checkBoard(size_t board) const {
        if (board < chips.size()) return {};
        return "board " + std::to_string(board) + " does not exist (" +
               std::to_string(chips.size()) + " boards)";
    }

    // Checks a station against the stations already on the board's line.
    static std::string checkStation(const StationDescription& s,
                                    const std::vector<StationDescription>& others) {
        if (s.address < 0 || s.address >= chip::kMaxStations) {
            return "station address " + std::to_string(s.address) + " is outside 0..31";
        }
        if (s.addressCount < 1 || s.address + s.addressCount > chip::kMaxStations) {
            return "station " + std::to_string(s.address) + " cannot take " +
                   std::to_string(s.addressCount) + " addresses (the line ends at 31)";
        }
        for (const auto& o : others) {
            if (s.address < o.address + o.addressCount && o.address < s.address + s.addressCount) {
                return "station " + std::to_string(s.address) + " (addresses " + addressRange(s) +
                       ") overlaps station " + std::to_string(o.address) + " (addresses " +
                       addressRange(o) + ")";
            }
        }
        return {};
    }

    bool unitExists(std::string_view name) const {
        return std::any_of(chips.begin(), chips.end(),
                           [&](const auto& c) { return c->hasUnit(name); });
    }

    // Checks a unit's placement; the unit itself is made by the caller.
    std::string checkUnit(const UnitDescription& u,
                          const std::vector<StationDescription>& stations) const {
        const std::string name = u.name();
        if (u.family.empty()) return "a unit needs a family";
        if (unitExists(name)) return "unit " + name + " exists already";
        if (std::none_of(stations.begin(), stations.end(),
                         [&](const StationDescription& s) { return covers(s, u.station); })) {
            return "unit " + name + ": station " + std::to_string(u.station) +
                   " is not on the line";
        }
        for (int o : u.offsets) {
            if (o < 0 || o > kMaxOffset) {
                return "unit " + name + ": offset " + std::to_string(o) + " is outside 0..15";
            }
        }
        return {};
    }

    // "no unit X", with the names there are, so a typo can be seen.
    std::string noUnit(std::string_view name) const {
        std::string names;
        for (const auto& c : chips)
            for (const auto& n : c->unitNames()) names += (names.empty() ? "" : ", ") + n;
        return "no unit " + std::string(name) +
               (names.empty() ? " (the network has no units)" : " (the units: " + names + ")");
    }

    chip::Chip* chipOfUnit(std::string_view name) const {
        for (const auto& c : chips) {
            if (c->hasUnit(name)) return c.get();
        }
        return nullptr;
    }

    bool stepAll() {
        bool running = false;
        for (auto& c : chips) running = c->step(cycleMicros) || running;
        return running;
    }
};

std::unique_ptr<Network> Network::create(SimulatedHardware& hardware, uint32_t cycleMicros,
                                         std::string* error) {
    if (cycleMicros < kMinCycleMicros || cycleMicros > kMaxCycleMicros) {
        if (error) {
            *error =
                "cycle period " + std::to_string(cycleMicros) + " us is outside 100..1000000 us";
        }
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(hardware, cycleMicros);
    for (size_t b = 0; b < hardware.boardCount(); ++b) {
        impl->chips.push_back(
            std::make_unique<chip::Chip>(b, hardware.memoryWindow(b), hardware.controlWindow(b)));
    }
    for (size_t b = 0; b < impl->chips.size(); ++b) {
        chip::Chip* c = impl->chips[b].get();
        hardware.setResetHandler(b, [c](size_t) { c->reset(); });
    }
    Impl* raw = impl.get();
    impl->cycle = std::make_unique<CycleThread>(cycleMicros, [raw] { return raw->stepAll(); });
    return std::unique_ptr<Network>(new Network(std::move(impl)));
}

Network::Network(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Network::~Network() {
    impl_->cycle->stop();
    for (size_t b = 0; b < impl_->chips.size(); ++b) {
        impl_->hardware.setResetHandler(b, nullptr);
        impl_->chips[b]->shutdown();
    }
}

std::string Network::apply(const NetworkDescription& spec) {
    std::lock_guard lock(impl_->admin);
    // Check everything against the lines as they are plus what comes before
    // it in the description; make every unit before anything is added.
    std::vector<std::vector<StationDescription>> stations(impl_->chips.size());
    for (size_t b = 0; b < impl_->chips.size(); ++b) stations[b] = impl_->chips[b]->stations();
    std::vector<std::string> names;
    struct Made {
        size_t board;
        UnitDescription spec;
        std::unique_ptr<RemoteUnit> unit;
    };
    std::vector<Made> made;
    for (const auto& board : spec.boards) {
        if (auto e = impl_->checkBoard(board.board); !e.empty()) return e;
        for (const auto& s : board.stations) {
            if (auto e = Impl::checkStation(s, stations[board.board]); !e.empty()) {
                return "board " + std::to_string(board.board) + ": " + e;
            }
            stations[board.board].push_back(s);
        }
    }
    for (const auto& board : spec.boards) {
        for (const auto& u : board.units) {
            if (auto e = impl_->checkUnit(u, stations[board.board]); !e.empty()) {
                return "board " + std::to_string(board.board) + ": " + e;
            }
            if (std::find(names.begin(), names.end(), u.name()) != names.end()) {
                return "unit " + u.name() + " is described twice";
            }
            names.push_back(u.name());
            std::string error;
            auto unit = makeRemoteUnit(u.family, u.offsets, u.kind, &error);
            if (!unit) return "unit " + u.name() + ": " + error;
            made.push_back(Made{board.board, u, std::move(unit)});
        }
    }
    for (const auto& board : spec.boards) {
        for (const auto& s : board.stations) {
            impl_->chips[board.board]->addStation(s, s.echo ? makeEchoPeer(s.address) : nullptr);
        }
    }
    for (auto& m : made) impl_->chips[m.board]->addUnit(m.spec, std::move(m.unit));
    // Boards left running by an earlier host: their output words, the served
    // range and the start command, as that host's driver wrote them. The
    // chip takes the line up at its next cycle.
    for (const auto& board : spec.boards) {
        bool running = false;
        uint8_t* window = impl_->hardware.memoryWindow(board.board);
        for (const auto& u : board.units) {
            if (!u.left) continue;
            running = true;
            const uint32_t word = 4 * uint32_t(u.station) + uint32_t(u.offsets.front());
            chip::storeWindow<uint16_t>(window, chip::kGmArea + 2 * word, *u.left);
        }
        if (!running) continue;
        chip::storeWindow<uint16_t>(window, chip::kStationRegister,
                                    uint16_t(chip::kMaxStations << chip::kStationSizeShift));
        chip::storeWindow<uint32_t>(window, chip::kCommand, chip::kCommandStart);
    }
    return {};
}

std::string Network::addStation(size_t board, const StationDescription& station) {
    std::lock_guard lock(impl_->admin);
    if (auto e = impl_->checkBoard(board); !e.empty()) return e;
    chip::Chip& c = *impl_->chips[board];
    if (auto e = Impl::checkStation(station, c.stations()); !e.empty()) return e;
    c.addStation(station, station.echo ? makeEchoPeer(station.address) : nullptr);
    return {};
}

std::string Network::removeStation(size_t board, int32_t address) {
    std::lock_guard lock(impl_->admin);
    if (auto e = impl_->checkBoard(board); !e.empty()) return e;
    chip::Chip& c = *impl_->chips[board];
    if (!c.hasStation(address)) {
        return "no station " + std::to_string(address) + " on board " + std::to_string(board);
    }
    c.removeStation(address);
    return {};
}

std::string Network::addUnit(size_t board, const UnitDescription& unit) {
    std::lock_guard lock(impl_->admin);
    if (auto e = impl_->checkBoard(board); !e.empty()) return e;
    chip::Chip& c = *impl_->chips[board];
    if (auto e = impl_->checkUnit(unit, c.stations()); !e.empty()) return e;
    std::string error;
    auto made = makeRemoteUnit(unit.family, unit.offsets, unit.kind, &error);
    if (!made) return "unit " + unit.name() + ": " + error;
    c.addUnit(unit, std::move(made));
    return {};
}

std::string Network::addUnit(size_t board, const UnitDescription& unit,
                             std::unique_ptr<RemoteUnit> made) {
    std::lock_guard lock(impl_->admin);
    if (auto e = impl_->checkBoard(board); !e.empty()) return e;
    if (!made) return "unit " + unit.name() + ": no unit given";
    chip::Chip& c = *impl_->chips[board];
    if (auto e = impl_->checkUnit(unit, c.stations()); !e.empty()) return e;
    c.addUnit(unit, std::move(made));
    return {};
}

std::string Network::removeUnit(std::string_view name) {
    std::lock_guard lock(impl_->admin);
    chip::Chip* c = impl_->chipOfUnit(name);
    if (c == nullptr || !c->removeUnit(name)) return impl_->noUnit(name);
    return {};
}

std::string Network::setStationOnline(size_t board, int32_t address, bool online) {
    std::lock_guard lock(impl_->admin);
    if (auto e = impl_->checkBoard(board); !e.empty()) return e;
    if (!impl_->chips[board]->setStationOnline(address, online)) {
        return "no station " + std::to_string(address) + " on board " + std::to_string(board);
    }
    return {};
}

std::string Network::setUnitSilent(std::string_view name, bool silent) {
    std::lock_guard lock(impl_->admin);
    chip::Chip* c = impl_->chipOfUnit(name);
    if (c == nullptr || !c->setUnitSilent(name, silent)) return impl_->noUnit(name);
    return {};
}

std::string Network::setMailAbsent(size_t board, int32_t address, bool absent) {
    std::lock_guard lock(impl_->admin);
    if (auto e = impl_->checkBoard(board); !e.empty()) return e;
    if (address < 0 || address > 63) {
        return "station address " + std::to_string(address) + " is outside 0..63";
    }
    impl_->chips[board]->setMailAbsent(address, absent);
    return {};
}

std::string Network::unitControl(std::string_view name, const std::vector<std::string>& words) {
    std::shared_ptr<RemoteUnit> unit;
    {
        std::lock_guard lock(impl_->admin);
        if (chip::Chip* c = impl_->chipOfUnit(name)) unit = c->findUnit(name);
    }
    if (!unit) return impl_->noUnit(name);
    // Outside the admin lock: a unit command may take a while.
    return unit->control(words);
}

std::string Network::describeUnit(std::string_view name, std::string* error) const {
    std::shared_ptr<RemoteUnit> unit;
    {
        std::lock_guard lock(impl_->admin);
        if (chip::Chip* c = impl_->chipOfUnit(name)) unit = c->findUnit(name);
    }
    if (!unit) {
        if (error) *error = impl_->noUnit(name);
        return {};
    }
    if (error) error->clear();
    return unit->describe();
}

RemoteUnit* Network::unit(std::string_view name) const {
    std::lock_guard lock(impl_->admin);
    chip::Chip* c = impl_->chipOfUnit(name);
    return c ? c->findUnit(name).get() : nullptr;
}

std::string Network::describe(size_t board) const {
    if (auto e = impl_->checkBoard(board); !e.empty()) return e + "\n";
    return impl_->chips[board]->describe();
}

std::vector<std::string> Network::trace(size_t board, size_t maxLines) const {
    if (board >= impl_->chips.size()) return {};
    return impl_->chips[board]->traceRing().last(maxLines);
}

LineTiming Network::timing() const {
    return impl_->cycle->timing();
}

size_t Network::boardCount() const {
    return impl_->chips.size();
}

}  // namespace kalvo::sim
