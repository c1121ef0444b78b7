// The tool's save of a configuration folder, as the desktop program's Save
// and every changing kalvo-config command do it: refused, with every reason,
// when the folder it would write would not load as it stands; otherwise
// Kalvo.ini, the board library ini files, then KalvoConfig.dat.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tool/model/network_model.h"

namespace kalvo::tool {

struct SaveOutcome {
    // Why nothing was written: no folder, a board this tool did not
    // understand, or each problem the folder check would find in the
    // Kalvo.ini the save would write. Empty when the save went ahead.
    std::vector<std::string> Refused;
    // Ini files that could not be written completely.
    std::vector<std::string> FailedFiles;
    // Why KalvoConfig.dat could not be written; empty when it was.
    std::string DatError;
    bool ok() const { return Refused.empty() && FailedFiles.empty() && DatError.empty(); }
};

// done of total: the addresses of the unit-section walk (total = the line
// pages times 32), reported as the save goes.
using SaveProgress = std::function<void(int done, int total)>;

SaveOutcome saveFolder(const ConfigModel& model, const SaveProgress& progress = {});

// What keeps the model from being saved (the Refused of saveFolder); empty
// when nothing does.
std::vector<std::string> saveRefusals(const ConfigModel& model);

// The files of folder that a save of these boards would replace (Kalvo.ini,
// KalvoConfig.dat) or change (the board library ini of a board with line
// settings), as far as they exist now: what New must ask about before it
// starts an empty network there.
std::vector<std::string> filesASaveReplaces(const std::string& folder, const BoardSettings& boards);

}  // namespace kalvo::tool
