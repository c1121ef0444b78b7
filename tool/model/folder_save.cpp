#include "tool/model/folder_save.h"

#include <algorithm>
#include <filesystem>

#include "api/configfiles/ini_file_io.h"
#include "tool/model/config_dat.h"
#include "tool/model/configuration_check.h"
#include "tool/model/configuration_files.h"

namespace kalvo::tool {

namespace {

// The problems of the Kalvo.ini a save of input would write, found by
// loading it back from memory and checking it as 'kalvo-config check' does.
std::vector<std::string> problemsOfWhatWouldBeWritten(const ConfigModel& model,
                                                      const ConfigurationSaveInput& input) {
    bool complete = true;
    const configfiles::TKalvoIniClass kalvo = renderKalvoIni(model.folder(), input, &complete);
    if (!complete)
        return {kalvo.fileName() +
                ": a name or value of the network cannot be written so that it reads back"};
    const IniSections ini = IniSections::fromText(kalvo.fileName(), kalvo.document().serialize());
    ConfigModel reread(model.models());
    reread.setFolder(model.folder());
    const LoadResult loaded = loadConfiguration(reread, ini);
    return checkKalvoIni(reread, loaded, ini);
}

std::vector<std::string> refusals(const ConfigModel& model, const ConfigurationSaveInput& input) {
    if (model.folder().empty())
        return {"no configuration folder is chosen: choose the folder to save into"};
    std::vector<std::string> out;
    for (int b = 0; b < kBoardSlots; ++b) {
        const std::string& why = model.boardNotUnderstood(b);
        if (why.empty() || model.boards()[size_t(b)].BoardNo == 0) continue;
        const std::string n = std::to_string(model.boards()[size_t(b)].BoardNo);
        out.push_back(why +
                      ": saving would replace the board and its stations with an empty "
                      "board section; give board " +
                      n + " a kind (KalvoConfig: F6; kalvo-config board " + n +
                      " KIND) or correct the section in Kalvo.ini");
    }
    if (!out.empty()) return out;
    return problemsOfWhatWouldBeWritten(model, input);
}

}  // namespace

std::vector<std::string> saveRefusals(const ConfigModel& model) {
    return refusals(model, saveInput(model));
}

SaveOutcome saveFolder(const ConfigModel& model, const SaveProgress& progress) {
    SaveOutcome outcome;
    const int total = model.pageCount() * kAddresses;
    int done = 0;
    const ConfigurationSaveInput input = saveInput(model, [&] {
        if (progress) progress(++done, total);
    });
    outcome.Refused = refusals(model, input);
    if (!outcome.Refused.empty()) return outcome;
    outcome.FailedFiles = saveConfiguration(model.folder(), input).FailedFiles;
    writeConfigDat(model, &outcome.DatError);
    return outcome;
}

std::vector<std::string> filesASaveReplaces(const std::string& folder,
                                            const BoardSettings& boards) {
    std::vector<std::string> names{"Kalvo.ini", "KalvoConfig.dat"};
    for (const TBoardSetRec& b : boards) {
        if (b.BoardNo == 0 || b.Kind <= 0 || b.Kind >= kBoardKinds) continue;
        const TBoardRec& kind = boardKinds()[size_t(b.Kind)];
        const std::string name = std::string(kind.LibName) + ".ini";
        if (kind.LineSettings == 1 && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    std::vector<std::string> existing;
    for (const std::string& name : names) {
        std::error_code ec;
        if (std::filesystem::exists(configfiles::projectFilePath(folder, name), ec))
            existing.push_back(name);
    }
    return existing;
}

}  // namespace kalvo::tool
