#include "api/frame/board_manager.h"

#include <strings.h>

#include <algorithm>

#include "api/configfiles/kalvo_ini_reader.h"
#include "api/frame/api_log.h"
#include "api/frame/unit_wait.h"
#include "platform/clock.h"
#include "platform/device_loss.h"

namespace kalvo::api {
namespace {

constexpr LogType kFrameEnd = kLogFrame | kLevelEnd;
constexpr LogType kFrameFailure = kLogFrame | kLevelFailure;

// Settling time after a line start, per unit of the line's timeout
// multiplier: the driver connects the line in its 10 ms timer steps.
constexpr uint32_t kStartSettleMs = 20;

bool sameLibrary(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

bool BoardManager::startUp(const std::string& iniFile, bool firstUser) {
    boardCount_ = configfiles::readBoardCount(iniFile);
    if (boardCount_ > kMaxBoards) return false;

    bool allOpened = true;
    for (int32_t b = 0; b < boardCount_; ++b) {
        const auto section = configfiles::readBoardSection(iniFile, b + 1);
        BoardRecord& board = boards_[b];
        board.libraryName = section.kind;
        board.stationAddr = section.stationAddr;
        board.stationSize = section.stationSize;
        board.busSize = section.byteBusSize;
        board.timeOutTimes = section.timeOutTimes;
        bindLibrary(b);
        openBoard(b);
        if (!board.opened) allOpened = false;
    }
    if (!allOpened) return false;

    // The lines are started once per machine, by the first process that
    // loads the library; later processes find them running.
    if (!firstUser) return true;
    bool startsOk = true;
    for (int32_t b = 0; b < boardCount_; ++b) {
        const BoardRecord& board = boards_[b];
        for (int32_t l = 0; l < std::min(board.lineCount, kMaxLines); ++l) {
            if (!board.loaded || !board.opened) continue;
            if (board.stationAddr[l] < 0 || board.stationSize[l] <= 0) continue;
            if (startLine(b, l) != 0) startsOk = false;
        }
    }
    return startsOk;
}

void BoardManager::reportLoss(int32_t board) const noexcept {
    if (board < 0 || board >= kMaxBoards || lossReported_[board].exchange(true)) return;
    const std::string why = platform::lastDeviceLoss();
    apiLog().writef(kFrameFailure,
                    "Board(%d) lost: %s; every call on its units gives Ret(%xh) until the "
                    "library is loaded again",
                    board + 1, why.empty() ? "its device host went away" : why.c_str(),
                    static_cast<uint32_t>(kRetBoardLost));
}

void BoardManager::bindLibrary(int32_t index) {
    BoardRecord& board = boards_[index];
    for (int32_t earlier = index - 1; earlier >= 0; --earlier) {
        const BoardRecord& source = boards_[earlier];
        if (source.libraryName.empty() || !sameLibrary(source.libraryName, board.libraryName))
            continue;
        if (source.loaded && source.calls.complete()) {
            board.calls = source.calls;
            board.lineCount = source.lineCount;
            board.instance = source.instance + 1;
            board.loaded = true;
            apiLog().writef(kFrameEnd, "Board(%d)-%s(%d) DLL Func: Copy form Board(%d):OK",
                            index + 1, board.libraryName.c_str(), board.instance + 1, earlier + 1);
        } else {
            apiLog().writef(kFrameFailure, "Board(%d) DLL Func: Copy form Board(%d): NG", index + 1,
                            earlier + 1);
        }
        return;
    }

    // An empty name would make the loader look for ".so"; it names nothing.
    platform::ModuleHandle module =
        board.libraryName.empty() ? nullptr : platform::loadLibrary(board.libraryName.c_str());
    BoardCalls calls;
    if (module) {
        calls.bindAll(
            [module](const char* name) { return platform::getProcAddress(module, name); });
    }
    if (!module || !calls.complete()) {
        // A module that loaded stays loaded until the process ends: its
        // attach ran, and nothing here may call into it.
        apiLog().writef(kFrameFailure, "Board(%d) DLL Func: Load: NG", index + 1);
        return;
    }
    board.module = module;
    board.calls = calls;
    board.instance = 0;
    board.lineCount = calls.maxline();
    board.loaded = true;
    apiLog().writef(kFrameEnd, "Board(%d)-%s(%d) DLL Func: Load: OK", index + 1,
                    board.libraryName.c_str(), board.instance + 1);
}

void BoardManager::openBoard(int32_t index) {
    BoardRecord& board = boards_[index];
    int32_t ret = kRetNotLoaded;
    if (board.loaded) {
        ret = board.calls.open(board.instance);
        if (ret == 0) board.opened = true;
    }
    apiLog().writef(kFrameEnd, "Board(%d) Open: Ret(%xh)", index + 1, ret);
}

int32_t BoardManager::startLine(int32_t index, int32_t line) {
    const BoardRecord* checked = nullptr;
    int32_t ret = forwardCheck(index, line, &checked);
    BoardRecord& board = boards_[index];
    if (ret == 0) {
        ret = board.calls.start(board.instance, line, board.stationAddr[line],
                                board.stationSize[line], board.busSize[line]);
        if (ret == 0) {
            // Clear the line's output blocks, then give the driver time to
            // connect the line. A multiplier of 0 or less waits nothing.
            board.calls.reset(board.instance, line, 0);
            const uint32_t waitMs = waitLimitMs(board.timeOutTimes[line], kStartSettleMs);
            if (waitMs > 0) platform::sleepMs(std::min(waitMs, UINT32_MAX - 1));
            board.started[line] = true;
        }
    }
    apiLog().writef(kFrameEnd,
                    "Board(%d) Start: Line(%d)-StationAddr(%d)-StationSize(%d)-ByteBusSize(%d): "
                    "Ret(%xh)",
                    index + 1, line + 1, board.stationAddr[line], board.stationSize[line],
                    board.busSize[line], ret);
    return ret;
}

void BoardManager::unload() {
    for (int32_t b = 0; b < std::min(boardCount_, kMaxBoards); ++b) {
        BoardRecord& board = boards_[b];
        if (!board.loaded) continue;
        if (board.module) platform::freeLibrary(board.module);
        board.module = nullptr;
        board.loaded = false;
        board.opened = false;
        board.calls = BoardCalls{};
        apiLog().writef(kFrameEnd, "Board(%d) DLL Func: UnLoad: OK", b + 1);
    }
}

int32_t BoardManager::timeOutTimes(int32_t boardIndex, int32_t lineIndex) const noexcept {
    return validLine(boardIndex, lineIndex) ? boards_[boardIndex].timeOutTimes[lineIndex] : 1;
}

int32_t BoardManager::attach(int32_t board, int32_t line, void** address) const {
    const BoardRecord* b = nullptr;
    if (int32_t ret = forwardCheck(board, line, &b)) return ret;
    return noteLoss(board, b->calls.attach(b->instance, line, address));
}

int32_t BoardManager::getReg64(int32_t board, int32_t line, int32_t offset, uint64_t* value) const {
    const BoardRecord* b = nullptr;
    if (int32_t ret = forwardCheck(board, line, &b)) return ret;
    return noteLoss(board, b->calls.getReg64(b->instance, line, offset, value));
}

int32_t BoardManager::getMemDLong(int32_t board, int32_t line, uint64_t* data, int32_t station,
                                  int32_t offset, int32_t count) const {
    const BoardRecord* b = nullptr;
    if (int32_t ret = forwardCheck(board, line, &b)) return ret;
    return noteLoss(board, b->calls.getMemDLong(b->instance, line, data, station, offset, count));
}

int32_t BoardManager::setMemDLong(int32_t board, int32_t line, const uint64_t* data,
                                  int32_t station, int32_t offset, int32_t count) const {
    const BoardRecord* b = nullptr;
    if (int32_t ret = forwardCheck(board, line, &b)) return ret;
    return noteLoss(board, b->calls.setMemDLong(b->instance, line, data, station, offset, count));
}

int32_t BoardManager::checkBoard(int32_t board) const {
    if (board < 1 || board > kMaxBoards || board > boardCount_) return kRetArgument;
    const BoardRecord& b = boards_[board - 1];
    if (!b.loaded) return kRetNoLibrary;
    return b.opened ? kRetOk : kRetStartup;
}

int32_t BoardManager::attachMemory(int32_t board, int32_t line, void** address) const {
    if (board < 1 || board > kMaxBoards || board > boardCount_) return kRetArgument;
    const BoardRecord& b = boards_[board - 1];
    if (!b.loaded) return kRetNoLibrary;
    if (!b.opened) return kRetStartup;
    if (line <= 0 || line > b.lineCount) return kRetArgument;
    if (!address) return kRetArgument;
    return attach(board - 1, line - 1, address);
}

}  // namespace kalvo::api
