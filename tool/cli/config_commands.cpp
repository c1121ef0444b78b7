#include "tool/cli/config_commands.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <iomanip>
#include <map>
#include <ostream>
#include <sstream>

#include "tool/model/config_dat.h"
#include "tool/model/configuration_check.h"
#include "tool/model/configuration_files.h"
#include "tool/model/editor_operations.h"
#include "tool/model/ini_source.h"
#include "tool/model/station_layout.h"

namespace kalvo::tool::cli {

namespace {

struct Command {
    const char* name;
    const char* synopsis;
    const char* help;
    int (*run)(const Context&, const std::vector<std::string>&);
};

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool number(const std::string& text, int32_t lo, int32_t hi, int32_t* value) {
    return wholeNumber(text, value) && *value >= lo && *value <= hi;
}

// The folder's model table, said once when it is missing.
struct Session {
    ModelTable models;
    ConfigModel model{models};
    explicit Session(const Context& ctx) {
        if (models.load(ctx.modelTable) != ModelTable::Source::loaded)
            for (const std::string& p : models.problems())
                *ctx.err << "kalvo-config: " << p << "\n";
        model = ConfigModel(models);
        model.setFolder(ctx.folder);
    }
    Session(const Session&) = delete;
};

bool load(const Context& ctx, Session& s) {
    LoadResult r = loadConfiguration(s.model);
    if (!r.ok()) {
        *ctx.err << "kalvo-config: " << r.Message << "\n";
        return false;
    }
    return true;
}

// Save as the GUI's Save does: Kalvo.ini, the board library ini files, then
// KalvoConfig.dat.
int save(const Context& ctx, const Session& s) {
    auto result = saveConfiguration(s.model);
    int status = kExitOk;
    for (const std::string& f : result.FailedFiles) {
        *ctx.err << "kalvo-config: " << f
                 << " could not be written completely (check the folder's permissions and free "
                    "space)\n";
        status = kExitFailed;
    }
    std::string error;
    if (!writeConfigDat(s.model, &error)) {
        *ctx.err << "kalvo-config: " << error << "\n";
        status = kExitFailed;
    }
    return status;
}

// "KIND[:BAUD[:LF]]" with KIND a board library name or "none".
bool parseBoardSpec(const Context& ctx, const std::string& spec, int32_t* kind, TLineSetRec* line) {
    std::vector<std::string> parts;
    std::stringstream in(spec);
    for (std::string p; std::getline(in, p, ':');) parts.push_back(p);
    if (parts.empty() || parts.size() > 3) {
        *ctx.err << "kalvo-config: board \"" << spec
                 << "\": write KIND[:BAUD[:LF]], for example Cardmaster:12:1\n";
        return false;
    }
    *kind = -1;
    if (lower(parts[0]) == "none") *kind = 0;
    for (int k = 1; k < kBoardKinds; ++k)
        if (lower(std::string(boardKinds()[size_t(k)].LibName)) == lower(parts[0])) *kind = k;
    if (*kind < 0) {
        *ctx.err << "kalvo-config: board kind \"" << parts[0]
                 << "\" is unknown; use Pcimaster64, Dualmaster, Cardmaster, KV40MST or none\n";
        return false;
    }
    if (parts.size() > 1 &&
        !(number(parts[1], 3, 12, &line->Baudrate) &&
          (line->Baudrate == 3 || line->Baudrate == 6 || line->Baudrate == 12))) {
        *ctx.err << "kalvo-config: baud rate \"" << parts[1] << "\" in \"" << spec
                 << "\": use 3, 6 or 12 (Mbit/s)\n";
        return false;
    }
    if (parts.size() > 2 && !number(parts[2], 0, 1, &line->LongFrame)) {
        *ctx.err << "kalvo-config: long frame \"" << parts[2] << "\" in \"" << spec
                 << "\": use 0 or 1\n";
        return false;
    }
    return true;
}

bool parseSlot(const Context& ctx, const std::string& text, int* slot) {
    int32_t v = 0;
    if (!number(text, 1, kBoardSlots, &v)) {
        *ctx.err << "kalvo-config: board slot \"" << text << "\": use 1 to 4\n";
        return false;
    }
    *slot = v - 1;
    return true;
}

// BOARD ADDRESS -> slot and address of a configured board.
bool parsePlace(const Context& ctx, const Session& s, const std::string& board,
                const std::string& address, int* slot, int* addr) {
    int32_t b = 0, a = 0;
    if (!number(board, 1, kBoardSlots, &b) || (*slot = s.model.slotOfBoard(b)) < 0 ||
        s.model.boards()[size_t(*slot)].LineCount < 1) {
        *ctx.err << "kalvo-config: board \"" << board << "\" is not a configured board of "
                 << ctx.folder << " (see 'kalvo-config show')\n";
        return false;
    }
    if (!number(address, 0, kAddresses - 1, &a)) {
        *ctx.err << "kalvo-config: station address \"" << address << "\": use 0 to 31\n";
        return false;
    }
    *addr = a;
    return true;
}

bool parseModules(const Context& ctx, const Session& s, const std::vector<std::string>& names,
                  std::array<int32_t, kModules>* modules) {
    modules->fill(0);
    if (names.size() > size_t(kModules)) {
        *ctx.err << "kalvo-config: " << names.size() << " modules given; a station has at most 4\n";
        return false;
    }
    for (size_t n = 0; n < names.size(); ++n) {
        int32_t e = s.models.findModel(names[n]);
        if (e < 0) {
            *ctx.err << "kalvo-config: model \"" << names[n] << "\" is not in the model table "
                     << "(see 'kalvo-config show --models')\n";
            return false;
        }
        (*modules)[n] = e;
    }
    return true;
}

std::string dropMessage(DropResult r, int address) {
    switch (r) {
        case DropResult::onContinuation:
            return "address " + std::to_string(address) +
                   " is a continuation address of another station; remove that station first";
        case DropResult::overlap:
            return "the station at " + std::to_string(address) +
                   " would overlap another station or run past address 31 (the IDs would "
                   "overlap); remove the station in the way or choose another address";
        case DropResult::ignored:
            return "nothing to change at address " + std::to_string(address);
        case DropResult::placed:
            break;
    }
    return {};
}

// ---------------------------------------------------------------- commands

int cmdNew(const Context& ctx, const std::vector<std::string>& args) {
    std::array<int32_t, kBoardSlots> kinds{};
    std::array<TLineSetRec, kBoardSlots> lines{};
    for (auto& l : lines) l = {3, 0};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        if (a == "--board" && i + 1 < args.size()) {
            value = args[++i];
        } else if (a.rfind("--board=", 0) == 0) {
            value = a.substr(8);
        } else {
            *ctx.err << "kalvo-config new: unexpected \"" << a
                     << "\"; see 'kalvo-config new --help'\n";
            return kExitUsage;
        }
        size_t eq = value.find('=');
        int slot = 0;
        if (eq == std::string::npos) {
            *ctx.err << "kalvo-config new: --board " << value << ": write SLOT=KIND[:BAUD[:LF]]\n";
            return kExitUsage;
        }
        if (!parseSlot(ctx, value.substr(0, eq), &slot) ||
            !parseBoardSpec(ctx, value.substr(eq + 1), &kinds[size_t(slot)], &lines[size_t(slot)]))
            return kExitUsage;
    }
    BoardSettings boards = boardSettingsFromKinds(kinds, lines);
    if (std::none_of(boards.begin(), boards.end(), [](auto& b) { return b.BoardNo != 0; })) {
        *ctx.err << "kalvo-config new: no board chosen; give at least one --board "
                    "SLOT=KIND, for example --board 1=Pcimaster64\n";
        return kExitUsage;
    }
    Session s(ctx);
    s.model.startNew(boards);
    return save(ctx, s);
}

int cmdBoard(const Context& ctx, const std::vector<std::string>& args) {
    if (args.size() != 2) {
        *ctx.err << "kalvo-config board: give BOARD and KIND[:BAUD[:LF]]; see 'kalvo-config "
                    "board --help'\n";
        return kExitUsage;
    }
    int slot = 0;
    int32_t kind = 0;
    Session s(ctx);
    if (!load(ctx, s)) return kExitFailed;
    if (!parseSlot(ctx, args[0], &slot)) return kExitUsage;
    // The board's own line settings stay unless given; a board without them
    // starts at 3 Mbit/s, long frame 0, as the settings dialog's first items.
    TLineSetRec line = s.model.boards()[size_t(slot)].Line[0];
    if (line.Baudrate != 3 && line.Baudrate != 6 && line.Baudrate != 12) line.Baudrate = 3;
    if (line.LongFrame != 0 && line.LongFrame != 1) line.LongFrame = 0;
    if (!parseBoardSpec(ctx, args[1], &kind, &line)) return kExitUsage;
    std::array<int32_t, kBoardSlots> kinds{};
    std::array<TLineSetRec, kBoardSlots> lines{};
    for (int i = 0; i < kBoardSlots; ++i) {
        kinds[size_t(i)] =
            s.model.boards()[size_t(i)].LineCount > 0 ? s.model.boards()[size_t(i)].Kind : 0;
        lines[size_t(i)] = s.model.boards()[size_t(i)].Line[0];
    }
    if (kind == 0)
        for (int i = slot + 1; i < kBoardSlots; ++i)
            if (kinds[size_t(i)] > 0) {
                *ctx.err << "kalvo-config board: board " << i + 1 << " exists, so board "
                         << slot + 1 << " cannot be set to not used; only the last board can\n";
                return kExitFailed;
            }
    kinds[size_t(slot)] = kind;
    lines[size_t(slot)] = line;
    BoardSettings changed = boardSettingsFromKinds(kinds, lines);
    if (std::none_of(changed.begin(), changed.end(), [](auto& b) { return b.BoardNo != 0; })) {
        *ctx.err << "kalvo-config board: that leaves no board; a configuration needs one\n";
        return kExitFailed;
    }
    applyBoardSettings(s.model, changed);
    return save(ctx, s);
}

int cmdPlace(const Context& ctx, const std::vector<std::string>& args) {
    if (args.size() < 3) {
        *ctx.err << "kalvo-config place: give BOARD ADDRESS TYPE [MODEL...]; see 'kalvo-config "
                    "place --help'\n";
        return kExitUsage;
    }
    Session s(ctx);
    if (!load(ctx, s)) return kExitFailed;
    int slot = 0, address = 0;
    if (!parsePlace(ctx, s, args[0], args[1], &slot, &address)) return kExitUsage;
    const int type = stationTypeIndex(args[2]);
    if (type < kStaMst || type > kStaRfid3) {
        *ctx.err << "kalvo-config place: station type \"" << args[2]
                 << "\": use MST, AXS2, AXS4, RFID2 or RFID3\n";
        return kExitUsage;
    }
    if (!s.model.templateAvailable(type)) {
        *ctx.err << "kalvo-config place: the " << args[2]
                 << " station is not available: its model is missing from the model table "
                 << ctx.modelTable << "\n";
        return kExitFailed;
    }
    std::array<int32_t, kModules> modules{};
    std::vector<std::string> names(args.begin() + 3, args.end());
    if (!names.empty() && type != kStaMst) {
        *ctx.err << "kalvo-config place: a " << args[2]
                 << " station has fixed modules; give modules for MST stations only\n";
        return kExitUsage;
    }
    if (!parseModules(ctx, s, names, &modules)) return kExitUsage;
    DropResult r = placeStation(s.model, slot, 0, address, type);
    if (r != DropResult::placed) {
        *ctx.err << "kalvo-config place: " << dropMessage(r, address) << "\n";
        return kExitFailed;
    }
    if (!names.empty()) {
        ModulesOutcome m = setStationModules(s.model, slot, 0, address, modules);
        if (m.Result != ModulesResult::changed) {
            *ctx.err << "kalvo-config place: " << m.Message << "; nothing was saved\n";
            return kExitFailed;
        }
    }
    return save(ctx, s);
}

int cmdRemove(const Context& ctx, const std::vector<std::string>& args) {
    if (args.size() != 2) {
        *ctx.err << "kalvo-config remove: give BOARD ADDRESS; see 'kalvo-config remove --help'\n";
        return kExitUsage;
    }
    Session s(ctx);
    if (!load(ctx, s)) return kExitFailed;
    int slot = 0, address = 0;
    if (!parsePlace(ctx, s, args[0], args[1], &slot, &address)) return kExitUsage;
    const TStaAddRec& rec = s.model.at(slot, 0, address);
    if (rec.StaType == kStaNew || !rec.Head) {
        // A loaded continuation address keeps its own address: the head is
        // the nearest head before it.
        int head = address;
        while (head > 0 && !s.model.at(slot, 0, head).Head) --head;
        *ctx.err << "kalvo-config remove: address " << address
                 << (rec.Head ? std::string(" holds no station")
                              : " is a continuation address; give the station's head address " +
                                    std::to_string(head))
                 << "\n";
        return kExitFailed;
    }
    DropResult r = removeStation(s.model, slot, 0, address);
    if (r != DropResult::placed) {
        *ctx.err << "kalvo-config remove: " << dropMessage(r, address) << "\n";
        return kExitFailed;
    }
    return save(ctx, s);
}

int cmdModules(const Context& ctx, const std::vector<std::string>& args) {
    if (args.size() < 2) {
        *ctx.err << "kalvo-config modules: give BOARD ADDRESS [MODEL...]; see 'kalvo-config "
                    "modules --help'\n";
        return kExitUsage;
    }
    Session s(ctx);
    if (!load(ctx, s)) return kExitFailed;
    int slot = 0, address = 0;
    if (!parsePlace(ctx, s, args[0], args[1], &slot, &address)) return kExitUsage;
    std::array<int32_t, kModules> modules{};
    if (!parseModules(ctx, s, std::vector<std::string>(args.begin() + 2, args.end()), &modules))
        return kExitUsage;
    ModulesOutcome m = setStationModules(s.model, slot, 0, address, modules);
    if (m.Result != ModulesResult::changed) {
        *ctx.err << "kalvo-config modules: " << m.Message << "\n";
        return kExitFailed;
    }
    return save(ctx, s);
}

int cmdDat(const Context& ctx, const std::vector<std::string>& args) {
    if (!args.empty()) {
        *ctx.err << "kalvo-config dat: takes no arguments\n";
        return kExitUsage;
    }
    Session s(ctx);
    if (!load(ctx, s)) return kExitFailed;
    std::string error;
    if (!writeConfigDat(s.model, &error)) {
        *ctx.err << "kalvo-config dat: " << error << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

void showModels(const Context& ctx, const ModelTable& models) {
    std::ostream& o = *ctx.out;
    o << "index  type  model               code  ids  ch  slots  rows\n";
    for (size_t i = 1; i < models.list().size(); ++i) {
        const TStlInfoRec& e = models.list()[i];
        o << std::left << std::setw(7) << i << std::setw(6) << e.Name << std::setw(20)
          << e.ModelCode << std::setw(6) << e.Info.Code << std::setw(5) << e.Info.Id << std::setw(4)
          << e.Info.Ch << std::setw(7) << e.SlotCount << e.RowCount << "\n";
    }
}

int cmdShow(const Context& ctx, const std::vector<std::string>& args) {
    Session s(ctx);
    if (args.size() == 1 && args[0] == "--models") {
        showModels(ctx, s.models);
        return kExitOk;
    }
    if (!args.empty()) {
        *ctx.err << "kalvo-config show: unexpected \"" << args[0] << "\"\n";
        return kExitUsage;
    }
    if (!load(ctx, s)) return kExitFailed;
    std::ostream& o = *ctx.out;
    const ModelTable& models = s.models;
    for (int b = 0; b < kBoardSlots; ++b) {
        const TBoardSetRec& board = s.model.boards()[size_t(b)];
        if (board.BoardNo == 0) continue;
        const TBoardRec& kind = boardKinds()[size_t(std::clamp(board.Kind, 0, kBoardKinds - 1))];
        o << "Board " << board.BoardNo << ": "
          << (board.LineCount ? std::string(kind.LibName) : "unknown kind") << ", line 1";
        if (kind.LineSettings)
            o << ", " << board.Line[0].Baudrate << " Mbit/s, long frame "
              << board.Line[0].LongFrame;
        o << "\n";
        for (int l = 0; l < std::min(board.LineCount, kLines); ++l)
            for (int a = 0; a < kAddresses; ++a) {
                const TStaAddRec& rec = s.model.at(b, l, a);
                if (rec.StaType == kStaNew || !rec.Head) continue;
                int extent = 1;
                while (a + extent < kAddresses && !s.model.at(b, l, a + extent).Head) ++extent;
                o << "  station " << std::setw(2) << std::right << a << std::left << "  "
                  << std::setw(5) << stationTypeNames()[size_t(rec.StaType)] << " addresses " << a
                  << "-" << a + extent - 1 << "  modules:";
                for (int m = 0; m < kModules && rec.Module[size_t(m)] > 0; ++m)
                    o << " " << models.entry(rec.Module[size_t(m)]).ModelCode;
                o << "\n";
                // Units as the save names them: runs of equal type and number.
                for (int sl = 0; sl < kSlots && rec.Slot[size_t(sl)].Unit >= 1;) {
                    const TKVStlRec& first = rec.Slot[size_t(sl)];
                    std::string offsets, ids;
                    int e = sl;
                    while (e < kSlots && rec.Slot[size_t(e)].Unit >= 1 &&
                           rec.Slot[size_t(e)].Seq == first.Seq &&
                           rec.Slot[size_t(e)].Info.Name == first.Info.Name &&
                           (rec.StaType != kStaMst || e == sl ||
                            rec.Slot[size_t(e)].Info.Name != "DIO")) {
                        offsets += (offsets.empty() ? "" : ",") + std::to_string(e);
                        ids += (ids.empty() ? "" : ",") + std::to_string(4 * a + e);
                        ++e;
                    }
                    o << "    " << std::setw(10)
                      << (first.Info.Name + "_" + std::to_string(first.Seq)) << " " << std::setw(10)
                      << first.Info.ModelCode << " offsets " << offsets << "  logical IDs " << ids
                      << "\n";
                    sl = e;
                }
            }
    }
    return kExitOk;
}

int cmdCheck(const Context& ctx, const std::vector<std::string>& args) {
    if (!args.empty()) {
        *ctx.err << "kalvo-config check: takes no arguments\n";
        return kExitUsage;
    }
    ModelTable models;
    models.load(ctx.modelTable);
    ConfigModel model(models);
    model.setFolder(ctx.folder);
    LoadResult loaded = loadConfiguration(model);
    std::vector<std::string> problems = checkConfiguration(model, loaded);
    for (const std::string& p : problems) *ctx.out << p << "\n";
    if (problems.empty()) *ctx.out << "no problems found in " << ctx.folder << "\n";
    return problems.empty() ? kExitOk : kExitFailed;
}

const Command kCommands[] = {
    {"show", "show [--models]",
     "Shows the boards, stations, modules and units of the folder's Kalvo.ini: each unit with\n"
     "its section name, its offsets and its logical IDs (4 x address + offset).\n"
     "--models lists the model table instead.\n",
     cmdShow},
    {"check", "check",
     "Reports every problem a load would skip silently or a run would trip on, each with\n"
     "its file and section: overlapping stations, unknown models, skipped unit sections and\n"
     "why, units whose offsets leave their station, board kinds no row matches, model table\n"
     "sections that are skipped. Exit status 1 when there is a problem.\n",
     cmdCheck},
    {"new", "new --board SLOT=KIND[:BAUD[:LF]] ...",
     "Starts a new configuration in the folder with the given boards and no stations, and\n"
     "saves it (Kalvo.ini, board library ini, KalvoConfig.dat). SLOT is 1 to 4; KIND is\n"
     "Pcimaster64, Dualmaster, Cardmaster or KV40MST; BAUD 3, 6 or 12 (Mbit/s, default 3)\n"
     "and LF 0 or 1 (default 0) are written for Cardmaster and KV40MST. Board numbers are\n"
     "counted over the used slots.\n",
     cmdNew},
    {"board", "board BOARD KIND[:BAUD[:LF]]",
     "Changes board BOARD (1 to 4; the next number adds a board): a new kind or line\n"
     "settings, or 'none' for the last board (its stations are removed). The files number\n"
     "boards over the used slots, so once saved board n is slot n. Saves.\n",
     cmdBoard},
    {"place", "place BOARD ADDRESS TYPE [MODEL...]",
     "Places a station of TYPE (MST, AXS2, AXS4, RFID2, RFID3) at ADDRESS (0 to 31) of board\n"
     "number BOARD, replacing the station there; an MST station takes up to four MODELs (model\n"
     "codes of the model table), laid out on its logical IDs. Refused, with nothing saved,\n"
     "when the station would overlap another or run past address 31. Saves.\n",
     cmdPlace},
    {"remove", "remove BOARD ADDRESS",
     "Removes the station whose head is at ADDRESS of board number BOARD. Saves.\n", cmdRemove},
    {"modules", "modules BOARD ADDRESS [MODEL...]",
     "Sets the modules of the MST station at ADDRESS of board BOARD (none: no modules), as the\n"
     "station dialog does; refused when they need more than 16 logical IDs or more addresses\n"
     "than are free. Saves.\n",
     cmdModules},
    {"dat", "dat", "Writes KalvoConfig.dat of the folder's configuration only.\n", cmdDat},
};

const Command* find(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

}  // namespace

bool isCommand(const std::string& name) {
    return find(name) != nullptr;
}

std::string usage() {
    std::string text =
        "usage: kalvo-config [-C FOLDER] COMMAND [ARGUMENTS]\n"
        "Builds, changes and checks a Kalvo configuration folder (Kalvo.ini, the board library\n"
        "ini files, KalvoConfig.dat) as the configuration tool does. FOLDER defaults to the\n"
        "current directory; ModelTbl.ini is taken from the folder when it holds one, else from\n"
        "share/kalvo beside the program's folder. 'kalvo-config COMMAND --help' describes a\n"
        "command.\n\ncommands:\n";
    for (const Command& c : kCommands) text += "  " + std::string(c.synopsis) + "\n";
    return text;
}

std::string commandNames() {
    std::string text;
    for (const Command& c : kCommands) text += std::string(c.name) + "\n";
    return text;
}

int runCommand(const Context& ctx, const std::string& command,
               const std::vector<std::string>& args) {
    const Command* c = find(command);
    if (!c) {
        *ctx.err << "kalvo-config: unknown command \"" << command << "\"\n" << usage();
        return kExitUsage;
    }
    if (std::find(args.begin(), args.end(), "--help") != args.end() ||
        std::find(args.begin(), args.end(), "-h") != args.end()) {
        *ctx.out << "usage: kalvo-config [-C FOLDER] " << c->synopsis << "\n" << c->help;
        return kExitOk;
    }
    return c->run(ctx, args);
}

}  // namespace kalvo::tool::cli
