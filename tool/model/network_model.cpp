#include "tool/model/network_model.h"

#include "tool/model/station_layout.h"

namespace kalvo::tool {

void setSlotUnit(TKVStlRec& slot, const ModelTable& models, int32_t index) {
    slot.Unit = index;
    slot.Info = models.entry(index);
    slot.Info2 = slot.Info;
}

int stationExtent(const ConfigModel& model, int slot, int line, int address) {
    int n = 1;
    while (address + n < kAddresses) {
        const TStaAddRec& next = model.at(slot, line, address + n);
        if (next.Head || next.StaType == kStaNew) break;
        ++n;
    }
    return n;
}

ConfigModel::ConfigModel(const ModelTable& models) : models_(&models) {
    buildTemplates();
    clearNetwork();
}

void ConfigModel::buildTemplates() {
    const ModelTable& m = *models_;
    for (int32_t t = 0; t < kStationTypes; ++t) {
        TStaAddRec rec;
        rec.StaType = t;
        rec.StaAddr = -1;
        rec.Head = true;
        rec.AddrCount = stationAddressCount(t);
        std::array<int32_t, kModules> modules{};
        int special = 0, count = 0;
        switch (t) {
            case kStaAxs2:
                special = kSpecialAxs2, count = 2;
                break;
            case kStaAxs4:
                special = kSpecialAxs4, count = 4;
                break;
            case kStaRfid2:
                special = kSpecialRfid2, count = 2;
                break;
            case kStaRfid3:
                special = kSpecialRfid3, count = 3;
                break;
            default:
                break;
        }
        available_[size_t(t)] = t != kStaSub;
        if (special != 0) {
            const int32_t ref = m.special(special);
            // Without its model the station type has no modules at all.
            available_[size_t(t)] = ref > 0;
            for (int k = 0; k < count; ++k) modules[size_t(k)] = ref > 0 ? ref : 0;
        }
        rec.Module = modules;
        // The slots as a load lays out the same modules: each special model
        // takes its SlotCount slots. (Four slots per module, as a literal
        // reading has it, differs from that when SlotCount is not four per
        // module, and then the same station would save other code bytes
        // once reopened.)
        layoutSlots(rec, m);
        for (TKVStlRec& s : rec.Slot) {
            setSlotUnit(s, m, s.Unit);
            s.Seq = 0;
            s.SlotNo = -1;
        }
        templates_[size_t(t)] = rec;
    }
    current = templates_[0];
}

const TStaAddRec& ConfigModel::stationTemplate(int32_t staType) const {
    return templates_[size_t(staType >= 0 && staType < kStationTypes ? staType : 0)];
}

bool ConfigModel::templateAvailable(int32_t staType) const {
    return staType >= 0 && staType < kStationTypes && available_[size_t(staType)];
}

TStaAddRec ConfigModel::emptyAddress(int32_t address) const {
    TStaAddRec rec = templates_[0];
    rec.StaAddr = address;
    return rec;
}

void ConfigModel::clearNetwork() {
    for (auto& board : network_)
        for (auto& line : board)
            for (int a = 0; a < kAddresses; ++a) line[size_t(a)] = emptyAddress(a);
}

void ConfigModel::startNew(const BoardSettings& boards) {
    boards_ = boards;
    int32_t n = 0;
    for (auto& b : boards_) {
        const auto& kinds = boardKinds();
        if (b.Kind > 0 && b.Kind < kBoardKinds && kinds[size_t(b.Kind)].LineMax > 0) {
            b.BoardNo = ++n;
            b.LineCount = kinds[size_t(b.Kind)].LineMax;
        } else {
            b = TBoardSetRec{};
        }
    }
    boardCount_ = n;
    notUnderstood_ = {};
    clearNetwork();
}

int ConfigModel::slotOfBoard(int32_t boardNo) const {
    for (int s = 0; s < kBoardSlots; ++s)
        if (boardNo != 0 && boards_[size_t(s)].BoardNo == boardNo) return s;
    return -1;
}

int ConfigModel::pageCount() const {
    int pages = 0;
    for (const auto& b : boards_)
        if (b.BoardNo != 0) pages += std::max(0, std::min(b.LineCount, kLines));
    return pages;
}

}  // namespace kalvo::tool
