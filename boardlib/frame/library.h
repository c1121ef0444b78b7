// The library as a whole in this process: its diagnostic log, the full path
// of its ini file, the board table, and what happens at load and unload.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "boardlib/frame/board_context.h"
#include "boardlib/frame/board_loss.h"
#include "diaglog/log_facility.h"

namespace kalvo::boardlib {

// Log types of the library's lines: category 0x10000 with a level.
inline constexpr diaglog::LogType kLogNg = 0x10001;      // failure lines
inline constexpr diaglog::LogType kLogCall = 0x10002;    // call lines, banners
inline constexpr diaglog::LogType kLogDetail = 0x10004;  // internal steps

namespace detail {
// Read on every call, so kept where an inline check reaches them; owned by
// the library's state (library.cpp).
inline diaglog::LogFacility* gLog = nullptr;
// Atomic so that a thread blocked in a call of a board (a mail wait) and
// the thread that closes the board see each other's entry cleanly.
inline std::atomic<BoardContext*> gBoards[kMaxBoards] = {};
diaglog::LogFacility& makeLibraryState();
// Calls inside a board's entry (BoardCall below), per board number.
inline std::atomic<int32_t> gBoardCalls[kMaxBoards] = {};
// Calls that may still write a log line after the unload closed their board
// (LogUse below).
inline std::atomic<int32_t> gLogUsers{0};
}  // namespace detail

// Held by a call that may still be running when the library unloads (a mail
// wait ends when the unload closes its board, then writes its result line):
// the unload waits for it after closing the boards and before it frees the
// log.
class LogUse {
  public:
    LogUse() noexcept { detail::gLogUsers.fetch_add(1, std::memory_order_seq_cst); }
    ~LogUse() { detail::gLogUsers.fetch_sub(1, std::memory_order_release); }
    LogUse(const LogUse&) = delete;
    LogUse& operator=(const LogUse&) = delete;
};

inline diaglog::LogFacility& libraryLog() {
    return detail::gLog != nullptr ? *detail::gLog : detail::makeLibraryState();
}
const std::string& libraryIniPath();

// The board table: one entry per board number, no lock (callers must not
// open or close a board while other threads use it).
inline BoardContext* boardEntry(int32_t board) noexcept {
    return board >= 0 && board < kMaxBoards ? detail::gBoards[board].load(std::memory_order_acquire)
                                            : nullptr;
}
void setBoardEntry(int32_t board, std::unique_ptr<BoardContext> context) noexcept;
std::unique_ptr<BoardContext> takeBoardEntry(int32_t board) noexcept;

// The argument check of every per-line call: 3 for a line or board out of
// range, 2 for a board not open here, else 0 with *context set.
inline int32_t checkLine(int32_t board, int32_t line, BoardContext** context) noexcept {
    *context = nullptr;
    if (line < 0 || line >= kMaxLine) return 3;
    if (board < 0 || board >= kBuild.boardCount) return 3;
    BoardContext* entry = detail::gBoards[board].load(std::memory_order_acquire);
    if (entry == nullptr) return 2;
    *context = entry;
    return 0;
}

// The check of a call that sends a device request (line control): as
// checkLine, and -1 for a board whose device host is gone, so that nothing
// is asked of a host that is not there and no fixed wait is spent on it.
inline int32_t checkRequestLine(int32_t board, int32_t line, BoardContext** context) noexcept {
    int32_t code = checkLine(board, line, context);
    if (code == 0 && boardLost(**context)) code = -1;
    return code;
}

// A call that uses a board's objects while another thread may close the
// board (the mail calls): counted in before it reads the board's entry, so
// that takeBoardEntry, which clears the entry first, waits until the call is
// out (or, for a mail wait, holds its own references) before the board is
// freed. Not for the I/O calls, which must not be used across KV_close.
class BoardCall {
  public:
    explicit BoardCall(int32_t board) noexcept
        : board_(board >= 0 && board < kMaxBoards ? board : -1) {
        if (board_ >= 0) detail::gBoardCalls[board_].fetch_add(1, std::memory_order_seq_cst);
    }
    ~BoardCall() { leave(); }
    BoardCall(const BoardCall&) = delete;
    BoardCall& operator=(const BoardCall&) = delete;
    // The board's entry, or null (and 2) when it is not open; 3 for a line
    // or board out of range.
    int32_t check(int32_t line, BoardContext** context) const noexcept {
        *context = nullptr;
        int32_t code = checkLine(board_ < 0 ? kMaxBoards : board_, line, context);
        if (code != 0) return code;
        *context = detail::gBoards[board_].load(std::memory_order_seq_cst);
        return *context != nullptr ? 0 : 2;
    }
    void leave() noexcept {
        if (board_ >= 0) detail::gBoardCalls[board_].fetch_sub(1, std::memory_order_release);
        board_ = -1;
    }

  private:
    int32_t board_;
};

// Writes the common result line of a per-line call, "<short>(<board>)
// <call>: Line(<line>): OK" or "...: NG: Ret(<code>h)", and returns code.
int32_t logLineResult(const char* call, int32_t board, int32_t line, int32_t code);

// Process attach: ini path, log, start banner, empty table. False refuses
// the load.
bool libraryAttach();
// Process detach: finish and close every open board, stop banner, log closed.
void libraryDetach();

}  // namespace kalvo::boardlib
