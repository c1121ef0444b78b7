#include "tool/model/editor_operations.h"

#include <algorithm>

namespace kalvo::tool {

bool placementCheck(ConfigModel& model, int slot, int line, int address, const TStaAddRec& placed,
                    const TStaAddRec& old) {
    const int32_t n = placed.AddrCount, o = old.AddrCount;
    for (int32_t k = 1; k < n; ++k) {
        if (address + k >= kAddresses) return false;
        const TStaAddRec& next = model.at(slot, line, address + k);
        if (next.Head && next.StaType != kStaNew) return false;
    }
    // Only the old station's own continuation addresses are freed: a head
    // within its old reach (a damaged file can give an empty address an
    // address count) belongs to another station and stays.
    for (int32_t k = 1; k < o && address + k < kAddresses; ++k) {
        TStaAddRec& next = model.at(slot, line, address + k);
        if (next.Head && next.StaType != kStaNew) continue;
        next = model.emptyAddress(address + k);
    }
    if (placed.StaType >= kStaMst && placed.StaType <= kStaRfid3) {
        for (int32_t k = 1; k < n; ++k) {
            TStaAddRec& next = model.at(slot, line, address + k);
            next = placed;
            next.Head = false;
        }
    }
    return true;
}

DropResult dropCurrent(ConfigModel& model, int slot, int line, int address) {
    if (!model.current.Head) return DropResult::ignored;
    TStaAddRec& target = model.at(slot, line, address);
    const TStaAddRec old = target;
    if (model.current.StaAddr == old.StaAddr) return DropResult::ignored;
    if (!target.Head) return DropResult::onContinuation;
    target = model.current;
    target.StaAddr = old.StaAddr;
    const TStaAddRec placed = target;
    if (!placementCheck(model, slot, line, address, placed, old)) {
        model.at(slot, line, address) = old;
        renumber(model);
        return DropResult::overlap;
    }
    renumber(model);
    return DropResult::placed;
}

DropResult placeStation(ConfigModel& model, int slot, int line, int address, int32_t staType) {
    model.current = model.stationTemplate(staType);
    return dropCurrent(model, slot, line, address);
}

DropResult removeStation(ConfigModel& model, int slot, int line, int address) {
    return placeStation(model, slot, line, address, kStaNew);
}

DropResult duplicateStation(ConfigModel& model, int slot, int line, int from, int to) {
    model.current = model.at(slot, line, from);
    return dropCurrent(model, slot, line, to);
}

DropResult moveStation(ConfigModel& model, int slot, int line, int from, int to) {
    const Network backup = model.network();
    const int32_t head = model.at(slot, line, from).StaAddr;
    DropResult r = duplicateStation(model, slot, line, from, to);
    if (r != DropResult::placed) return r;
    // The source is removed unless the copy now covers it.
    if (head >= 0 && head < kAddresses && model.at(slot, line, head).Head &&
        model.at(slot, line, head).StaAddr == head) {
        r = removeStation(model, slot, line, head);
        if (r != DropResult::placed) {
            model.network() = backup;
            renumber(model);
        }
    }
    return r;
}

std::string dropRefusal(const ConfigModel& model, int slot, int line, int address,
                        DropResult result) {
    const std::string at = "address " + std::to_string(address) + ": ";
    if (result == DropResult::onContinuation) {
        const TStaAddRec& target = model.at(slot, line, address);
        return at + "a continuation address of the " +
               std::string(
                   stationTypeNames()[size_t(std::clamp(target.StaType, 0, kStationTypes - 1))]) +
               " station at " + std::to_string(target.StaAddr) + "; drop on a free address";
    }
    if (result != DropResult::overlap) return {};
    const TStaAddRec& station = model.current;
    const int32_t n = station.AddrCount;
    std::string text =
        at + "an " +
        std::string(stationTypeNames()[size_t(std::clamp(station.StaType, 0, kStationTypes - 1))]) +
        " station needs " + std::to_string(n) + " free addresses (" + std::to_string(address) +
        " to " + std::to_string(address + n - 1) + ")";
    for (int32_t k = 1; k < n; ++k) {
        if (address + k >= kAddresses) return text + ", and the line ends at 31";
        const TStaAddRec& next = model.at(slot, line, address + k);
        if (next.Head && next.StaType != kStaNew)
            return text + ", and address " + std::to_string(address + k) + " holds the " +
                   std::string(stationTypeNames()[size_t(next.StaType)]) + " station there";
    }
    return text;
}

bool moduleOffered(const ModelTable& models, int32_t staType, int module, int32_t index) {
    if (!models.validIndex(index)) return false;
    const TStlInfoRec& e = models.entry(index);
    if (e.Info.Model == kSharedLabel) return false;
    if (e.Name == "NEW" || e.Name == "DIO" || e.Name == "ADA") return true;
    if (e.Name == "SIO") return module == 1;
    if (e.Name == "AXSA") return staType == kStaAxs2 || staType == kStaAxs4;
    if (e.Name == "RFID") return staType == kStaRfid2 || staType == kStaRfid3;
    return false;
}

namespace {

// The rows' units into the station's slots, each with its own slot number and
// the entry its row's label names.
void takeRows(TStaAddRec& station, const ModelTable& models, const StationRows& rows) {
    for (int r = 0; r < kSlots; ++r) {
        TKVStlRec& s = station.Slot[size_t(r)];
        s.Unit = rows.Rows[size_t(r)].Index;
        s.SlotNo = r;
        s.Info = models.entry(s.Unit);
        const int32_t label = models.findModel(rows.Rows[size_t(r)].Label);
        if (label >= 0) s.Info2 = models.entry(label);
    }
}

}  // namespace

void previewStationModules(ConfigModel& model, int slot, int line, int address,
                           const StationRows& rows, const std::array<int32_t, kModules>& modules) {
    TStaAddRec& station = model.at(slot, line, address);
    if (station.StaType != kStaMst || !station.Head) return;
    station.Module = modules;
    takeRows(station, model.models(), rows);
    renumber(model);
}

ModulesOutcome setStationModules(ConfigModel& model, int slot, int line, int address,
                                 const std::array<int32_t, kModules>& modules) {
    const ModelTable& models = model.models();
    const TStaAddRec before = model.at(slot, line, address);
    if (before.StaType == kStaNew || !before.Head)
        return {ModulesResult::notHead, "address " + std::to_string(address) +
                                            " holds no station head; place a station first"};
    if (before.StaType != kStaMst)
        return {ModulesResult::fixedModules,
                "the " + std::string(stationTypeNames()[size_t(before.StaType)]) + " station at " +
                    std::to_string(address) +
                    " has fixed modules; only MST stations take chosen modules"};
    bool ended = false;
    for (int n = 0; n < kModules; ++n) {
        const int32_t e = modules[size_t(n)];
        if (e <= 0) {
            ended = true;
            continue;
        }
        const std::string code = models.entry(e).ModelCode;
        if (ended || (n > 0 && models.entry(modules[size_t(n - 1)]).ModelCode == kLastModule))
            return {ModulesResult::afterEnd, "module " + std::to_string(n + 1) + " (" + code +
                                                 ") follows an empty module or " +
                                                 std::string(kLastModule) +
                                                 ", which ends the module list"};
        if (!moduleOffered(models, kStaMst, n + 1, e))
            return {ModulesResult::notOffered,
                    "model " + code + " (" + models.entry(e).Name + ") cannot be module " +
                        std::to_string(n + 1) +
                        " of an MST station (SIO only as module 1; AXSA and RFID only on their "
                        "own station types)"};
    }
    const StationRows rows = layoutRows(models, modules);
    if (!rows.Ok)
        return {ModulesResult::tooManyIds,
                "the modules need more than the station's 16 logical IDs; choose fewer"};

    const Network backup = model.network();
    TStaAddRec station = before;
    station.Module = modules;
    takeRows(station, models, rows);
    station.AddrCount = rows.AddrCount;
    model.at(slot, line, address) = station;
    if (!placementCheck(model, slot, line, address, station, before)) {
        model.network() = backup;
        renumber(model);
        return {ModulesResult::overlap,
                "the station at " + std::to_string(address) + " would need " +
                    std::to_string(rows.AddrCount) +
                    " addresses and overlap the next station or run past address 31 (the IDs "
                    "would overlap); remove the station in the way or choose fewer modules"};
    }
    renumber(model);
    return {ModulesResult::changed, {}};
}

void applyBoardSettings(ConfigModel& model, const BoardSettings& changed) {
    BoardSettings& boards = model.boards();
    int32_t count = 0;
    for (int i = 0; i < kBoardSlots; ++i) {
        const TBoardSetRec& n = changed[size_t(i)];
        TBoardSetRec& e = boards[size_t(i)];
        // A board given a kind (or removed) is the user's choice from now on;
        // one kept without lines stays not understood.
        if (n.BoardNo == 0 || n.LineCount > 0) model.setBoardNotUnderstood(i, {});
        if (n.BoardNo == 0 || n.LineCount < e.LineCount) {
            // Lines that go lose their stations.
            for (int l = std::max(n.BoardNo == 0 ? 0 : n.LineCount, 0);
                 l < std::min(e.LineCount, kLines); ++l)
                for (int a = 0; a < kAddresses; ++a) model.at(i, l, a) = model.emptyAddress(a);
            e.BoardNo = n.BoardNo;
            e.Kind = n.Kind;
            e.LineCount = n.BoardNo == 0 ? 0 : n.LineCount;
            if (n.BoardNo == 0) continue;
        }
        e.BoardNo = n.BoardNo;
        e.Kind = n.Kind;
        e.Line = n.Line;
        if (n.LineCount > e.LineCount) {
            // New lines start empty.
            for (int l = std::max(e.LineCount, 0); l < std::min(n.LineCount, kLines); ++l)
                for (int a = 0; a < kAddresses; ++a) model.at(i, l, a) = model.emptyAddress(a);
        }
        e.LineCount = n.LineCount;
        ++count;
    }
    model.setBoardCount(count);
    renumber(model);
}

BoardSettings boardSettingsFromKinds(const std::array<int32_t, kBoardSlots>& kinds,
                                     const std::array<TLineSetRec, kBoardSlots>& lines) {
    BoardSettings boards{};
    int32_t n = 0;
    for (int j = 0; j < kBoardSlots; ++j) {
        const int32_t k = kinds[size_t(j)];
        if (k <= 0 || k >= kBoardKinds || boardKinds()[size_t(k)].LineMax <= 0) continue;
        TBoardSetRec& b = boards[size_t(j)];
        b.BoardNo = ++n;
        b.Kind = k;
        b.LineCount = boardKinds()[size_t(k)].LineMax;
        b.Line[0] = lines[size_t(j)];
    }
    return boards;
}

BoardSettings boardSettingsFromDialog(const ConfigModel& model,
                                      const std::array<int32_t, kBoardSlots>& kinds,
                                      const std::array<TLineSetRec, kBoardSlots>& lines) {
    std::array<int32_t, kBoardSlots> chosen = kinds;
    std::array<bool, kBoardSlots> kept{};
    for (int j = 0; j < kBoardSlots; ++j) {
        const int32_t k = kinds[size_t(j)];
        const bool noKind = k <= 0 || k >= kBoardKinds || boardKinds()[size_t(k)].LineMax <= 0;
        kept[size_t(j)] = noKind && model.boards()[size_t(j)].BoardNo != 0 &&
                          !model.boardNotUnderstood(j).empty();
        // Counted like a board of the first kind, then put back as it was.
        if (kept[size_t(j)]) chosen[size_t(j)] = 1;
    }
    BoardSettings boards = boardSettingsFromKinds(chosen, lines);
    for (int j = 0; j < kBoardSlots; ++j) {
        if (!kept[size_t(j)]) continue;
        const int32_t number = boards[size_t(j)].BoardNo;
        boards[size_t(j)] = model.boards()[size_t(j)];
        boards[size_t(j)].BoardNo = number;
    }
    return boards;
}

std::vector<int> laterBoardsInUse(const std::array<int32_t, kBoardSlots>& kinds, int slot) {
    std::vector<int> later;
    for (int i = slot + 1; i < kBoardSlots; ++i) {
        const int32_t k = kinds[size_t(i)];
        if (k > 0 && k < kBoardKinds && boardKinds()[size_t(k)].LineMax > 0) later.push_back(i);
    }
    return later;
}

int32_t baudFromItem(int item, int32_t otherwise) {
    switch (item) {
        case 0:
            return 3;
        case 1:
            return 6;
        case 2:
            return 12;
        default:
            return otherwise;
    }
}

int baudItem(int32_t baudrate) {
    return baudrate == 3 ? 0 : baudrate == 6 ? 1 : baudrate == 12 ? 2 : -1;
}

}  // namespace kalvo::tool
