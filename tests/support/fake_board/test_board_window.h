// The stand-in board library's window, as tests look into it.
#pragma once

#include <cstdint>
#include <string>

namespace kalvo::testboard {

inline constexpr int kWindowSize = 4096;
inline constexpr int kGmOffset = 0x200;
inline constexpr int kGmSize = 512;
inline constexpr int kConditionOffset = 0x428;

inline std::string windowName(int board) {
    return "TestBoardWindow" + std::to_string(board);
}

}  // namespace kalvo::testboard
