#include "sim/units/unit_args.h"

#include <charconv>
#include <cstdio>

namespace kalvo::sim::units {

bool parseInteger(std::string_view word, int64_t min, int64_t max, int64_t* value,
                  std::string* error, std::string_view what) {
    std::string_view text = word;
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    bool ok = !text.empty() && ec == std::errc() && end == text.data() + text.size() &&
              magnitude <= (uint64_t{1} << 62);
    int64_t number = 0;
    if (ok) {
        number = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
        ok = number >= min && number <= max;
    }
    if (!ok) {
        *error = std::string(what) + " must be a number from " + std::to_string(min) + " to " +
                 std::to_string(max) + ", not \"" + std::string(word) + "\"";
        return false;
    }
    *value = number;
    return true;
}

bool parseOnOff(std::string_view word, bool* value, std::string* error) {
    if (word == "on" || word == "1" || word == "true") {
        *value = true;
        return true;
    }
    if (word == "off" || word == "0" || word == "false") {
        *value = false;
        return true;
    }
    *error = "expected on or off, not \"" + std::string(word) + "\"";
    return false;
}

bool expectWords(const std::vector<std::string>& words, size_t count, std::string* error,
                 std::string_view usage) {
    if (words.size() == count) return true;
    *error = "usage: " + std::string(usage);
    return false;
}

std::string hexWord(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFFu);
    return text;
}

}  // namespace kalvo::sim::units
