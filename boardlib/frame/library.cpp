#include "boardlib/frame/library.h"

#include "boardlib/frame/board_open.h"
#include "boardlib/line/line_control.h"
#include "platform/profile.h"

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
    if (gState == nullptr) gState = new LibraryState;
    return *gState;
}

}  // namespace

diaglog::LogFacility& libraryLog() {
    return state().log;
}

const std::string& libraryIniPath() {
    return state().iniPath;
}

BoardContext* boardEntry(int32_t board) noexcept {
    if (board < 0 || board >= kMaxBoards) return nullptr;
    return state().boards[board].get();
}

void setBoardEntry(int32_t board, std::unique_ptr<BoardContext> context) noexcept {
    state().boards[board] = std::move(context);
}

std::unique_ptr<BoardContext> takeBoardEntry(int32_t board) noexcept {
    return std::move(state().boards[board]);
}

int32_t checkLine(int32_t board, int32_t line, BoardContext** context) noexcept {
    *context = nullptr;
    if (line < 0 || line >= kMaxLine) return 3;
    if (board < 0 || board >= kBuild.boardCount) return 3;
    BoardContext* entry = boardEntry(board);
    if (entry == nullptr) return 2;
    *context = entry;
    return 0;
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
        delete gState;
        gState = nullptr;
        return false;
    }
    s.log.write(kLogCall, kBuild.startBanner);
    for (auto& entry : s.boards) entry.reset();
    return true;
}

void libraryDetach() {
    if (gState == nullptr) return;
    LibraryState& s = *gState;
    for (int32_t board = 0; board < kMaxBoards; ++board) {
        if (!s.boards[board]) continue;
        finishLine(*s.boards[board]);
        closeBoard(*s.boards[board], false);
        s.boards[board].reset();
    }
    s.log.write(kLogCall, kBuild.stopBanner);
    s.log.close();
    delete gState;
    gState = nullptr;
}

}  // namespace kalvo::boardlib
