#include "sim/board_set.h"

#include "sim/board_layout.h"

#include <charconv>
#include <map>

namespace kalvo::sim {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> split(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t end = s.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(s.substr(start));
            return parts;
        }
        parts.push_back(s.substr(start, end - start));
        start = end + 1;
    }
}

// Decimal or 0x-prefixed hexadecimal, the whole text, within max.
std::optional<uint32_t> parseNumber(std::string_view text, uint32_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
    return value;
}

bool applyFault(std::string_view name, BoardFaults& faults) {
    if (name == "one-memory-range") {
        faults.oneMemoryRange = true;
    } else if (name == "extra-resources") {
        faults.extraResources = true;
    } else if (name == "fail-control-map") {
        faults.failControlMap = true;
    } else if (name == "fail-memory-map") {
        faults.failMemoryMap = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool isKnownKind(std::string_view kind) {
    return kind == kKindTolva || kind == kKindDual || kind == kKindCardmaster;
}

std::optional<std::vector<BoardSpec>> parseBoardSet(std::string_view text, std::string* error) {
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    std::vector<BoardSpec> boards;
    if (trim(text).empty()) return boards;

    std::map<std::string, size_t, std::less<>> perKind;  // boards of each kind so far
    size_t entryNumber = 0;
    for (std::string_view entry : split(text, ',')) {
        ++entryNumber;
        const std::string where = "board entry " + std::to_string(entryNumber);
        std::vector<std::string_view> fields = split(entry, ':');
        std::string_view kind = trim(fields[0]);
        if (kind.empty()) {
            why = where + ": no board kind";
            return std::nullopt;
        }
        if (!isKnownKind(kind)) {
            why = where + ": unknown board kind '" + std::string(kind) +
                  "' (tolva, kvmdrv or cardmaster)";
            return std::nullopt;
        }
        std::optional<uint16_t> id;
        uint32_t count = 1;
        bool countGiven = false;
        BoardFaults faults;
        for (size_t i = 1; i < fields.size(); ++i) {
            std::string_view option = trim(fields[i]);
            size_t eq = option.find('=');
            std::string_view key = trim(option.substr(0, eq));
            std::string_view value =
                eq == std::string_view::npos ? std::string_view() : trim(option.substr(eq + 1));
            if (eq == std::string_view::npos || value.empty()) {
                why = where + ": option '" + std::string(option) + "' needs a value";
                return std::nullopt;
            }
            if (key == "id") {
                auto number = parseNumber(value, 0xFFFF);
                if (!number || id) {
                    why = where + ": bad or repeated id '" + std::string(value) + "'";
                    return std::nullopt;
                }
                id = static_cast<uint16_t>(*number);
            } else if (key == "count") {
                auto number = parseNumber(value, kMaxBoards);
                if (!number || *number == 0 || countGiven) {
                    why = where + ": bad or repeated count '" + std::string(value) + "' (1 to " +
                          std::to_string(kMaxBoards) + ")";
                    return std::nullopt;
                }
                count = *number;
                countGiven = true;
            } else if (key == "fault") {
                if (!applyFault(value, faults)) {
                    why = where + ": unknown fault '" + std::string(value) + "'";
                    return std::nullopt;
                }
            } else {
                why = where + ": unknown option '" + std::string(key) + "'";
                return std::nullopt;
            }
        }
        if (boards.size() + count > kMaxBoards) {
            why = where + ": more than " + std::to_string(kMaxBoards) + " boards";
            return std::nullopt;
        }
        size_t& ordinal = perKind[std::string(kind)];
        for (uint32_t n = 0; n < count; ++n, ++ordinal) {
            uint16_t word = id            ? *id
                            : ordinal < 4 ? static_cast<uint16_t>(ordinal)
                                          : kUnnumberedBoardId;
            boards.push_back(BoardSpec{std::string(kind), word, faults});
        }
    }
    return boards;
}

std::string formatBoardSet(const std::vector<BoardSpec>& boards) {
    std::string text;
    for (const BoardSpec& board : boards) {
        if (!text.empty()) text += ',';
        char id[8];
        auto end = std::to_chars(id, id + sizeof id, board.idWord, 16).ptr;
        text += board.kind + ":id=0x" + std::string(id, end);
        if (board.faults.oneMemoryRange) text += ":fault=one-memory-range";
        if (board.faults.extraResources) text += ":fault=extra-resources";
        if (board.faults.failControlMap) text += ":fault=fail-control-map";
        if (board.faults.failMemoryMap) text += ":fault=fail-memory-map";
    }
    return text;
}

std::vector<BoardSpec> defaultBoardSet() {
    return {BoardSpec{std::string(kKindTolva), 0, {}}, BoardSpec{std::string(kKindDual), 0, {}},
            BoardSpec{std::string(kKindCardmaster), 0, {}}};
}

}  // namespace kalvo::sim
