// The configuration tool's writer of the project folder: Kalvo.ini written
// anew, and the line settings of boards whose kind has them merged into the
// board library's own ini. The model walk (configuration_files.h) supplies
// plain inputs (the boards by slot, the unit sections and the station
// sections in the order they are to appear); this writer does the file
// handling and the order.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "api/configfiles/ini_records.h"
#include "api/configfiles/kalvo_ini_class.h"
#include "tool/model/model_types.h"

namespace kalvo::tool {

using configfiles::kRecLines;
using configfiles::TKVDllIniInfo;
using configfiles::TKVIniBoardRec;
using configfiles::TKVIniStlRec;
using configfiles::TKVSIniCtrRec;

// One board slot, from the slot's settings and its row of the board-kind
// table.
struct SaveBoardSlot {
    int32_t BoardNo = 0;       // 1-4; 0 = slot not used
    std::string LibName;       // board library of the kind: "Kind" and "<LibName>.ini"
    int32_t LineSettings = 0;  // 1 = the kind takes baud rate and long frame
    std::array<int32_t, kRecLines> Baudrate{-1, -1};  // element 0 is line 1
    std::array<int32_t, kRecLines> LongFrame{-1, -1};
};

struct SaveUnitSection {
    std::string Section;  // unit type name + "_" + Seq, for example "DIO_3"
    TKVIniStlRec Rec;
};

struct SaveStationSection {
    int32_t BoardNo = 0;
    int32_t LineNo = 0;  // 1-based
    int32_t Address = 0;
    TKVSIniCtrRec Rec;
};

struct ConfigurationSaveInput {
    std::array<SaveBoardSlot, kBoardSlots> Boards;
    std::vector<SaveUnitSection> Units;
    std::vector<SaveStationSection> Stations;
};

struct ConfigurationSaveResult {
    // Files that could not be written, or whose names or values could not
    // all be stored; empty on success.
    std::vector<std::string> FailedFiles;
    bool ok() const { return FailedFiles.empty(); }
};

// The board section record of a used slot: line 1 only, station address 0,
// station size 32, bus size 4; baud rate and long frame only for a kind with
// line settings.
TKVIniBoardRec boardSectionRecord(const SaveBoardSlot& slot);

// The board library ini entries of the used slots whose kind has line
// settings, in slot order; BoardIndex counts the earlier entries with the
// same library name (compared exactly).
std::vector<TKVDllIniInfo> boardLibraryEntries(
    const std::array<SaveBoardSlot, kBoardSlots>& boards);

// Kalvo.ini as saveConfiguration writes it, in memory; *complete is false
// when a name or value could not be stored (it would not read back).
configfiles::TKalvoIniClass renderKalvoIni(std::string_view folder,
                                           const ConfigurationSaveInput& input, bool* complete);

// Writes "Kalvo.ini" in folder from an empty profile, so nothing of an
// earlier save survives: "KALVO" ("ConfigTool" = 1, "Board" = the number of
// used slots), the board sections in slot order, the unit sections, the
// station sections. Each board library ini of the entries above is read,
// given its keys (other sections and keys stay) and written. Kalvo.ini is
// written last; every file is replaced at once, so a failed save leaves the
// earlier file whole.
ConfigurationSaveResult saveConfiguration(std::string_view folder,
                                          const ConfigurationSaveInput& input);

}  // namespace kalvo::tool
