// The API library's reads of Kalvo.ini: the board count, the board sections
// with the start parameters of lines 1-4, and the unit sections that place a
// unit on the network. Every read goes to the file through the private
// profile calls, so a value is read as it is on disk at the moment of the
// call; an absent file or key gives the defaults below.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "api/configfiles/offset_list.h"

namespace kalvo::configfiles {

// Lines of a board whose start parameters the API library reads.
inline constexpr int kBoardSectionLines = 4;
// Longest text read from a key ("Kind", "Offset"); longer values are cut.
inline constexpr size_t kMaxProfileText = 259;

// Section "Board_%d".
struct KalvoBoardSection {
    std::string kind;  // board library name; empty when absent
    // Element l is line l + 1 ("StationAddr_1" is element 0).
    std::array<int32_t, kBoardSectionLines> stationAddr{-1, -1, -1, -1};
    std::array<int32_t, kBoardSectionLines> stationSize{-1, -1, -1, -1};
    std::array<int32_t, kBoardSectionLines> byteBusSize{4, 4, 4, 4};
    std::array<int32_t, kBoardSectionLines> timeOutTimes{1, 1, 1, 1};
};

// A unit section "%s_%d" (family name, unit number).
struct KalvoUnitSection {
    int32_t board = -1;  // 1-based
    int32_t line = -1;   // 1-based
    int32_t base = -1;   // station address
    OffsetList offsets;  // from "Offset", default "-1" (an empty list)
    std::string kind;    // unit kind name; empty when absent
};

// "Kalvo.ini" made absolute against the current directory, or the bare name
// when that fails.
std::string kalvoIniFileName();

// "Board" of section "Kalvo", default 0.
int32_t readBoardCount(const std::string& file);
// Section "Board_%d" with the 1-based board number.
KalvoBoardSection readBoardSection(const std::string& file, int32_t board);
// Section "<family>_<unit>", for example "DIO_1".
KalvoUnitSection readUnitSection(const std::string& file, std::string_view family, int32_t unit);
KalvoUnitSection readUnitSection(const std::string& file, std::string_view section);

}  // namespace kalvo::configfiles
