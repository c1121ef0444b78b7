// The word-offset list of a unit section ("Offset" key of Kalvo.ini).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kalvo::configfiles {

inline constexpr int kMaxOffsets = 16;

// Offsets from the unit's station address, in order, up to (not including)
// the first negative field. Entries from count on are -1.
struct OffsetList {
    std::array<int32_t, kMaxOffsets> offsets;
    int32_t count = 0;

    OffsetList() { offsets.fill(-1); }
};

// Parses an "Offset" value the way the API library reads it: the text is cut
// at the first CR, LF or NUL and split at commas into at most 16 fields;
// blanks and tabs before a field are skipped and the field is scanned as a
// signed decimal number; a field that does not scan, or is missing, is -1.
// A number beyond the 32-bit range is clamped to it, so a huge offset stays
// out of range instead of wrapping into a valid one.
OffsetList parseOffsetList(std::string_view text);

}  // namespace kalvo::configfiles
