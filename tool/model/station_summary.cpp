#include "tool/model/station_summary.h"

#include "tool/model/configuration_files.h"
#include "tool/model/station_layout.h"

namespace kalvo::tool {

std::string moduleLabel(const TStlInfoRec& model) {
    const std::string& name = model.Info.Name;
    return name.empty() || name == "--" ? model.ModelCode : model.ModelCode + " (" + name + ")";
}

StationSummary summarizeStation(const ConfigModel& model, int slot, int line, int address) {
    StationSummary out;
    const TStaAddRec& rec = model.at(slot, line, address);
    if (rec.StaType == kStaNew || !rec.Head) return out;
    out.StaType = rec.StaType;
    out.First = address;
    out.Last = address + stationExtent(model, slot, line, address) - 1;
    out.RunsPast = address + stationAddressesNeeded(rec) > kAddresses;
    const ModelTable& models = model.models();
    for (int m = 0; m < kModules && rec.Module[size_t(m)] > 0; ++m) {
        const TStlInfoRec& e = models.entry(rec.Module[size_t(m)]);
        out.Modules.push_back({e.ModelCode, moduleLabel(e)});
    }
    for (const StationUnit& unit : stationUnits(rec)) {
        UnitSummary u{unit.Section, rec.Slot[size_t(unit.Slots.front())].Info.ModelCode, {}, {}};
        for (int s : unit.Slots) {
            u.Offsets.push_back(s);
            const int id = kIdsPerAddress * address + s;
            if (id < kIdsPerAddress * kAddresses) u.LogicalIds.push_back(id);
        }
        out.Units.push_back(std::move(u));
    }
    return out;
}

}  // namespace kalvo::tool
