// The boards a simulated machine holds, as a small description that tests,
// the device host and its command-line tool share.
//
// Text form: boards separated by ',', each "kind" followed by options
// separated by ':' —
//   id=N         board ID word (decimal or 0x hex, 0..0xFFFF)
//   count=N      N boards alike (1..64)
//   fault=NAME   one-memory-range | extra-resources | fail-control-map |
//                fail-memory-map (repeatable)
// e.g. "tolva:id=0,tolva:id=1,kvmdrv:id=0x00FF" or "tolva:count=2:fault=extra-resources".
// Blanks around names and values are ignored. Without id, the n-th board
// of a kind carries number n when n is 0 to 3, and is unnumbered beyond.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalvo::sim {

// Board kinds by the driver that serves them.
inline constexpr std::string_view kKindTolva = "tolva";            // PCI board
inline constexpr std::string_view kKindDual = "kvmdrv";            // dual-network PCI board
inline constexpr std::string_view kKindCardmaster = "cardmaster";  // PC-card board

inline constexpr size_t kMaxBoards = 64;

struct BoardFaults {
    bool oneMemoryRange = false;  // only the control-register window is reported
    bool extraResources = false;  // a port range before and an interrupt between the windows
    bool failControlMap = false;  // mapping the control-register window fails
    bool failMemoryMap = false;   // mapping the memory window fails
    bool operator==(const BoardFaults&) const = default;
};

struct BoardSpec {
    std::string kind;
    uint16_t idWord = 0;
    BoardFaults faults;
    bool operator==(const BoardSpec&) const = default;
};

bool isKnownKind(std::string_view kind);

// The boards the text describes, in order; nothing, with the reason in
// *error, when the text is not a valid description. Empty text: no boards.
std::optional<std::vector<BoardSpec>> parseBoardSet(std::string_view text, std::string* error);

// The text form of a board set (one entry per board, every id spelled out);
// parseBoardSet reads it back to the same set.
std::string formatBoardSet(const std::vector<BoardSpec>& boards);

// One board of each kind, each numbered 0.
std::vector<BoardSpec> defaultBoardSet();

}  // namespace kalvo::sim
