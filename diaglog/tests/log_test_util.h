// Helpers shared by the log tests: reading log files back as lines.
#pragma once

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "diaglog/log_facility.h"

namespace kalvo::diaglog::test {

// A file read as a reader in the writing process reads it: after the lines
// written so far are in the file (the log's thread would put them there
// within milliseconds).
inline std::string readFile(const std::string& path) {
    LogFacility::flushAll();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The board library's log as a test opens it: its names, in the current folder.
inline bool openDualmasterLog(LogFacility& log, uint32_t defaultLevel = 0) {
    return log.open("DualmasterLog", "DualmasterLog.ini", "DualmasterLog.Map", defaultLevel);
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

// Lines of a log file without their "\r\n". A trailing fragment without a
// line end (a torn line) is returned as a line of its own prefixed "TORN:".
inline std::vector<std::string> readLines(const std::string& path) {
    const std::string text = readFile(path);
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back("TORN:" + text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

// True when the line starts with a stamp "MM/DD/YY HH:MM:SS ".
inline bool hasStamp(const std::string& line) {
    static constexpr char kShape[] = "00/00/00 00:00:00 ";
    if (line.size() < sizeof kShape - 1) return false;
    for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (kShape[i] == '0' ? !digit : line[i] != kShape[i]) return false;
    }
    return true;
}

// True when text is one or more decimal digits.
inline bool isNumber(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The message part of a line written without tick count: after the
// 18-byte stamp and the marker.
inline std::string messageOf(const std::string& line, size_t markerLength) {
    return line.size() >= 18 + markerLength ? line.substr(18 + markerLength) : std::string();
}

// Waits until the condition holds (a state that, once reached, stays);
// false when the limit passed first.
inline bool waitFor(const auto& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace kalvo::diaglog::test
