// The board library's own ini ("<library name>.ini", for example
// "Cardmaster.ini"): the baud rate of a board's line, written by the
// configuration tool. Sections are numbered with the library instance number
// of the board (0 for the first board that uses the library), keys with the
// 0-based line index.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kalvo::configfiles {

// "<library name>.ini" made absolute against the current directory, or the
// bare name when that fails.
std::string boardLibraryIniFileName(std::string_view libraryName);

// "Baudrate_0" of section "BOARD_<board>", default -1 (leave the chip's
// setting alone).
int32_t readBoardBaudCode(const std::string& file, int32_t board);

}  // namespace kalvo::configfiles
