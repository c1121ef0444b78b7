#include "tool/cli/config_commands.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <iomanip>
#include <map>
#include <ostream>
#include <sstream>

#include "platform/library_search.h"
#include "tool/model/config_dat.h"
#include "tool/model/configuration_check.h"
#include "tool/model/configuration_files.h"
#include "tool/model/editor_operations.h"
#include "tool/model/folder_save.h"
#include "tool/model/ini_source.h"
#include "tool/model/station_layout.h"
#include "tool/model/station_summary.h"

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

// The folder's model table (its own, else the installed one), said once
// when it cannot be read.
struct Session {
    ModelTableLocation where;
    ModelTable models;
    ModelTable::Source source = ModelTable::Source::missing;
    ConfigModel model{models};
    explicit Session(const Context& ctx) : where(locateModelTable(ctx.folder)) {
        source = models.load(where.Path);
        if (source != ModelTable::Source::loaded)
            *ctx.err << "kalvo-config: " << describeModelTable(where, source) << "\n";
        model = ConfigModel(models);
        model.setFolder(ctx.folder);
    }
    Session(const Session&) = delete;
};

// Loads the folder; what the load skipped is said, each with its section.
bool load(const Context& ctx, Session& s) {
    LoadResult r = loadConfiguration(s.model);
    if (!r.ok()) {
        *ctx.err << "kalvo-config: " << r.Message << "\n";
        return false;
    }
    for (const std::string& skipped : r.Skipped)
        *ctx.err << "kalvo-config: warning: " << skipped << "\n";
    return true;
}

// Save as the GUI's Save does: refused when the folder it would write does
// not load as it stands; else Kalvo.ini, the board library ini files, then
// KalvoConfig.dat.
int save(const Context& ctx, const Session& s) {
    const SaveOutcome outcome = saveFolder(s.model);
    for (const std::string& why : outcome.Refused)
        *ctx.err << "kalvo-config: not saved: " << why << "\n";
    if (!outcome.Refused.empty()) {
        *ctx.err << "kalvo-config: nothing was written to " << ctx.folder << "\n";
        return kExitFailed;
    }
    for (const std::string& f : outcome.FailedFiles)
        *ctx.err << "kalvo-config: " << f
                 << " could not be written completely (check the folder's permissions and free "
                    "space)\n";
    if (!outcome.DatError.empty()) *ctx.err << "kalvo-config: " << outcome.DatError << "\n";
    return outcome.ok() ? kExitOk : kExitFailed;
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
        const std::vector<int32_t> found = s.models.match(names[n]);
        if (found.empty()) {
            *ctx.err << "kalvo-config: model \"" << names[n] << "\" is not in the model table "
                     << s.where.Path << " (by model code, code number or name; see 'kalvo-config "
                     << "show --models')\n";
            return false;
        }
        if (found.size() > 1) {
            *ctx.err << "kalvo-config: model \"" << names[n] << "\" could be";
            for (int32_t e : found)
                *ctx.err << (e == found.front() ? " " : ", ") << moduleLabel(s.models.entry(e));
            *ctx.err << "; give its model code\n";
            return false;
        }
        (*modules)[n] = found.front();
    }
    return true;
}

std::string dropMessage(const Session& s, int slot, DropResult r, int address) {
    if (r == DropResult::ignored) return "nothing to change at address " + std::to_string(address);
    return dropRefusal(s.model, slot, 0, address, r) +
           "; remove the station in the way or choose another address";
}

// ---------------------------------------------------------------- commands

