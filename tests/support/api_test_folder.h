// A configuration folder for one test: the test's own working directory and
// runtime namespace, a Kalvo.ini written from parts, and readers of what the
// library and the stand-in board library leave there.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/flush_hooks.h"
#include "tests/support/temp_dir.h"

namespace kalvo::apitest {

// "[Kalvo] Board=<n>" and one board section per kind, line 1 at station 0,
// size 32, as the configuration tool writes it.
inline std::string boardsIni(const std::vector<std::string>& kinds, int count = -1) {
    std::ostringstream ini;
    ini << "[KALVO]\r\nConfigTool=1\r\nBoard=" << (count < 0 ? kinds.size() : count) << "\r\n";
    for (size_t b = 0; b < kinds.size(); ++b)
        ini << "[BOARD_" << b + 1 << "]\r\nKind=" << kinds[b]
            << "\r\nLineMax=1\r\nStationAddr_1=0\r\nStationSize_1=32\r\n";
    return ini.str();
}

inline std::string unitIni(const std::string& section, int board, int line, int base,
                           const std::string& offsets) {
    std::ostringstream ini;
    ini << "[" << section << "]\r\nBoard=" << board << "\r\nLine=" << line << "\r\nBase=" << base
        << "\r\nOffset=" << offsets << "\r\n";
    return ini.str();
}

// A log read as a reader in the logging process reads it: after the logs of
// the libraries loaded here put the lines written so far in their files.
inline std::vector<std::string> readLines(const std::string& path) {
    platform::runFlushHooks();
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The log lines of slot 0 with the time stamp ("MM/DD/YY HH:MM:SS ") cut off.
inline std::vector<std::string> logLines(const testing::TempDir& dir,
                                         const std::string& file = "KalvoLog_0000.log") {
    std::vector<std::string> lines;
    for (auto& line : readLines(dir.file(file)))
        lines.push_back(line.size() > 18 ? line.substr(18) : line);
    return lines;
}

inline bool hasLine(const std::vector<std::string>& lines, const std::string& text) {
    for (auto& l : lines)
        if (l == text) return true;
    return false;
}

}  // namespace kalvo::apitest
