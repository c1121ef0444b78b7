// Parsing of the words of a unit's control commands. Every word comes from a
// user's tool, so each number is checked completely (no trailing text, no
// overflow) and a refusal names what was wrong.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kalvo::sim::units {

// A whole integer in decimal or with a 0x prefix, optionally negative, within
// [min, max]. Returns false (and the reason in *error) otherwise.
bool parseInteger(std::string_view word, int64_t min, int64_t max, int64_t* value,
                  std::string* error, std::string_view what);

// "on"/"off" (also "1"/"0", "true"/"false").
bool parseOnOff(std::string_view word, bool* value, std::string* error);

// Checks the number of words of a command: words[0] is the command name.
bool expectWords(const std::vector<std::string>& words, size_t count, std::string* error,
                 std::string_view usage);

// A 16-bit word as "0x%04x".
std::string hexWord(uint32_t value);

}  // namespace kalvo::sim::units
