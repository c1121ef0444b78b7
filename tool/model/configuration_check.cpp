#include "tool/model/configuration_check.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "api/configfiles/ini_file_io.h"
#include "api/configfiles/kalvo_ini_class.h"
#include "tool/model/ini_source.h"
#include "tool/model/station_layout.h"

namespace kalvo::tool {

namespace cf = kalvo::configfiles;

namespace {

std::string where(int32_t boardNo, int line, int address) {
    return "Kalvo.ini: [" + cf::stationSectionName(boardNo, line + 1, address) + "]: ";
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
                const std::string at = where(board.BoardNo, l, a);
                const std::string type(stationTypeNames()[size_t(rec.StaType)]);
                const int32_t needed = stationAddressesNeeded(rec);
                const int extent = stationExtent(model, b, l, a);
                bool placed = true;
                if (a + needed > kAddresses) {
                    out->push_back(at + "the " + type + " station needs " + std::to_string(needed) +
                                   " addresses and runs past address 31");
                    placed = false;
                }
                for (int k = 1; k < needed && a + k < kAddresses; ++k) {
                    const TStaAddRec& next = model.at(b, l, a + k);
                    if (next.Head && next.StaType != kStaNew) {
                        out->push_back(at + "the station needs " + std::to_string(needed) +
                                       " addresses and overlaps the station at address " +
                                       std::to_string(a + k));
                        placed = false;
                        break;
                    }
                }
                // Units on addresses that are not the station's own: saved,
                // their offsets would lie outside it.
                if (placed && needed > extent)
                    out->push_back(at + "the " + type + " station needs " + std::to_string(needed) +
                                   " addresses (" + std::to_string(a) + " to " +
                                   std::to_string(a + needed - 1) +
                                   "), but its continuation addresses (MstFlg 0) end at " +
                                   std::to_string(a + extent - 1));
                // A unit that no unit section numbers: saved, it would be
                // "..._0", a section no program reads.
                std::string unnumbered;
                for (int s = 0; s < kSlots; ++s) {
                    const TKVStlRec& slot = rec.Slot[size_t(s)];
                    // A unit of type NEW has no number (nothing counts or
                    // reads it).
                    if (slot.Unit >= 1 && slot.Seq < 1 && unitTypeIndex(slot.Info.Name) >= 1 &&
                        (rec.StaType == kStaMst || s < rec.Slot[0].Info.SlotCount))
                        unnumbered += (unnumbered.empty() ? "" : ",") + std::to_string(s);
                }
                if (!unnumbered.empty())
                    out->push_back(at + "slots " + unnumbered + " of the " + type +
                                   " station carry units of its modules that no unit section "
                                   "names");
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
        const int extent = stationExtent(model, u.Slot, u.Line, u.Base);
        const std::string type = u.Section.substr(0, u.Section.rfind('_'));
        for (int c : u.Slots) {
            const TKVStlRec& slot = rec.Slot[size_t(c)];
            if (slot.Unit < 1)
                out->push_back(at + "Offset " + std::to_string(c) + " names slot " +
                               std::to_string(c) + " of the station at " + std::to_string(u.Base) +
                               ", where its modules (CTR section) put no unit");
            else if (slot.Info.Name != type)
                out->push_back(at + "Offset " + std::to_string(c) + " names slot " +
                               std::to_string(c) + " of the station at " + std::to_string(u.Base) +
                               ", where its modules (CTR section) put " + slot.Info.ModelCode +
                               " (" + slot.Info.Name + ")");
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
void checkUnreadSections(const ConfigModel& model, const LoadResult& loaded, const IniSections& ini,
                         std::vector<std::string>* out) {
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

std::vector<std::string> checkKalvoIni(const ConfigModel& model, const LoadResult& loaded,
                                       const IniSections& ini) {
    if (!loaded.ok()) return {loaded.Message};
    std::vector<std::string> out = loaded.Skipped;
    checkStations(model, &out);
    checkUnits(model, loaded, &out);
    checkUnreadSections(model, loaded, ini, &out);
    return out;
}

std::vector<std::string> checkConfiguration(const ConfigModel& model, const LoadResult& loaded) {
    std::vector<std::string> out = model.models().problems();
    const IniSections ini(cf::projectFilePath(model.folder(), "Kalvo.ini"));
    const std::vector<std::string> file = checkKalvoIni(model, loaded, ini);
    out.insert(out.end(), file.begin(), file.end());
    return out;
}

}  // namespace kalvo::tool
