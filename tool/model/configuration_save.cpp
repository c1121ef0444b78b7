#include "tool/model/configuration_save.h"

#include "api/configfiles/ini_file_io.h"
#include "api/configfiles/kalvo_ini_class.h"

namespace kalvo::tool {

using configfiles::FolderLock;
using configfiles::projectFilePath;
using configfiles::TKalvoIniClass;

TKVIniBoardRec boardSectionRecord(const SaveBoardSlot& slot) {
    TKVIniBoardRec rec;
    rec.Kind = slot.LibName;
    rec.LineMax = 1;
    rec.StaAdd[0] = 0;
    rec.StaSize[0] = 32;
    rec.BusSize[0] = 4;
    if (slot.LineSettings == 1) {
        rec.Baudrate[0] = slot.Baudrate[0];
        rec.LongFrame[0] = slot.LongFrame[0];
    } else {
        rec.Baudrate[0] = -1;
        rec.LongFrame[0] = -1;
    }
    return rec;
}

std::vector<TKVDllIniInfo> boardLibraryEntries(
    const std::array<SaveBoardSlot, kBoardSlots>& boards) {
    std::vector<TKVDllIniInfo> entries;
    for (const SaveBoardSlot& slot : boards) {
        if (slot.BoardNo == 0 || slot.LineSettings != 1) continue;
        TKVDllIniInfo entry;
        entry.LibName = slot.LibName;
        entry.BoardIndex = 0;
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            if (it->LibName == slot.LibName) {
                entry.BoardIndex = it->BoardIndex + 1;
                break;
            }
        }
        entry.LineCount = 1;
        entry.Baudrate[0] = slot.Baudrate[0];
        entry.LongFrame[0] = slot.LongFrame[0];
        entries.push_back(entry);
    }
    return entries;
}

TKalvoIniClass renderKalvoIni(std::string_view folder, const ConfigurationSaveInput& input,
                              bool* complete) {
    TKalvoIniClass kalvo = TKalvoIniClass::createEmpty(projectFilePath(folder, "Kalvo.ini"));
    bool stored = true;
    int32_t boardCount = 0;
    for (const SaveBoardSlot& slot : input.Boards) {
        if (slot.BoardNo != 0) ++boardCount;
    }
    stored = kalvo.writeToolMark(1) && stored;
    stored = kalvo.writeBoardCount(boardCount) && stored;
    for (const SaveBoardSlot& slot : input.Boards) {
        if (slot.BoardNo == 0) continue;
        stored = kalvo.writeBoard(slot.BoardNo, boardSectionRecord(slot)) && stored;
    }
    for (const SaveUnitSection& unit : input.Units) {
        stored = kalvo.writeUnit(unit.Section, unit.Rec) && stored;
    }
    for (const SaveStationSection& station : input.Stations) {
        stored =
            kalvo.writeStation(station.BoardNo, station.LineNo, station.Address, station.Rec) &&
            stored;
    }
    if (complete) *complete = stored;
    return kalvo;
}

ConfigurationSaveResult saveConfiguration(std::string_view folder,
                                          const ConfigurationSaveInput& input) {
    ConfigurationSaveResult result;
    auto failed = [&result](const std::string& file) {
        for (const std::string& f : result.FailedFiles) {
            if (f == file) return;
        }
        result.FailedFiles.push_back(file);
    };

    // Started from an empty object and renamed over the old file at the end:
    // the earlier save is gone once this one is on disk, and not before.
    bool complete = true;
    TKalvoIniClass kalvo = renderKalvoIni(folder, input, &complete);

    // Each board library ini is merged, not replaced: the board libraries'
    // files may carry sections of boards and keys this save knows nothing of.
    for (const TKVDllIniInfo& entry : boardLibraryEntries(input.Boards)) {
        const std::string path = projectFilePath(folder, entry.LibName + ".ini");
        FolderLock lock(path);  // read, change and replace as one step
        TKalvoIniClass library(path);
        bool written = library.writeLineSettings(entry);
        written = library.updateFile() && written;
        if (!written) failed(library.fileName());
    }

    if (!kalvo.updateFile() || !complete) failed(kalvo.fileName());
    return result;
}

}  // namespace kalvo::tool
