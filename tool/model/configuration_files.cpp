#include "tool/model/configuration_files.h"

#include <algorithm>

#include "api/configfiles/ini_file_io.h"
#include "tool/model/station_layout.h"
#include "tool/model/text_file.h"

namespace kalvo::tool {

namespace cf = kalvo::configfiles;

std::vector<StationUnit> stationUnits(const TStaAddRec& rec) {
    std::vector<StationUnit> units;
    auto name = [](const TKVStlRec& slot) {
        return slot.Info.Name + "_" + std::to_string(slot.Seq);
    };
    if (rec.StaType == kStaMst) {
        std::vector<int> run;
        for (int s = 0; s < kSlots && rec.Slot[size_t(s)].Unit >= 1; ++s) {
            const TKVStlRec& slot = rec.Slot[size_t(s)];
            run.push_back(s);
            const TKVStlRec& next = rec.Slot[size_t(s + 1)];
            if (next.Seq == slot.Seq && next.Info.Name == slot.Info.Name && next.Unit >= 1)
                continue;
            units.push_back({name(slot), std::move(run)});
            run.clear();
        }
    } else if (rec.StaType >= kStaAxs2 && rec.StaType <= kStaRfid3) {
        const TKVStlRec& slot = rec.Slot[0];
        // Offsets name logical-ID slots 0-15: a model with more slots than a
        // station has gets the station's 16, not a list of millions.
        const int32_t n = std::min<int32_t>(slot.Info.SlotCount, kSlots);
        if (n <= 0) return units;
        StationUnit unit{name(slot), {}};
        for (int32_t k = 0; k < n; ++k) unit.Slots.push_back(k);
        units.push_back(std::move(unit));
    }
    return units;
}

ConfigurationSaveInput saveInput(const ConfigModel& model,
                                 const std::function<void()>& addressDone) {
    ConfigurationSaveInput in;
    const ModelTable& models = model.models();
    for (int b = 0; b < kBoardSlots; ++b) {
        const TBoardSetRec& board = model.boards()[size_t(b)];
        SaveBoardSlot& slot = in.Boards[size_t(b)];
        slot.BoardNo = board.BoardNo;
        if (board.BoardNo == 0) continue;
        const TBoardRec& kind =
            boardKinds()[size_t(board.Kind >= 0 && board.Kind < kBoardKinds ? board.Kind : 0)];
        slot.LibName = std::string(kind.LibName);
        slot.LineSettings = kind.LineSettings;
        slot.Baudrate[0] = board.Line[0].Baudrate;
        slot.LongFrame[0] = board.Line[0].LongFrame;
    }
    std::vector<std::string> offsets;
    for (int b = 0; b < kBoardSlots; ++b) {
        const TBoardSetRec& board = model.boards()[size_t(b)];
        if (board.BoardNo == 0) continue;
        for (int l = 0; l < std::min(board.LineCount, kLines); ++l)
            for (int a = 0; a < kAddresses; ++a) {
                const TStaAddRec& rec = model.at(b, l, a);
                if (rec.StaType != kStaNew && rec.Head) {
                    for (const StationUnit& unit : stationUnits(rec)) {
                        offsets.clear();
                        for (int s : unit.Slots) offsets.push_back(std::to_string(s));
                        in.Units.push_back({unit.Section,
                                            {board.BoardNo, l + 1, rec.StaAddr,
                                             TTextFileClass::join(offsets), ""}});
                    }
                }
                if (addressDone) addressDone();
            }
    }
    for (int b = 0; b < kBoardSlots; ++b) {
        const TBoardSetRec& board = model.boards()[size_t(b)];
        if (board.BoardNo == 0) continue;
        for (int l = 0; l < std::min(board.LineCount, kLines); ++l)
            for (int a = 0; a < kAddresses; ++a) {
                const TStaAddRec& rec = model.at(b, l, a);
                SaveStationSection s;
                s.BoardNo = board.BoardNo;
                s.LineNo = l + 1;
                s.Address = a;
                s.Rec.MstFlg = rec.StaType == kStaNew ? 2 : rec.Head ? 1 : 0;
                for (int m = 0; m < kModules; ++m) {
                    const TStlInfoRec& e = models.entry(rec.Module[size_t(m)]);
                    s.Rec.Unit[size_t(m)] = e.ModelCode;
                    s.Rec.Code[size_t(m)] = std::to_string(e.Info.Code);
                }
                in.Stations.push_back(std::move(s));
            }
    }
    return in;
}

ConfigurationSaveResult saveConfiguration(const ConfigModel& model) {
    return saveConfiguration(model.folder(), saveInput(model));
}

LoadResult loadConfiguration(ConfigModel& model) {
    const IniSections ini(cf::projectFilePath(model.folder(), "Kalvo.ini"));
    return loadConfiguration(model, ini);
}

LoadResult loadConfiguration(ConfigModel& model, const IniSections& ini) {
    LoadResult result;
    const ModelTable& models = model.models();
    for (int b = 0; b < kBoardSlots; ++b) model.setBoardNotUnderstood(b, {});
    const IniOpen status = ini.status();
    result.Cp932 = ini.readAsCp932();
    const std::string& file = ini.fileName();
    if (status == IniOpen::missing) {
        result.Status = LoadStatus::missing;
        result.Message = file +
                         " does not exist: choose a folder that holds a configuration, "
                         "or start one with 'new'";
        return result;
    }
    if (status == IniOpen::failed) {
        result.Status = LoadStatus::unreadable;
        result.Message = file + " could not be read (check that it is a readable file)";
        return result;
    }
    if (ini.section("KALVO").readToolMark() == 0) {
        result.Status = LoadStatus::notToolFile;
        result.Message = file +
                         ": [KALVO] ConfigTool is not 1, so the file was not written by "
                         "the configuration tool; nothing is loaded from it";
        return result;
    }
    const int32_t count = ini.section("KALVO").readBoardCount();
    model.setBoardCount(count);
    if (count <= 0) {
        result.Status = LoadStatus::noBoards;
        result.Message = file + ": [KALVO] Board = " + std::to_string(count) +
                         ": no board is configured (1 to 4 boards)";
        return result;
    }
    // Four board slots exist; the libraries refuse more boards, and reading
    // them would run past the slots.
    if (count > kBoardSlots) {
        result.Status = LoadStatus::tooManyBoards;
        result.Message = file + ": [KALVO] Board = " + std::to_string(count) +
                         ": at most 4 boards can be configured; correct the count";
        return result;
    }

    BoardSettings& boards = model.boards();
    boards = BoardSettings{};
    for (int q = 0; q < count; ++q) {
        const std::string section = "BOARD_" + std::to_string(q + 1);
        const cf::TKVIniBoardRec rec = ini.section(section).readBoard(q + 1);
        TBoardSetRec& board = boards[size_t(q)];
        board.BoardNo = q + 1;
        for (int k = 0; k < kBoardKinds; ++k) {
            const TBoardRec& kind = boardKinds()[size_t(k)];
            if (kind.LibName == rec.Kind && kind.LineMax == rec.LineMax) {
                board.Kind = k;
                board.LineCount = kind.LineMax;
            }
        }
        if (board.LineCount == 0) {
            // Saved as it stands, the board would become "Kind=" with no
            // units: a folder no program loads. It stays as it is on disk.
            const std::string why =
                ini.has(section)
                    ? "Kalvo.ini: [" + section + "]: Kind \"" + rec.Kind + "\" with LineMax " +
                          std::to_string(rec.LineMax) +
                          " matches no board kind (Pcimaster64, Dualmaster, Cardmaster or "
                          "KV40MST with LineMax 1)"
                    : "Kalvo.ini: [" + section +
                          "] is missing, although [KALVO] Board = " + std::to_string(count);
            model.setBoardNotUnderstood(q, why);
            result.Skipped.push_back(why +
                                     "; the board's stations are not loaded, and nothing is "
                                     "saved over this folder until board " +
                                     std::to_string(q + 1) + " is given a kind");
        }
        for (int l = 0; l < std::clamp(rec.LineMax, 0, kSettingLines); ++l) {
            board.Line[size_t(l)].Baudrate = rec.Baudrate[size_t(l)];
            board.Line[size_t(l)].LongFrame = rec.LongFrame[size_t(l)];
        }
    }

    model.clearNetwork();

    // Unit sections: one pass per run of equal type names in the model list.
    const auto& list = models.list();
    std::vector<std::string> items;
    // A type whose models are not adjacent in the list is read once per run;
    // each section is reported once.
    std::vector<std::string> seen;
    for (size_t q = 0; q < list.size(); ++q) {
        if (q > 0 && list[q - 1].Name == list[q].Name) continue;
        for (int32_t r = 1; r <= 500; ++r) {
            const std::string section = list[q].Name + "_" + std::to_string(r);
            if (!ini.has(section)) break;
            const cf::TKVIniStlRec u = ini.section(section).readUnit(section);
            if (u.Board == -1) break;
            const bool again = std::find(seen.begin(), seen.end(), section) != seen.end();
            if (!again) seen.push_back(section);
            const size_t skippedBefore = result.Skipped.size();
            const std::string where = "Kalvo.ini: [" + section + "]: ";
            std::string why;
            if (u.Board < 1 || u.Board > count)
                why = "Board " + std::to_string(u.Board) + " is not a configured board (1 to " +
                      std::to_string(count) + ")";
            else if (u.Line < 1 || u.Line > boards[size_t(u.Board - 1)].LineCount)
                why = "Line " + std::to_string(u.Line) + " is not a line of board " +
                      std::to_string(u.Board);
            else if (u.Offset.empty())
                why = "Offset is empty";
            else if (u.Base < 0 || u.Base >= kAddresses)
                why = "Base " + std::to_string(u.Base) + " is not a station address (0 to 31)";
            if (!why.empty()) {
                if (!again) result.Skipped.push_back(where + why + "; the unit section is skipped");
                continue;
            }
            LoadedUnit loaded{section, u.Board - 1, u.Line - 1, u.Base, {}};
            TStaAddRec& station = model.at(u.Board - 1, u.Line - 1, u.Base);
            TTextFileClass::split(u.Offset, &items);
            for (const std::string& item : items) {
                int32_t c = 0;
                if (!wholeNumber(item, &c)) {
                    c = 0;
                    result.Skipped.push_back(where + "Offset item \"" + item +
                                             "\" is not a number and is read as 0");
                }
                if (c < 0 || c >= kSlots) {
                    result.Skipped.push_back(where + "Offset item " + std::to_string(c) +
                                             " is not a logical-ID slot (0 to 15) and is skipped");
                    continue;
                }
                TKVStlRec& slot = station.Slot[size_t(c)];
                setSlotUnit(slot, models, int32_t(q));
                slot.Seq = r;
                slot.SlotNo = c;
                station.AddrCount = std::max(station.AddrCount, c / 4 + 1);
                loaded.Slots.push_back(c);
            }
            if (again)
                result.Skipped.resize(skippedBefore);
            else
                result.Units.push_back(std::move(loaded));
        }
    }

    // Station sections.
    const int32_t ref[5] = {-1, models.special(kSpecialAxs2), models.special(kSpecialAxs4),
                            models.special(kSpecialRfid2), models.special(kSpecialRfid3)};
    for (int b = 0; b < kBoardSlots; ++b) {
        const TBoardSetRec& board = boards[size_t(b)];
        if (board.BoardNo == 0) continue;
        for (int l = 0; l < std::min(board.LineCount, kLines); ++l)
            for (int a = 0; a < kAddresses; ++a) {
                const cf::TKVSIniCtrRec ctr = ini.section(cf::stationSectionName(b + 1, l + 1, a))
                                                  .readStation(b + 1, l + 1, a);
                TStaAddRec& rec = model.at(b, l, a);
                rec.Head = ctr.MstFlg > 0;
                const std::string where =
                    "Kalvo.ini: [" + cf::stationSectionName(b + 1, l + 1, a) + "]: ";
                for (int m = 0; m < kModules; ++m) {
                    const int32_t e = models.lookup(ctr.Unit[size_t(m)], ctr.Code[size_t(m)]);
                    rec.Module[size_t(m)] = e < 0 ? 0 : e;
                    if (e < 0 && ctr.MstFlg != 2 && !ctr.Unit[size_t(m)].empty())
                        result.Skipped.push_back(where + "Unit_" + std::to_string(m) + " \"" +
                                                 ctr.Unit[size_t(m)] + "\" with Code_" +
                                                 std::to_string(m) + " \"" + ctr.Code[size_t(m)] +
                                                 "\" is no model of the model table; module " +
                                                 std::to_string(m + 1) + " is left empty");
                }
                if (ctr.MstFlg == 2) {
                    rec.StaType = kStaNew;
                    continue;
                }
                const std::string& text = ctr.Unit[0];
                const std::string& code = ctr.Code[0];
                if (ref[1] > 0 && text == models.entry(ref[1]).ModelCode)
                    rec.StaType = kStaAxs2;
                else if (ref[2] > 0 && text == models.entry(ref[2]).ModelCode)
                    rec.StaType = kStaAxs4;
                else if (ref[3] > 0 && code == std::to_string(models.entry(ref[3]).Info.Code))
                    rec.StaType = kStaRfid2;
                else if (ref[4] > 0 && code == std::to_string(models.entry(ref[4]).Info.Code))
                    rec.StaType = kStaRfid3;
                else if (!text.empty())
                    rec.StaType = kStaMst;
            }
    }
    layoutAllSlots(model);
    result.Status = LoadStatus::ok;
    return result;
}

}  // namespace kalvo::tool
