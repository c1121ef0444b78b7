// The placement record of a unit (UnitPlacement of the public header): what
// the OpenEx calls take and what reading a unit section gives. Its layout is
// an external interface and is fixed here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "kalvo/kalvo.h"

namespace kalvo::api {

static_assert(sizeof(UnitPlacement) == 88);
static_assert(offsetof(UnitPlacement, family) == 0);
static_assert(offsetof(UnitPlacement, unit) == 4);
static_assert(offsetof(UnitPlacement, kind) == 8);
static_assert(offsetof(UnitPlacement, board) == 12);
static_assert(offsetof(UnitPlacement, line) == 16);
static_assert(offsetof(UnitPlacement, base) == 20);
static_assert(offsetof(UnitPlacement, offsets) == 24);

inline constexpr int kMaxUnitOffsets = 16;

// Reads the unit section "<family name>_<unit>" of the ini file: board,
// line, base and offsets (-1 each when absent), the kind by its name (-1 when
// the name is no kind), family and unit number as given. Offsets after the
// list's end are -1.
UnitPlacement readPlacement(const std::string& iniFile, int32_t familyCode, int32_t unit);

}  // namespace kalvo::api
