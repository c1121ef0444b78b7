// Save of the network model into the configuration folder (Kalvo.ini and the
// board library ini files, through the folder writer) and load back.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tool/model/configuration_save.h"
#include "tool/model/ini_source.h"
#include "tool/model/network_model.h"

namespace kalvo::tool {

// One unit of a head station as the save names it: an MST station's run of
// slots of one type and number, or an axis or RFID station's one unit over
// its slots (at most the station's 16).
struct StationUnit {
    std::string Section;  // type name + "_" + number, "DIO_3"
    std::vector<int> Slots;
};
std::vector<StationUnit> stationUnits(const TStaAddRec& rec);

// The sections a save writes, in file order, from the model. addressDone, when
// given, is called once per address of the unit-section walk (the save's
// progress).
ConfigurationSaveInput saveInput(const ConfigModel& model,
                                 const std::function<void()>& addressDone = {});
// Writes Kalvo.ini anew and merges the line settings into the board library
// ini files of the folder. No check: see folder_save.h for the save the tool
// does.
ConfigurationSaveResult saveConfiguration(const ConfigModel& model);

enum class LoadStatus { ok, missing, unreadable, notToolFile, noBoards, tooManyBoards };

// A unit section a load placed: which slots of which station it took.
struct LoadedUnit {
    std::string Section;
    int Slot = 0;  // board slot
    int Line = 0;
    int Base = 0;
    std::vector<int> Slots;
};

struct LoadResult {
    LoadStatus Status = LoadStatus::missing;
    std::string Message;  // why the load failed; empty on success
    bool Cp932 = false;   // Kalvo.ini was read as CP932
    // What the load skipped, one readable line each with its section
    // ("Kalvo.ini: [DIO_3]: ...").
    std::vector<std::string> Skipped;
    std::vector<LoadedUnit> Units;
    bool ok() const { return Status == LoadStatus::ok; }
};

// Rebuilds the board settings, the board count and the network from
// Kalvo.ini in the model's folder.
LoadResult loadConfiguration(ConfigModel& model);
// The same from a Kalvo.ini already read.
LoadResult loadConfiguration(ConfigModel& model, const IniSections& ini);

}  // namespace kalvo::tool