int cmdNew(const Context& ctx, const std::vector<std::string>& args) {
    std::array<int32_t, kBoardSlots> kinds{};
    std::array<TLineSetRec, kBoardSlots> lines{};
    for (auto& l : lines) l = {3, 0};
    bool force = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        if (a == "--force") {
            force = true;
            continue;
        } else if (a == "--board" && i + 1 < args.size()) {
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
    // An empty network saved over a configuration replaces it: only when
    // asked for.
    const std::vector<std::string> replaced = filesASaveReplaces(ctx.folder, boards);
    if (!force && std::find(replaced.begin(), replaced.end(), "Kalvo.ini") != replaced.end()) {
        *ctx.err << "kalvo-config new: " << ctx.folder
                 << " already holds a configuration; a new one would replace";
        for (const std::string& f : replaced) *ctx.err << (f == replaced.front() ? " " : ", ") << f;
        *ctx.err << ". Give --force to replace it, or choose another folder with -C\n";
        return kExitFailed;
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
    if (const std::vector<int> later = laterBoardsInUse(kinds, slot); kind == 0 && !later.empty()) {
        *ctx.err << "kalvo-config board: board " << later.front() + 1 << " exists, so board "
                 << slot + 1 << " cannot be set to not used; only the last board can\n";
        return kExitFailed;
    }
    kinds[size_t(slot)] = kind;
    lines[size_t(slot)] = line;
    BoardSettings changed = boardSettingsFromDialog(s.model, kinds, lines);
    // The board named is the user's choice, also when it was not understood.
    if (kind == 0) changed = boardSettingsFromKinds(kinds, lines);
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
                 << s.where.Path << "\n";
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
        *ctx.err << "kalvo-config place: " << dropMessage(s, slot, r, address) << "\n";
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
        *ctx.err << "kalvo-config remove: " << dropMessage(s, slot, r, address) << "\n";
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
    const std::vector<std::string> refused = saveRefusals(s.model);
    for (const std::string& why : refused)
        *ctx.err << "kalvo-config dat: not written: " << why << "\n";
    if (!refused.empty()) return kExitFailed;
    std::string error;
    if (!writeConfigDat(s.model, &error)) {
        *ctx.err << "kalvo-config dat: " << error << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

void showModels(const Context& ctx, const Session& s) {
    // Which table, on stderr: scripts (the shell completion among them) read
    // the table from its header line on.
    *ctx.err << describeModelTable(s.where, s.source) << "\n";
    std::ostream& o = *ctx.out;
    o << "index  type  model               code  ids  ch  slots  rows  name\n";
    for (size_t i = 1; i < s.models.list().size(); ++i) {
        const TStlInfoRec& e = s.models.list()[i];
        o << std::left << std::setw(7) << i << std::setw(6) << e.Name << std::setw(20)
          << e.ModelCode << std::setw(6) << e.Info.Code << std::setw(5) << e.Info.Id << std::setw(4)
          << e.Info.Ch << std::setw(7) << e.SlotCount << std::setw(6) << e.RowCount << e.Info.Name
          << "\n";
    }
}

std::string joinedNumbers(const std::vector<int>& numbers) {
    std::string text;
    for (int n : numbers) text += (text.empty() ? "" : ",") + std::to_string(n);
    return text;
}

int cmdShow(const Context& ctx, const std::vector<std::string>& args) {
    Session s(ctx);
    if (args.size() == 1 && args[0] == "--models") {
        showModels(ctx, s);
        return kExitOk;
    }
    if (!args.empty()) {
        *ctx.err << "kalvo-config show: unexpected \"" << args[0] << "\"\n";
        return kExitUsage;
    }
    if (!load(ctx, s)) return kExitFailed;
    std::ostream& o = *ctx.out;
    o << describeModelTable(s.where, s.source) << "\n";
    bool problems = false;
    for (int b = 0; b < kBoardSlots; ++b) {
        const TBoardSetRec& board = s.model.boards()[size_t(b)];
        if (board.BoardNo == 0) continue;
        const TBoardRec& kind = boardKinds()[size_t(std::clamp(board.Kind, 0, kBoardKinds - 1))];
        o << "Board " << board.BoardNo << ": "
          << (board.LineCount ? std::string(kind.LibName) : "not understood (see the warning)")
          << (board.LineCount ? ", line 1" : "");
        if (kind.LineSettings && board.LineCount)
            o << ", " << board.Line[0].Baudrate << " Mbit/s, long frame "
              << board.Line[0].LongFrame;
        o << "\n";
        for (int l = 0; l < std::min(board.LineCount, kLines); ++l)
            for (int a = 0; a < kAddresses; ++a) {
                const StationSummary st = summarizeStation(s.model, b, l, a);
                if (st.StaType == kStaNew) continue;
                o << "  station " << std::setw(2) << std::right << a << std::left << "  "
                  << std::setw(5) << stationTypeNames()[size_t(st.StaType)] << " addresses "
                  << st.First << "-" << st.Last << "  modules:";
                for (const ModuleSummary& m : st.Modules) o << " " << m.Label;
                if (st.Modules.empty()) o << " none";
                o << "\n";
                if (st.RunsPast) {
                    o << "    its units reach past address 31: not saved as it is (see "
                         "'kalvo-config check')\n";
                    problems = true;
                }
                // Units as the save names them.
                for (const UnitSummary& u : st.Units) {
                    o << "    " << std::setw(10) << u.Section << " " << std::setw(10) << u.ModelCode
                      << " offsets " << joinedNumbers(u.Offsets) << "  logical IDs "
                      << (u.LogicalIds.empty() ? "none" : joinedNumbers(u.LogicalIds));
                    if (u.Section.size() > 2 && u.Section.substr(u.Section.size() - 2) == "_0") {
                        o << "  (no unit section names it)";
                        problems = true;
                    }
                    o << "\n";
                }
            }
    }
    if (problems)
        *ctx.err << "kalvo-config show: the folder has problems; see 'kalvo-config check'\n";
    return kExitOk;
}

// Boards whose library libKalvo would not find here: a warning, since the
// folder may be meant for another machine.
std::vector<std::string> libraryWarnings(const Context& ctx, const ConfigModel& model) {
    std::vector<std::string> out;
    const std::vector<std::string> folders =
        platform::librarySearchFolders(ctx.libraryDir, ctx.folder);
    for (const TBoardSetRec& board : model.boards()) {
        if (board.BoardNo == 0 || board.LineCount == 0) continue;
        const std::string kind(boardKinds()[size_t(board.Kind)].LibName);
        if (!platform::findLibraryFile(kind, folders).empty()) continue;
        std::string searched;
        for (const std::string& f : folders) searched += (searched.empty() ? "" : ", ") + f;
        out.push_back("Kalvo.ini: [BOARD_" + std::to_string(board.BoardNo) + "]: Kind=" + kind +
                      ": its library " + platform::moduleFileName(kind) +
                      " is not installed here (searched " + searched +
                      "); programs fail to load in this folder until it is");
    }
    return out;
}

int cmdCheck(const Context& ctx, const std::vector<std::string>& args) {
    if (!args.empty()) {
        *ctx.err << "kalvo-config check: takes no arguments\n";
        return kExitUsage;
    }
    std::ostringstream quiet;
    Context silent = ctx;
    silent.err = &quiet;  // the model table is reported below, with the rest
    Session s(silent);
    LoadResult loaded = loadConfiguration(s.model);
    std::vector<std::string> problems = checkConfiguration(s.model, loaded);
    *ctx.out << describeModelTable(s.where, s.source) << "\n";
    for (const std::string& p : problems) *ctx.out << p << "\n";
    const std::vector<std::string> warnings =
        loaded.ok() ? libraryWarnings(ctx, s.model) : std::vector<std::string>{};
    for (const std::string& w : warnings) *ctx.out << "warning: " << w << "\n";
    if (problems.empty())
        *ctx.out << "no problems found in " << ctx.folder
                 << (warnings.empty() ? "" : " (see the warnings)") << "\n";
    return problems.empty() ? kExitOk : kExitFailed;
}

const Command kCommands[] = {
    {"show", "show [--models]",
     "Shows the model table used, then the boards, stations, modules (code and name) and units\n"
     "of the folder's Kalvo.ini: each unit with its section name, its offsets and its logical\n"
     "IDs (4 x address + offset). --models lists the model table instead.\n",
     cmdShow},
    {"check", "check",
     "Reports every problem a load would skip silently or a run would trip on, each with\n"
     "its file and section: overlapping stations, unknown models, skipped unit sections and\n"
     "why, units whose offsets leave their station, board kinds no row matches, model table\n"
     "sections that are skipped. Every save refuses what check would find in the folder it\n"
     "writes. Warns (without failing) when a board's library is not installed here.\n"
     "Exit status 1 when there is a problem.\n",
     cmdCheck},
    {"new", "new [--force] --board SLOT=KIND[:BAUD[:LF]] ...",
     "Starts a new configuration in the folder with the given boards and no stations, and\n"
     "saves it (Kalvo.ini, board library ini, KalvoConfig.dat). SLOT is 1 to 4; KIND is\n"
     "Pcimaster64, Dualmaster, Cardmaster or KV40MST; BAUD 3, 6 or 12 (Mbit/s, default 3)\n"
     "and LF 0 or 1 (default 0) are written for Cardmaster and KV40MST. Board numbers are\n"
     "counted over the used slots. A folder that already holds a Kalvo.ini is refused, naming\n"
     "the files that would be replaced, unless --force is given.\n",
     cmdNew},
    {"board", "board BOARD KIND[:BAUD[:LF]]",
     "Changes board BOARD (1 to 4; the next number adds a board): a new kind or line\n"
     "settings, or 'none' for the last board (its stations are removed). The files number\n"
     "boards over the used slots, so once saved board n is slot n. Saves.\n",
     cmdBoard},
    {"place", "place BOARD ADDRESS TYPE [MODEL...]",
     "Places a station of TYPE (MST, AXS2, AXS4, RFID2, RFID3) at ADDRESS (0 to 31) of board\n"
     "number BOARD, replacing the station there; an MST station takes up to four MODELs (each\n"
     "a model code, a code number or a plain name, as 'show --models' lists them), laid out\n"
     "on its logical IDs. Refused, with nothing saved, when the station would overlap another\n"
     "or run past address 31. Saves.\n",
     cmdPlace},
    {"remove", "remove BOARD ADDRESS",
     "Removes the station whose head is at ADDRESS of board number BOARD. Saves.\n", cmdRemove},
    {"modules", "modules BOARD ADDRESS [MODEL...]",
     "Sets the modules of the MST station at ADDRESS of board BOARD (none: no modules), as the\n"
     "station dialog does (MODELs as for place); refused when they need more than 16 logical\n"
     "IDs or more addresses than are free. Saves.\n",
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
        "current directory; ModelTbl.ini is taken from the folder when it holds one, else the\n"
        "installed one (PREFIX/share/kalvo/ModelTbl.ini); show and check say which. A save is\n"
        "refused, and nothing written, when the folder it would write has a problem that check\n"
        "finds. 'kalvo-config COMMAND --help' describes a command.\n\ncommands:\n";
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
