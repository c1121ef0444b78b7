// A unit's current values in one short text, for kalvo units.
#pragma once

#include <string>

#include "cli/folder_config.h"
#include "cli/kalvo_library.h"

namespace kalvo::cli {

// The unit must be open. DIO: "in 0x0001 out 0x0001"; ADA: the channels'
// input values; AXSA: job 1's status and data; SIO: its channel count.
std::string unitValues(KalvoLibrary& library, const UnitEntry& unit);

}  // namespace kalvo::cli
