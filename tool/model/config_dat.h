// KalvoConfig.dat: the binary image of the configuration that the transfer
// program sends to the modules: per used board the line word (baud code and
// long frame) and the unit code byte of every logical ID of the line.
#pragma once

#include <cstdint>
#include <string>

#include "tool/model/network_model.h"

namespace kalvo::tool {

inline constexpr size_t kDatHeaderBytes = 4;
inline constexpr size_t kDatBoardBytes = 290;
inline constexpr size_t kDatLineBytes = 144;

// Low byte the baud code (3 Mbit/s: 1, 6: 2, 12: 3), high byte the long-frame
// flag; for any other rate the long-frame value alone.
uint16_t datLineWord(int32_t baudrate, int32_t longFrame);

// The line word of a board's line: its own rate and long frame when its kind
// takes line settings, else always 3 Mbit/s without long frame (0x0001), so
// one network gives one file however it was reached.
uint16_t boardLineWord(const TBoardSetRec& board, int line);

// The whole file image.
std::string buildConfigDat(const ConfigModel& model);

// Writes "KalvoConfig.dat" in the model's folder through a temporary file
// renamed over the old one, so a failed write leaves the previous file whole.
// False with *error saying what went wrong.
bool writeConfigDat(const ConfigModel& model, std::string* error);

}  // namespace kalvo::tool
