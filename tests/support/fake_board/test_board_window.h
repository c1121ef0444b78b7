// The stand-in board library's window, as tests look into it.
#pragma once

#include <cstdint>
#include <string>

namespace kalvo::testboard {

inline constexpr int kWindowSize = 4096;
inline constexpr int kGmOffset = 0x200;
inline constexpr int kGmSize = 512;
inline constexpr int kConditionOffset = 0x428;
// Faults a test puts in: while the 32-bit word at kReadFailOffset (or
// kWriteFailOffset) is not 0, every GM read (or write) returns it as the
// board library's code and leaves the data alone.
inline constexpr int kReadFailOffset = 0xF00;
inline constexpr int kWriteFailOffset = 0xF04;

inline std::string windowName(int board) {
    return "TestBoardWindow" + std::to_string(board);
}

}  // namespace kalvo::testboard
