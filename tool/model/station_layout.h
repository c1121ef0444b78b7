// How a station's units fall on its 16 logical IDs, and the unit numbers
// (DIO_1, ADA_2, ...) that name the units' sections in Kalvo.ini.
#pragma once

#include <array>
#include <string>

#include "tool/model/network_model.h"

namespace kalvo::tool {

// The station's slots 0-15 from its modules in order: each module's model
// takes SlotCount consecutive slots; an input "QMSA40*" and an output
// "QMSA04*" after the same general units share their slots; a special
// (axis or RFID) model ends the list. Slots beyond 16 are dropped.
void layoutSlots(TStaAddRec& station, const ModelTable& models);
// Every address of every board.
void layoutAllSlots(ConfigModel& model);

// The addresses a head station takes: its address count, its type's, and
// those its laid-out units reach (an MST station's last unit slot, an axis or
// RFID station's slots), whichever is most.
int32_t stationAddressesNeeded(const TStaAddRec& station);

// Recomputes every Seq of the network over boards, lines and addresses in
// ascending order: every DIO slot its own unit; the slots of one ADA or SIO
// unit share a number; each axis or RFID station one unit. A slot whose
// unit has no counter (type NEW) gets 0.
void renumber(ConfigModel& model);

// The station dialog's rows: how the chosen modules fall on the 16 rows,
// with the shared input/output label, and the addresses the station needs.
struct StationRow {
    std::string Name;   // unit-type name; empty for no unit
    int32_t Index = 0;  // model-list index; 0 for no unit
    std::string Label;  // model code, or the shared label
};
struct StationRows {
    bool Ok = false;
    std::array<StationRow, kSlots> Rows;
    int32_t AddrCount = 1;
};
// modules: model-list indexes of modules 1-4; the list ends at the first 0
// (or negative). Fails when the units need more than 16 rows.
StationRows layoutRows(const ModelTable& models, const std::array<int32_t, kModules>& modules);

}  // namespace kalvo::tool
