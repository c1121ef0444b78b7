#include "tool/model/configuration_check.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "api/configfiles/ini_file_io.h"
#include "api/configfiles/kalvo_ini_class.h"
#include "tool/model/ini_source.h"

namespace kalvo::tool {

namespace cf = kalvo::configfiles;

namespace {

std::string where(int32_t boardNo, int line, int address) {
    return "Kalvo.ini: [" + cf::stationSectionName(boardNo, line + 1, address) + "]: ";
}

// Addresses a head covers: itself and the continuation addresses after it.
int extentOf(const ConfigModel& model, int slot, int line, int address) {
    int n = 1;
    while (address + n < kAddresses) {
        const TStaAddRec& next = model.at(slot, line, address + n);
        if (next.Head || next.StaType == kStaNew) break;
        ++n;
    }
    return n;
}

void checkStations(const ConfigModel& model, std::vector<std::string>* out) {
    for (int b = 0; b < kBoardSlots; ++b) {
        const TBoardSetRec& board = model.boards()[size_t(b)];
        if (board.BoardNo == 0) continue;
        for (int l = 0; l < std::min(board.LineCount, kLines); ++l) {
            bool inStation = false;
            for (int a = 0; a < kAddresses; ++a) {
                const TStaAddRec& rec = model.at(b, l, a);
                if (!rec.Head) {
                    if (!inStation)
                        out->push_back(where(board.BoardNo, l, a) +
                                       "a continuation address (MstFlg 0) with no station "
                                       "before it");
                    continue;
                }
                inStation = rec.StaType != kStaNew;
                if (!inStation) continue;
                const int32_t needed = std::max(rec.AddrCount, stationAddressCount(rec.StaType));
                if (a + needed > kAddresses) {
                    out->push_back(where(board.BoardNo, l, a) + "the " +
                                   std::string(stationTypeNames()[size_t(rec.StaType)]) +
                                   " station needs " + std::to_string(needed) +
                                   " addresses and runs past address 31");
                }
                for (int k = 1; k < needed && a + k < kAddresses; ++k) {
                    const TStaAddRec& next = model.at(b, l, a + k);
                    if (next.Head && next.StaType != kStaNew) {
                        out->push_back(where(board.BoardNo, l, a) + "the station needs " +
                                       std::to_string(needed) +
                                       " addresses and overlaps the station at address " +
                                       std::to_string(a + k));
                        break;
                    }
                }
                if (rec.StaType == kStaMst && rec.Module[0] == 0)
                    out->push_back(where(board.BoardNo, l, a) +
                                   "the station has no known module (see Unit_0/Code_0)");
            }
        }
    }
}

void checkUnits(const ConfigModel& model, const LoadResult& loaded, std::vector<std::string>* out) {
    std::map<std::tuple<int, int, int, int>, std::string> claimed;
    for (const LoadedUnit& u : loaded.Units) {
        const std::string at = "Kalvo.ini: [" + u.Section + "]: ";
        const TStaAddRec& rec = model.at(u.Slot, u.Line, u.Base);
        if (!rec.Head || rec.StaType == kStaNew) {
            out->push_back(at + "Base " + std::to_string(u.Base) +
                           " holds no station head (its CTR section has MstFlg " +
                           (rec.Head ? "2" : "0") + ")");
            continue;
        }
        const int extent = extentOf(model, u.Slot, u.Line, u.Base);
        for (int c : u.Slots) {
            if (c / kIdsPerAddress >= extent)
                out->push_back(at + "Offset " + std::to_string(c) + " lies at address " +
                               std::to_string(u.Base + c / kIdsPerAddress) +
                               ", outside its station (addresses " + std::to_string(u.Base) +
                               " to " + std::to_string(u.Base + extent - 1) + ")");
            auto key = std::make_tuple(u.Slot, u.Line, u.Base, c);
            auto [it, fresh] = claimed.emplace(key, u.Section);
            if (!fresh)
                out->push_back(at + "Offset " + std::to_string(c) + " of the station at " +
                               std::to_string(u.Base) + " is also taken by [" + it->second + "]");
        }
    }
}

// Sections named like units that the load never reads: a type no model has,
// or a number after a gap (the scan of a type stops at its first missing
// number) or above 500.
void checkUnreadSections(const ConfigModel& model, const LoadResult& loaded,
                         std::vector<std::string>* out) {
    const IniSections ini(cf::projectFilePath(model.folder(), "Kalvo.ini"));
    if (ini.status() != IniOpen::ok) return;
    std::vector<std::string> read;
    for (const LoadedUnit& u : loaded.Units) read.push_back(u.Section);
    auto upper = [](std::string s) {
        for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    for (std::string& s : read) s = upper(s);
    for (const std::string& section : ini.names()) {
        const size_t us = section.rfind('_');
        if (us == std::string::npos || us + 1 >= section.size()) continue;
        const std::string type = upper(section.substr(0, us));
        int32_t number = 0;
        if (unitTypeIndex(upper(type)) < 1 || !wholeNumber(section.substr(us + 1), &number))
            continue;
        const std::string name = upper(section);
        if (std::find(read.begin(), read.end(), name) != read.end()) continue;
        bool skippedWithReason = false;
        for (const std::string& s : loaded.Skipped)
            skippedWithReason =
                skippedWithReason || upper(s).find("[" + name + "]") != std::string::npos;
        if (skippedWithReason) continue;
        std::string why;
        {
            bool typeKnown = false;
            for (const TStlInfoRec& e : model.models().list())
                typeKnown = typeKnown || e.Name == type;
            if (ini.section(section).readUnit(section).Board == -1)
                why = "Board is missing or -1, which ends the scan of " + type + " sections here";
            else if (!typeKnown)
                why = "the model table has no model of type " + type;
            else if (number < 1 || number > 500)
                why = "unit numbers 1 to 500 are read";
            else
                why = "an earlier number of " + type +
                      " is missing, and the scan of a type stops at its first missing number";
        }
        out->push_back("Kalvo.ini: [" + section + "]: the unit section is never read: " + why);
    }
}

}  // namespace

std::vector<std::string> checkConfiguration(const ConfigModel& model, const LoadResult& loaded) {
    std::vector<std::string> out = model.models().problems();
    if (!loaded.ok()) {
        out.push_back(loaded.Message);
        return out;
    }
    out.insert(out.end(), loaded.Skipped.begin(), loaded.Skipped.end());
    checkStations(model, &out);
    checkUnits(model, loaded, &out);
    checkUnreadSections(model, loaded, &out);
    return out;
}

}  // namespace kalvo::tool
