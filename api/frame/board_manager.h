// The board table: up to four boards of Kalvo.ini, each bound to its board
// library by name, opened, and its lines started by the first process.
//
// Board numbers are 1-based towards the application and in Kalvo.ini; the
// forwarding operations take 0-based board and line indexes. Each board
// talks to its library under its library instance number: 0 for the first
// board that names a library, one more for every later board naming the same
// one (those share the first board's module).
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "api/frame/board_calls.h"
#include "kalvo/kalvo.h"
#include "platform/module.h"

namespace kalvo::api {

inline constexpr int32_t kMaxBoards = 4;
inline constexpr int32_t kMaxLines = 4;

// Return codes of the frame: the public header's, under the frame's short
// names (the unit families use the public names).
inline constexpr int32_t kRetOk = KALVO_OK;
inline constexpr int32_t kRetAlreadyOpen = KALVO_ERR_ALREADY_OPEN;
inline constexpr int32_t kRetNotOpen = KALVO_ERR_NOT_OPEN;
inline constexpr int32_t kRetArgument = KALVO_ERR_ARGUMENT;
inline constexpr int32_t kRetStartup = KALVO_ERR_STARTUP;
inline constexpr int32_t kRetUnit = KALVO_ERR_UNIT;
inline constexpr int32_t kRetNotLoaded = KALVO_ERR_NOT_LOADED;
inline constexpr int32_t kRetNoLibrary = KALVO_ERR_NO_LIBRARY;
// The board library's code for a board that is not usable (KV_ERR_REQUEST),
// passed on as it is: the board's device host is gone (it died, was stopped
// or restarted). Every unit call on the board gives it from then on.
inline constexpr int32_t kRetBoardLost = -1;

struct BoardRecord {
    std::string libraryName;  // "Kind"; up to 259 characters
    std::array<int32_t, kMaxLines> stationAddr{-1, -1, -1, -1};
    std::array<int32_t, kMaxLines> stationSize{-1, -1, -1, -1};
    std::array<int32_t, kMaxLines> busSize{2, 2, 2, 2};
    std::array<int32_t, kMaxLines> timeOutTimes{1, 1, 1, 1};
    platform::ModuleHandle module = nullptr;  // null when sharing an earlier board's module
    bool loaded = false;
    bool opened = false;
    std::array<bool, kMaxLines> started{};
    int32_t instance = 0;  // library instance number
    int32_t lineCount = 0;
    BoardCalls calls;
};

class BoardManager {
  public:
    // Start-up: reads the board count and the board sections of iniFile,
    // binds and opens every board and, when firstUser, starts the lines.
    // False when the count is above 4, a board did not open, or a started
    // line failed.
    bool startUp(const std::string& iniFile, bool firstUser);
    // Frees the board libraries (their own unload closes and stops boards).
    void unload();

    int32_t boardCount() const noexcept { return boardCount_; }
    // Null for an index outside the table or above the board count.
    const BoardRecord* board(int32_t index) const noexcept {
        // The count may say more boards than the table holds (a start-up
        // that failed on "Board" above 4); only the table's records exist.
        if (index < 0 || index >= std::min(boardCount_, kMaxBoards)) return nullptr;
        return &boards_[index];
    }
    // The line's timeout multiplier; the board and line must be valid.
    int32_t timeOutTimes(int32_t boardIndex, int32_t lineIndex) const noexcept;
    // True when board and line indexes name a line of a configured board.
    bool validLine(int32_t boardIndex, int32_t lineIndex) const noexcept {
        const BoardRecord* b = board(boardIndex);
        return b && lineIndex >= 0 && lineIndex < std::min(b->lineCount, kMaxLines);
    }

    // Forwarding to the bound board library: 3 for a board or line out of
    // range, 10 when its library is not loaded, 2 when the board did not
    // open; else the board library's own code.
    int32_t attach(int32_t board, int32_t line, void** address) const;
    int32_t getReg64(int32_t board, int32_t line, int32_t offset, uint64_t* value) const;
    // (The one-word calls of the unit families are inline: they are every
    // DIO call's path.)
    int32_t getMemShort(int32_t board, int32_t line, uint16_t* data, int32_t station,
                        int32_t offset, int32_t count) const {
        const BoardRecord* b = nullptr;
        if (int32_t ret = forwardCheck(board, line, &b)) [[unlikely]]
            return ret;
        return noteLoss(board,
                        b->calls.getMemShort(b->instance, line, data, station, offset, count));
    }
    int32_t getMemDLong(int32_t board, int32_t line, uint64_t* data, int32_t station,
                        int32_t offset, int32_t count) const;
    int32_t setMemShort(int32_t board, int32_t line, const uint16_t* data, int32_t station,
                        int32_t offset, int32_t count) const {
        const BoardRecord* b = nullptr;
        if (int32_t ret = forwardCheck(board, line, &b)) [[unlikely]]
            return ret;
        return noteLoss(board,
                        b->calls.setMemShort(b->instance, line, data, station, offset, count));
    }
    int32_t setMemDLong(int32_t board, int32_t line, const uint64_t* data, int32_t station,
                        int32_t offset, int32_t count) const;

    // The board-level calls, 1-based (codes as in the public header).
    int32_t checkBoard(int32_t board) const;
    int32_t attachMemory(int32_t board, int32_t line, void** address) const;

  private:
    // A board library's answer passed on; the first -1 of a board (its
    // device host went away) is said once in the log, with the reason.
    int32_t noteLoss(int32_t board, int32_t ret) const noexcept {
        if (ret == kRetBoardLost) [[unlikely]]
            reportLoss(board);
        return ret;
    }
    void reportLoss(int32_t board) const noexcept;
    void bindLibrary(int32_t index);
    void openBoard(int32_t index);
    int32_t startLine(int32_t index, int32_t line);
    // The forwarding checks; on 0 *record is the board.
    // The board library checks its own board and line again against its own
    // table; these are this library's: its board and line, bound, opened.
    int32_t forwardCheck(int32_t board, int32_t line, const BoardRecord** record) const noexcept {
        if (!validLine(board, line)) [[unlikely]]
            return kRetArgument;
        const BoardRecord& b = boards_[board];
        if (!b.loaded) [[unlikely]]
            return kRetNotLoaded;
        if (!b.opened) [[unlikely]]
            return kRetNotOpen;
        *record = &b;
        return kRetOk;
    }

    int32_t boardCount_ = 0;
    std::array<BoardRecord, kMaxBoards> boards_;
    mutable std::array<std::atomic<bool>, kMaxBoards> lossReported_{};
};

}  // namespace kalvo::api
