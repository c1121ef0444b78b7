// Save of the network model into the configuration folder (Kalvo.ini and the
// board library ini files, through the configuration save of the file
// formats) and load back.
#pragma once

#include <string>
#include <vector>

#include "api/configfiles/configuration_save.h"
#include "tool/model/network_model.h"

namespace kalvo::tool {

// The sections a save writes, in file order, from the model.
configfiles::ConfigurationSaveInput saveInput(const ConfigModel& model);
// Writes Kalvo.ini anew and merges the line settings into the board library
// ini files of the folder.
configfiles::ConfigurationSaveResult saveConfiguration(const ConfigModel& model);

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
    // What the load skipped silently, one readable line each with its
    // section ("Kalvo.ini: [DIO_3]: ...").
    std::vector<std::string> Skipped;
    std::vector<LoadedUnit> Units;
    bool ok() const { return Status == LoadStatus::ok; }
};

// Rebuilds the board settings, the board count and the network from
// Kalvo.ini in the model's folder.
LoadResult loadConfiguration(ConfigModel& model);

}  // namespace kalvo::tool
