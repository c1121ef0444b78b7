#include "boardlib/frame/library.h"

#include "boardlib/frame/board_open.h"
#include "boardlib/line/line_control.h"
#include "boardlib/window/window_users.h"
#include "platform/profile.h"

#include <thread>

namespace kalvo::boardlib {

namespace {

// Everything the library keeps per process. Made at load and freed at
// unload (not a static object, so that nothing of it outlives the detach
// step or runs in an order the loader chooses).
struct LibraryState {
    diaglog::LogFacility log;
    std::string iniPath;
    std::unique_ptr<BoardContext> boards[kMaxBoards];
};

LibraryState* gState = nullptr;

LibraryState& state() {
    if (gState == nullptr) {
        gState = new LibraryState;
        detail::gLog = &gState->log;
    }
    return *gState;
}

void dropState() {
    delete gState;
    gState = nullptr;
    detail::gLog = nullptr;
    for (auto& entry : detail::gBoards) entry.store(nullptr, std::memory_order_release);
}

}  // namespace

diaglog::LogFacility& detail::makeLibraryState() {
    return state().log;
}

const std::string& libraryIniPath() {
    return state().iniPath;
}

void setBoardEntry(int32_t board, std::unique_ptr<BoardContext> context) noexcept {
    detail::gBoards[board].store(context.get(), std::memory_order_release);
    state().boards[board] = std::move(context);
}

std::unique_ptr<BoardContext> takeBoardEntry(int32_t board) noexcept {
    detail::gBoards[board].store(nullptr, std::memory_order_seq_cst);
    // A call that read the entry before it was cleared finishes (a mail wait
    // takes its own references first) before the board can be freed.
    while (detail::gBoardCalls[board].load(std::memory_order_seq_cst) != 0)
        std::this_thread::yield();
    return std::move(state().boards[board]);
}

int32_t logLineResult(const char* call, int32_t board, int32_t line, int32_t code) {
    if (code == 0)
        libraryLog().writef(kLogCall, "%s(%d) %s: Line(%d): OK", kBuild.shortName, board, call,
                            line);
    else
        libraryLog().writef(kLogNg, "%s(%d) %s: Line(%d): NG: Ret(%xh)", kBuild.shortName, board,
                            call, line, code);
    return code;
}

bool libraryAttach() {
    LibraryState& s = state();
    // The ini is taken from the directory current at load; the bare name
    // when no full path can be made.
    s.iniPath = platform::fullPathName(kBuild.iniName);
    if (s.iniPath.empty()) s.iniPath = kBuild.iniName;
    if (!s.log.open(kBuild.logBase, kBuild.logIni, kBuild.logMap, kBuild.defaultLogLevel)) {
        dropState();
        return false;
    }
    s.log.write(kLogCall, kBuild.startBanner);
    for (int32_t board = 0; board < kMaxBoards; ++board) takeBoardEntry(board);
    startWindowUsers();
    return true;
}

void libraryDetach() {
    if (gState == nullptr) return;
    LibraryState& s = *gState;
    for (int32_t board = 0; board < kMaxBoards; ++board) {
        if (!s.boards[board]) continue;
        std::unique_ptr<BoardContext> context = takeBoardEntry(board);
        finishLine(*context);
        closeBoard(*context, false);
    }
    // The boards are closed, so a mail wait in another thread has been woken:
    // let it write its result line before the log goes.
    while (detail::gLogUsers.load(std::memory_order_acquire) != 0) std::this_thread::yield();
    s.log.write(kLogCall, kBuild.stopBanner);
    s.log.close();
    dropState();
    endWindowUsers();
}

}  // namespace kalvo::boardlib
