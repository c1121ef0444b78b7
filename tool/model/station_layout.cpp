#include "tool/model/station_layout.h"

#include <algorithm>

namespace kalvo::tool {

namespace {

bool isSpecial(const ModelTable& models, int32_t index) {
    for (int k = kSpecialAxs2; k <= kSpecialRfid3; ++k)
        if (models.special(k) == index) return true;
    return false;
}

}  // namespace

void layoutSlots(TStaAddRec& station, const ModelTable& models) {
    std::array<int32_t, kSlots> buffer{};
    int g = 0, i = 0, o = 0;
    auto put = [&buffer](int at, int32_t e) {
        if (at < kSlots) buffer[size_t(at)] = e;
    };
    for (int n = 0; n < kModules; ++n) {
        const int32_t e = station.Module[size_t(n)];
        if (e < 1 || !models.validIndex(e)) break;
        const TStlInfoRec& m = models.entry(e);
        // Past slot 16 nothing lands any more: a huge SlotCount ends early.
        const int32_t repeat = std::min<int32_t>(m.SlotCount, kSlots + 1);
        for (int32_t r = 0; r < repeat; ++r) {
            if (m.ModelCode == kInputModel) {
                put(i++, e);
                g = std::max(i, o);
            } else if (m.ModelCode == kOutputModel) {
                put(o++, e);
                g = std::max(i, o);
            } else {
                put(g++, e);
                i = o = g;
            }
        }
        if (isSpecial(models, e)) break;
    }
    for (int s = 0; s < kSlots; ++s) {
        TKVStlRec& slot = station.Slot[size_t(s)];
        slot.Unit = buffer[size_t(s)];
        slot.Info = models.entry(slot.Unit);
    }
}

void layoutAllSlots(ConfigModel& model) {
    for (auto& board : model.network())
        for (auto& line : board)
            for (auto& rec : line) layoutSlots(rec, model.models());
}

int32_t stationAddressesNeeded(const TStaAddRec& station) {
    int32_t slots = 0;
    if (station.StaType == kStaMst) {
        for (int s = 0; s < kSlots; ++s)
            if (station.Slot[size_t(s)].Unit >= 1) slots = s + 1;
    } else if (station.StaType >= kStaAxs2 && station.StaType <= kStaRfid3) {
        slots = std::clamp(station.Slot[0].Info.SlotCount, 0, kSlots);
    }
    return std::max({station.AddrCount, stationAddressCount(station.StaType),
                     (slots + kIdsPerAddress - 1) / kIdsPerAddress});
}

void renumber(ConfigModel& model) {
    // Counters of unit-type rows 1 to 8 (DIO ... SUB).
    std::array<int32_t, kUnitTypes> c;
    c.fill(1);
    int32_t adaSub = 0, sioSub = 0;
    const int ada = unitTypeIndex("ADA"), sio = unitTypeIndex("SIO"), dio = unitTypeIndex("DIO"),
              axsa = unitTypeIndex("AXSA"), rfid = unitTypeIndex("RFID");
    for (int b = 0; b < kBoardSlots; ++b) {
        const TBoardSetRec& board = model.boards()[size_t(b)];
        if (board.BoardNo == 0) continue;
        for (int l = 0; l < std::min(board.LineCount, kLines); ++l) {
            for (int a = 0; a < kAddresses; ++a) {
                TStaAddRec& rec = model.at(b, l, a);
                if (rec.StaType == kStaNew || !rec.Head) continue;
                if (rec.StaType == kStaMst) {
                    for (int s = 0; s < kSlots; ++s) {
                        TKVStlRec& slot = rec.Slot[size_t(s)];
                        const int w = unitTypeIndex(slot.Info.Name);
                        if (slot.Unit <= 0 || w < 1) {
                            slot.Seq = 0;
                            continue;
                        }
                        slot.Seq = c[size_t(w)];
                        int32_t* sub = w == ada ? &adaSub : w == sio ? &sioSub : nullptr;
                        if (s == kSlots - 1) {
                            ++c[size_t(w)];
                            // The station ends the unit: its next slots are
                            // not the rest of it.
                            if (sub) *sub = 0;
                        } else if (w == dio) {
                            ++c[size_t(w)];
                        } else if (sub) {
                            if (slot.Info.SlotCount - 1 > *sub) {
                                ++*sub;
                            } else {
                                *sub = 0;
                                ++c[size_t(w)];
                            }
                        }
                    }
                } else if (rec.StaType >= kStaAxs2 && rec.StaType <= kStaRfid3) {
                    const int w = rec.StaType <= kStaAxs4 ? axsa : rfid;
                    const int32_t n = std::clamp(rec.Slot[0].Info.SlotCount, 0, kSlots);
                    for (int s = 0; s < n; ++s) rec.Slot[size_t(s)].Seq = c[size_t(w)];
                    ++c[size_t(w)];
                }
            }
        }
    }
}

StationRows layoutRows(const ModelTable& models, const std::array<int32_t, kModules>& modules) {
    StationRows out;
    int i = 0, j = 0, k = 0;
    for (int n = 0; n < kModules; ++n) {
        const int32_t e = modules[size_t(n)];
        if (e < 1 || !models.validIndex(e)) break;
        const TStlInfoRec& m = models.entry(e);
        const bool input = m.ModelCode == kInputModel, output = m.ModelCode == kOutputModel;
        for (int32_t r = 0; r < m.RowCount; ++r) {
            if (i >= kSlots && !(input && j <= kSlots - 1) && !(output && k <= kSlots - 1))
                return out;  // more than 16 IDs
            if (!input && !output) {
                out.Rows[size_t(i)] = {m.Name, e, m.ModelCode};
                ++i;
                if (j == k) j = k = i;
            } else if (input) {
                if (j >= k) j = i;
                if (j >= kSlots) return out;
                out.Rows[size_t(j)] = {m.Name, e, j < k ? std::string(kSharedLabel) : m.ModelCode};
                ++j;
                i = std::max(i, j);
            } else {
                if (k >= j) k = i;
                if (k >= kSlots) return out;
                out.Rows[size_t(k)] = {m.Name, e, k < j ? std::string(kSharedLabel) : m.ModelCode};
                ++k;
                i = std::max(i, k);
            }
        }
    }
    out.AddrCount = (i - 1) / 4 + 1;
    out.Ok = true;
    return out;
}

}  // namespace kalvo::tool
