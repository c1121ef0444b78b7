// Checks shared by the two sources of a network description.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/network/network.h"

namespace kalvo::sim {

// Station addresses of one line.
inline constexpr int32_t kLineAddresses = 32;
// Word offsets of a unit from its station (four words an address).
inline constexpr int kMaxUnitOffsets = 16;
inline constexpr int kWordsPerAddress = 4;

// A plain decimal number (no sign, no blanks) within [min, max].
bool parseInteger(std::string_view text, int64_t min, int64_t max, int64_t* value);

// The families with unit behaviour on the simulated line.
bool isUnitFamily(std::string_view family);
// "FAMILY_N" with a unit family and N from 1 to 1024.
bool parseUnitName(std::string_view name, std::string* family, int32_t* number);

// "0,1,2": 1 to 16 numbers from 0 to 15.
bool parseOffsets(std::string_view text, std::vector<int>* offsets);

// The board's station whose addresses hold address; null when none.
const StationDescription* stationCovering(const BoardNetwork& board, int32_t address);

// The station fits on the line and takes no address of another station.
bool checkStation(const BoardNetwork& board, const StationDescription& station, std::string* why);

}  // namespace kalvo::sim
