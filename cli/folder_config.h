// What a configuration folder's Kalvo.ini says, read the way the Kalvo
// library reads it: the boards with their sections and every unit section
// of the four families that work (DIO, ADA, AXSA, SIO).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/configfiles/kalvo_ini_reader.h"

namespace kalvo::cli {

// The library's limits: boards 1-4, lines 1-4 per board, stations 0-31 per
// line, word offsets 0-15 from a unit's station, unit numbers 1-1024.
inline constexpr int32_t kMaxBoards = 4;
inline constexpr int32_t kMaxLines = 4;
inline constexpr int32_t kStationsPerLine = 32;
inline constexpr int32_t kMaxOffset = 15;
inline constexpr int32_t kMaxUnit = 1024;

struct BoardEntry {
    int32_t number = 0;  // 1-based
    configfiles::KalvoBoardSection section;
};

struct UnitEntry {
    std::string family;   // "DIO", "ADA", "AXSA" or "SIO"
    int32_t number = 0;   // 1-1024
    std::string section;  // "DIO_1"
    configfiles::KalvoUnitSection placement;
};

struct FolderConfig {
    std::string folder;   // absolute
    std::string iniPath;  // <folder>/Kalvo.ini
    bool iniExists = false;
    bool iniReadable = false;
    std::string iniProblem;          // why it cannot be read, when it cannot
    int32_t boardCount = 0;          // "Board" of section "KALVO"
    std::vector<BoardEntry> boards;  // 1..min(boardCount, kMaxBoards)
    std::vector<UnitEntry> units;    // in the order of the file
};

FolderConfig readFolder(const std::string& folder);

// "DIO_1" -> family "DIO", number 1 (the family in any case); false for a
// name that is not FAMILY_N of a known family with N in 1-1024.
bool parseUnitName(const std::string& name, std::string* family, int32_t* number);

// The word offsets of a placement, in order, up to the first negative one.
std::vector<int32_t> offsetsOf(const configfiles::KalvoUnitSection& placement);

}  // namespace kalvo::cli
