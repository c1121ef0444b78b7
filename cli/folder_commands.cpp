// kalvo status, units (--watch), doctor and strerror.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "cli/commands.h"
#include "cli/doctor.h"
#include "cli/folder_config.h"
#include "cli/host_findings.h"
#include "cli/kalvo_library.h"
#include "cli/unit_values.h"
#include "kalvo/kalvo_errors.h"

namespace kalvo::cli {
namespace {

std::string libraryDir() {
    const std::string path = KalvoLibrary::libraryPath();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

int report(const Findings& findings) {
    int problems = 0;
    for (const Finding& f : findings) {
        std::printf("%s %s\n", f.problem ? "PROBLEM:" : "ok:     ", f.text.c_str());
        if (f.problem) ++problems;
    }
    return problems;
}

std::string offsetsText(const UnitEntry& unit) {
    std::string text;
    for (int32_t o : offsetsOf(unit.placement))
        text += (text.empty() ? "" : ",") + std::to_string(o);
    return text.empty() ? "-" : text;
}

std::string codeText(int32_t ret) {
    if (ret == 0) return "open";
    const char* name = kalvo_api_error_name(ret);
    return name ? name : std::to_string(ret);
}

volatile sig_atomic_t gStop = 0;
void onInterrupt(int) {
    gStop = 1;
}

}  // namespace

int runStrerror(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long code = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end || errno || code < INT32_MIN || code > INT32_MAX) {
        std::fprintf(stderr,
                     "kalvo strerror: \"%s\" is not a number; give a return code such as 9 or "
                     "0x11\n",
                     text.c_str());
        return kExitUsage;
    }
    const auto c = static_cast<int32_t>(code);
    const char* api = kalvo_api_error_name(c);
    const char* board = kalvo_board_error_name(c);
    if (!api && !board) {
        std::printf("%s: not a return code of libKalvo nor of a board library\n", text.c_str());
        return kExitFailed;
    }
    if (api)
        std::printf("libKalvo:      %s (%s): %s\n", api, text.c_str(), kalvo_api_error_text(c));
    if (board)
        std::printf("board library: %s (%s): %s\n", board, text.c_str(), kalvo_board_error_text(c));
    return kExitOk;
}

int runDoctor() {
    const FolderConfig config = readFolder(".");
    std::printf("kalvo doctor: %s\n", config.folder.c_str());
    int problems = report(checkConfiguration(config, libraryDir()));
    if (!config.iniReadable) {
        std::printf("1 problem: a program cannot start here\n");
        return kExitFailed;
    }
    problems += report(checkLogFolder(config));
    const Findings host = checkDeviceHost();
    problems += report(host);
    const std::optional<HostView> view = lookAtHost(config);
    if (view) problems += report(checkHostNetwork(config, *view));
    if (view) problems += report(checkHostRestart(config, *view));
    KalvoLibrary library;
    std::string why;
    if (!library.load(&why)) {
        ++problems;
        report({{true, why}});
    } else {
        problems += report(checkRunning(library, config, view ? &*view : nullptr));
    }
    if (problems == 0)
        std::printf("no problem found: programs using libKalvo can run in this folder\n");
    else
        std::printf("%d problem(s) found: each line above marked PROBLEM says what to do\n",
                    problems);
    return problems ? kExitFailed : kExitOk;
}

int runStatus() {
    const FolderConfig config = readFolder(".");
    const Findings cfg = checkConfiguration(config, libraryDir());
    if (!config.iniReadable) {
        report(cfg);
        return kExitFailed;
    }
    const auto folders = boardLibraryFolders(libraryDir(), config.folder);
    KalvoLibrary library;
    std::string why;
    const bool loaded = library.load(&why);
    int failures = 0;
    bool lostHere = false;  // a unit call gave -1: the host went away under us
    const std::optional<HostView> view = lookAtHost(config);
    if (loaded) waitForLines(library, config, view ? &*view : nullptr);
    std::printf("folder %s: %d board(s)\n", config.folder.c_str(), config.boardCount);
    for (const auto& board : config.boards) {
        const std::string found = findBoardLibrary(board.section.kind, folders);
        std::printf("board %d: Kind=%s, library %s\n", board.number, board.section.kind.c_str(),
                    found.empty() ? ("not found (searched " +
                                     [&] {
                                         std::string t;
                                         for (auto& f : folders) t += (t.empty() ? "" : ", ") + f;
                                         return t;
                                     }() +
                                     ")")
                                        .c_str()
                                  : found.c_str());
        const int32_t ret = loaded ? library.KV_CheckBoard(board.number) : -1;
        if (loaded)
            std::printf("  open: %s\n",
                        ret == 0
                            ? "yes"
                            : (codeText(ret) + " (" + kalvo_api_error_text(ret) + ")").c_str());
        if (ret != 0) ++failures;
        for (int l = 0; l < kMaxLines; ++l) {
            if (board.section.stationAddr[l] < 0) continue;
            int units = 0, answering = 0;
            for (const auto& unit : config.units) {
                if (unit.placement.board != board.number || unit.placement.line != l + 1 ||
                    !placementProblem(config, unit).empty() || ret != 0)
                    continue;
                ++units;
                if (library.open(unit.family, unit.number) == 0) {
                    int32_t c = 0;
                    if (library.condition(unit.family, unit.number, &c) == -1) lostHere = true;
                    answering += c ? 1 : 0;
                    library.close(unit.family, unit.number);
                }
            }
            std::printf("  line %d: StationAddr=%d StationSize=%d, %s\n", l + 1,
                        board.section.stationAddr[l], board.section.stationSize[l],
                        ret != 0    ? "not running (board not open)"
                        : answering ? ("running: " + std::to_string(answering) + " of " +
                                       std::to_string(units) + " unit(s) answer")
                                          .c_str()
                        : units ? "not running: no unit's station answers"
                                : "no units");
        }
    }
    const Findings host = checkDeviceHost();
    report(host);
    int hostProblems = 0;
    if (view) hostProblems += report(checkHostNetwork(config, *view));
    if (view) hostProblems += report(checkHostRestart(config, *view));
    if (lostHere) report({lostUnderThisProgram(view ? &*view : nullptr)});
    if (!loaded) report({{true, why}});
    const bool hostOk = !host.empty() && !host.front().problem && hostProblems == 0 && !lostHere;
    if (loaded && hostOk && failures == 0)
        std::printf("verdict: every board is open; programs can run here\n");
    else
        std::printf("verdict: not usable as it is; run kalvo doctor for the reasons\n");
    return loaded && hostOk && failures == 0 ? kExitOk : kExitFailed;
}

int runUnits(bool watch, int intervalMs) {
    const FolderConfig config = readFolder(".");
    if (!config.iniReadable) {
        report(checkConfiguration(config, libraryDir()));
        return kExitFailed;
    }
    KalvoLibrary library;
    std::string why;
    if (!library.load(&why)) {
        std::fprintf(stderr, "kalvo: %s\n", why.c_str());
        return kExitFailed;
    }
    std::vector<int32_t> opened(config.units.size(), -1);
    for (size_t i = 0; i < config.units.size(); ++i) {
        const auto& unit = config.units[i];
        opened[i] = library.open(unit.family, unit.number);
    }
    auto table = [&] {
        std::vector<std::string> lines;
        char head[160];
        std::snprintf(head, sizeof head, "%-9s %-6s %5s %4s %7s  %-20s %-22s %4s  %s", "unit",
                      "family", "board", "line", "station", "offsets", "open", "cond", "values");
        lines.push_back(head);
        for (size_t i = 0; i < config.units.size(); ++i) {
            const auto& unit = config.units[i];
            int32_t condition = 0;
            std::string values;
            if (opened[i] == 0) {
                library.condition(unit.family, unit.number, &condition);
                values = unitValues(library, unit);
            }
            char line[400];
            std::snprintf(line, sizeof line, "%-9s %-6s %5d %4d %7d  %-20s %-22s %4s  %s",
                          unit.section.c_str(), unit.family.c_str(), unit.placement.board,
                          unit.placement.line, unit.placement.base, offsetsText(unit).c_str(),
                          codeText(opened[i]).c_str(),
                          opened[i] == 0 ? (condition ? "yes" : "no") : "-", values.c_str());
            lines.push_back(line);
        }
        return lines;
    };
    int result = kExitOk;
    for (int32_t ret : opened)
        if (ret != 0) result = kExitFailed;
    if (!watch) {
        for (const auto& line : table()) std::printf("%s\n", line.c_str());
    } else {
        // Rewrites the table in place: the cursor goes back up over it and
        // each line is overwritten and its rest cleared, so nothing blanks
        // between two refreshes.
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        std::printf("\033[?25l");  // cursor hidden while refreshing
        size_t shown = 0;
        while (!gStop) {
            const auto lines = table();
            if (shown) std::printf("\033[%zuA", shown);
            for (const auto& line : lines) std::printf("\r%s\033[K\n", line.c_str());
            std::printf("\033[KCtrl-C ends (every %d ms)\n", intervalMs);
            shown = lines.size() + 1;
            std::fflush(stdout);
            poll(nullptr, 0, intervalMs);
        }
        std::printf("\033[?25h");
        std::fflush(stdout);
        result = kExitOk;
    }
    for (size_t i = 0; i < config.units.size(); ++i)
        if (opened[i] == 0) library.close(config.units[i].family, config.units[i].number);
    return result;
}

}  // namespace kalvo::cli
