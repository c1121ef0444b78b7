#include "api/configfiles/offset_list.h"

#include <limits>

namespace kalvo::configfiles {

namespace {

// One field: optional blanks and tabs, optional sign, decimal digits; what
// follows the digits is ignored. -1 when there are no digits.
int32_t scanField(std::string_view field) {
    size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || field[i] == '\t')) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        ++i;
    }
    if (i >= field.size() || field[i] < '0' || field[i] > '9') return -1;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        if (value <= kLimit) value = value * 10 + (field[i] - '0');
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

}  // namespace

OffsetList parseOffsetList(std::string_view text) {
    text = text.substr(0, text.find_first_of(std::string_view("\r\n\0", 3)));

    OffsetList list;
    bool fieldsLeft = true;  // a text of n commas has n + 1 fields
    for (int field = 0; field < kMaxOffsets && fieldsLeft; ++field) {
        size_t comma = text.find(',');
        int32_t value = scanField(text.substr(0, comma));
        if (value < 0) break;
        list.offsets[field] = value;
        list.count = field + 1;
        fieldsLeft = comma != std::string_view::npos;
        if (fieldsLeft) text.remove_prefix(comma + 1);
    }
    return list;
}

}  // namespace kalvo::configfiles
