#include "cli/doctor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "cli/host_findings.h"
#include "kalvo/kalvo_errors.h"
#include "platform/library_search.h"

namespace kalvo::cli {
namespace {

Finding problem(std::string text) {
    return {true, std::move(text)};
}
Finding fine(std::string text) {
    return {false, std::move(text)};
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

std::string unitWhere(const UnitEntry& unit) {
    return "section [" + unit.section + "] of Kalvo.ini";
}

}  // namespace

std::vector<std::string> boardLibraryFolders(const std::string& libraryDir,
                                             const std::string& folder) {
    return platform::librarySearchFolders(libraryDir, folder);
}

std::string findBoardLibrary(const std::string& kind, const std::vector<std::string>& folders) {
    return platform::findLibraryFile(kind, folders);
}

std::string placementProblem(const FolderConfig& config, const UnitEntry& unit) {
    const auto& p = unit.placement;
    const std::string where = unitWhere(unit);
    if (p.board < 1 || p.board > std::min(config.boardCount, kMaxBoards))
        return where + ": Board=" + std::to_string(p.board) +
               (p.board == -1 ? " (the key is missing or not a number)" : "") +
               " is not a board of this configuration (Board=" + std::to_string(config.boardCount) +
               " in [KALVO]); give a board from 1 to " +
               std::to_string(std::max(1, std::min(config.boardCount, kMaxBoards)));
    if (p.line < 1 || p.line > kMaxLines)
        return where + ": Line=" + std::to_string(p.line) +
               (p.line == -1 ? " (the key is missing or not a number)" : "") +
               " is not a line of the board; the board libraries drive line 1";
    if (p.base < 0 || p.base >= kStationsPerLine)
        return where + ": Base=" + std::to_string(p.base) +
               (p.base == -1 ? " (the key is missing or not a number)" : "") +
               " is not a station address; give the unit's station, 0 to 31";
    const auto offsets = offsetsOf(p);
    if (offsets.empty())
        return where + ": Offset gives no word offset (missing, empty or starting with a " +
               "negative value); list the unit's words, e.g. Offset=0,1,2,3";
    for (int32_t o : offsets)
        if (o > kMaxOffset)
            return where + ": Offset lists " + std::to_string(o) +
                   ", beyond the 16 words of a station (0 to 15)";
    if (unit.family == "AXSA" || unit.family == "SIO") {
        const char* group = unit.family == "AXSA" ? "job" : "channel";
        if (offsets.size() < 4)
            return where + ": Offset lists " + std::to_string(offsets.size()) + " word(s); each " +
                   group + " needs four (e.g. Offset=0,1,2,3)";
        for (size_t g = 0; g + 4 <= offsets.size(); g += 4)
            if (offsets[g] % 4 != 0)
                return where + ": " + group + " " + std::to_string(g / 4 + 1) + " starts at word " +
                       std::to_string(offsets[g]) + ", which is not a multiple of 4; each " +
                       group + "'s four words must start at 0, 4, 8 or 12";
    }
    return {};
}

Findings checkConfiguration(const FolderConfig& config, const std::string& libraryDir) {
    Findings out;
    if (!config.iniExists) {
        out.push_back(problem("there is no Kalvo.ini in " + config.folder +
                              "; run in a configuration folder (or give one with -C FOLDER), "
                              "or make one with kalvo-config"));
        return out;
    }
    if (!config.iniReadable) {
        out.push_back(problem("Kalvo.ini in " + config.folder + " cannot be read: " +
                              config.iniProblem + "; fix its permissions or write it again"));
        return out;
    }
    if (config.boardCount < 1 || config.boardCount > kMaxBoards) {
        out.push_back(problem(
            "Kalvo.ini: Board=" + std::to_string(config.boardCount) + " in section [KALVO] " +
            (config.boardCount == 0 ? "(or the key or section is missing) " : "") +
            "is out of range; the library serves 1 to 4 boards, each with a [BOARD_n] section"));
    } else {
        out.push_back(fine("Kalvo.ini: " + std::to_string(config.boardCount) + " board(s), " +
                           std::to_string(config.units.size()) + " unit section(s)"));
    }

    const auto folders = boardLibraryFolders(libraryDir, config.folder);
    for (const auto& board : config.boards) {
        const std::string section = "[BOARD_" + std::to_string(board.number) + "]";
        if (board.section.kind.empty()) {
            out.push_back(problem("Kalvo.ini: section " + section +
                                  " has no Kind; name the board library, e.g. Kind=Pcimaster64"));
            continue;
        }
        const std::string found = findBoardLibrary(board.section.kind, folders);
        if (found.empty()) {
            out.push_back(problem("board " + std::to_string(board.number) +
                                  ": its library Kind=" + board.section.kind + " (" +
                                  platform::moduleFileName(board.section.kind) +
                                  ") is not found; searched " + joined(folders, ", ") +
                                  ". Check the name (Pcimaster64, Dualmaster, Cardmaster) "
                                  "or install the library beside libKalvo"));
        } else {
            out.push_back(fine("board " + std::to_string(board.number) + ": library " + found));
        }
    }

    std::map<std::pair<int32_t, int32_t>, int> unitsPerLine;
    for (const auto& unit : config.units) {
        const std::string why = placementProblem(config, unit);
        if (!why.empty()) {
            out.push_back(problem(why + " (the library's Open gives 9, KALVO_ERR_UNIT)"));
            continue;
        }
        ++unitsPerLine[{unit.placement.board, unit.placement.line}];
    }
    for (const auto& [where, count] : unitsPerLine) {
        const auto& [b, l] = where;
        const auto& section = config.boards[b - 1].section;
        if (section.stationAddr[l - 1] < 0 || section.stationSize[l - 1] <= 0)
            out.push_back(problem(
                "line " + std::to_string(l) + " of board " + std::to_string(b) +
                " does not start: " + "section [BOARD_" + std::to_string(b) +
                "] has no StationAddr_" + std::to_string(l) + " and StationSize_" +
                std::to_string(l) + ", yet " + std::to_string(count) +
                " unit(s) sit on it; give the master's station address and the station count"));
    }
    return out;
}

Findings checkLogFolder(const FolderConfig& config) {
    Findings out;
    if (::access(config.folder.c_str(), W_OK | X_OK) != 0) {
        out.push_back(problem("the library cannot write its log KalvoLog_<slot><n>.log in " +
                              config.folder + " (" + std::strerror(errno) +
                              "), so it refuses to load; run in a folder this user may write to, "
                              "or change the folder's permissions"));
        return out;
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(config.folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("KalvoLog_", 0) != 0 || entry.path().extension() != ".log") continue;
        const int fd = ::open(entry.path().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            continue;
        }
        out.push_back(problem("the library's log " + entry.path().string() +
                              " cannot be written (" + std::strerror(errno) +
                              "); the library refuses to load when its log cannot be opened: "
                              "remove it or fix its permissions"));
    }
    if (out.empty()) out.push_back(fine("the library's log can be written in " + config.folder));
    return out;
}

void waitForLines(KalvoLibrary& library, const FolderConfig& config, const HostView* host) {
    std::set<int32_t> openBoards;
    for (const auto& board : config.boards)
        if (library.KV_CheckBoard(board.number) == 0) openBoards.insert(board.number);
    std::map<std::pair<int32_t, int32_t>, std::vector<const UnitEntry*>> lines;
    for (const auto& unit : config.units) {
        if (!placementProblem(config, unit).empty() || !openBoards.count(unit.placement.board))
            continue;
        if (host && !hostCarries(*host, unit.section)) continue;
        lines[{unit.placement.board, unit.placement.line}].push_back(&unit);
    }
    for (const auto& [where, units] : lines) {
        std::vector<const UnitEntry*> opened;
        for (const UnitEntry* unit : units)
            if (library.open(unit->family, unit->number) == 0) opened.push_back(unit);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        for (bool up = false; !up && !opened.empty();) {
            for (const UnitEntry* unit : opened) {
                int32_t condition = 0;
                const int32_t asked = library.condition(unit->family, unit->number, &condition);
                up = up || asked != 0 || condition != 0;  // answering, or the board is lost
            }
            if (!up && std::chrono::steady_clock::now() >= deadline) break;
            if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        for (const UnitEntry* unit : opened) library.close(unit->family, unit->number);
    }
}

Findings checkRunning(KalvoLibrary& library, const FolderConfig& config, const HostView* host) {
    Findings out;
    bool lost = false;
    std::set<int32_t> openBoards;
    for (const auto& board : config.boards) {
        const int32_t ret = library.KV_CheckBoard(board.number);
        const std::string name = "board " + std::to_string(board.number);
        if (ret == 0) {
            openBoards.insert(board.number);
            out.push_back(fine(name + " (" + board.section.kind + ") is open"));
        } else if (ret == KALVO_ERR_NO_LIBRARY) {
            out.push_back(problem(name + ": its library " + board.section.kind +
                                  " did not load (KV_CheckBoard gives " +
                                  kalvo_api_error_name(ret) +
                                  "); see the Kind of its section and the log"));
        } else {
            out.push_back(
                problem(name + ": the library " + board.section.kind +
                        " loaded but the board did not " + "open (KV_CheckBoard gives " +
                        (kalvo_api_error_name(ret) ? kalvo_api_error_name(ret) : "?") + ", " +
                        std::to_string(ret) +
                        "); is a device host serving this folder's network, with this board?"));
        }
    }
    waitForLines(library, config, host);
    std::map<std::pair<int32_t, int32_t>, std::pair<int, int>> answering;  // line: (units, answer)
    for (const auto& unit : config.units) {
        if (!placementProblem(config, unit).empty()) continue;
        if (!openBoards.count(unit.placement.board)) continue;
        const int32_t ret = library.open(unit.family, unit.number);
        if (ret != 0) {
            out.push_back(problem(unit.section + ": Open gives " +
                                  (kalvo_api_error_name(ret) ? kalvo_api_error_name(ret) : "?") +
                                  " (" + std::to_string(ret) + "): " + kalvo_api_error_text(ret)));
            continue;
        }
        const bool carried = !host || hostCarries(*host, unit.section);
        int32_t condition = 0;
        const int32_t asked = library.condition(unit.family, unit.number, &condition);
        library.close(unit.family, unit.number);
        if (asked == -1) {  // the board's device host went away under us
            lost = true;
            continue;
        }
        if (!condition && !carried) {
            out.push_back(problem(unit.section + ": station " +
                                  std::to_string(unit.placement.base) +
                                  " does not answer: the device host's network has no such unit "
                                  "(see above), so its wiring is not in question"));
            continue;
        }
        auto& line = answering[{unit.placement.board, unit.placement.line}];
        ++line.first;
        if (condition) {
            ++line.second;
            out.push_back(fine(unit.section + " answers (station " +
                               std::to_string(unit.placement.base) + ")"));
        } else {
            out.push_back(
                problem(unit.section + ": station " + std::to_string(unit.placement.base) +
                        " of board " + std::to_string(unit.placement.board) + " line " +
                        std::to_string(unit.placement.line) +
                        " does not answer; check the unit's power, address switch and cable, or "
                        "Base= in its section"));
        }
    }
    if (lost) out.push_back(lostUnderThisProgram(host));
    for (const auto& [where, counts] : answering) {
        if (counts.first > 1 && counts.second == 0)
            out.push_back(problem("line " + std::to_string(where.second) + " of board " +
                                  std::to_string(where.first) +
                                  " does not appear to run: none of its " +
                                  std::to_string(counts.first) + " units' stations answers"));
    }
    return out;
}

}  // namespace kalvo::cli
