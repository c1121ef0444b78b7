// What a placed station holds, for a person: its addresses, its modules with
// their plain names, and its units as the save names them with their offsets
// and logical IDs. kalvo-config show prints it; the editor's tooltips and
// pictures show it.
#pragma once

#include <string>
#include <vector>

#include "tool/model/network_model.h"

namespace kalvo::tool {

struct ModuleSummary {
    std::string Code;   // model code, "QMDIO16"
    std::string Label;  // with its plain name: "QMDIO16 (16-point digital I/O)"
};

struct UnitSummary {
    std::string Section;  // "DIO_3"; a unit no section numbers yet ends in "_0"
    std::string ModelCode;
    std::vector<int> Offsets;     // slots of the station
    std::vector<int> LogicalIds;  // 4 x address + slot, those below 128
};

struct StationSummary {
    int32_t StaType = kStaNew;
    int First = 0, Last = 0;  // the addresses it covers
    bool RunsPast = false;    // its units reach past address 31
    std::vector<ModuleSummary> Modules;
    std::vector<UnitSummary> Units;
};

// The station whose head is at (slot, line, address); StaType NEW for an
// empty address or a continuation address.
StationSummary summarizeStation(const ConfigModel& model, int slot, int line, int address);

// "QMDIO16 (16-point digital I/O)"; the code alone when the name is "--".
std::string moduleLabel(const TStlInfoRec& model);

}  // namespace kalvo::tool
