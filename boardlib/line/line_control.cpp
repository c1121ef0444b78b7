#include "boardlib/line/line_control.h"

#include <cstring>

#include "boardlib/frame/library.h"
#include "boardlib/window/gm_access.h"
#include "boardlib/window/window_users.h"
#include "kalvo/board_library.h"
#include "platform/clock.h"
#include "platform/win_error.h"

namespace kalvo::boardlib {

using requests::ConnectRequestBlock;

namespace {

// Fixed waits the chip needs: after a start, around a disconnect, and
// between the GMM request and the baud-rate change.
constexpr uint32_t kStartSettleMs = 100;
constexpr uint32_t kStopSettleMs = 100;
constexpr uint32_t kBaudSettleMs = 200;
constexpr uint32_t kFinishPauseMs = 10;

void setBaudBits(BoardContext& board, int32_t line) {
    if (board.window == nullptr) return;
    WindowUse use;
    if (boardLost(board)) return;
    uint16_t value = bus::load<uint16_t>(board.window, kStationRegister);
    value = static_cast<uint16_t>((value & ~0xC0u) | baudBits(board.baud[line]));
    bus::store<uint16_t>(board.window, kStationRegister, value);
}

// The start request sequence of a mode (normal or long frame) under the
// line's comm-start semaphore; with a baud code the chip is first put into
// GMM set-up and given its baud bits. 0 or -1; no request follows a failed
// one.
int32_t startSequence(BoardContext& board, int32_t line, ConnectMode mode,
                      const ConnectRequestBlock& block) {
    platform::Semaphore& semaphore = board.startSemaphore[line];
    semaphore.wait();
    int32_t result;
    if (board.baud[line] == -1) {
        result = device::connect(board.device, mode, &block);
    } else {
        result = device::connect(board.device, ConnectMode::Gmm, &block);
        if (result == 0) {
            platform::sleepMs(kBaudSettleMs);
            setBaudBits(board, line);
            result = device::connect(board.device, mode, &block);
        }
    }
    semaphore.release();
    return result;
}

int32_t gmmSequence(BoardContext& board, int32_t line) {
    const ConnectRequestBlock block = requests::makeConnectBlock(0, 0);
    platform::Semaphore& semaphore = board.startSemaphore[line];
    semaphore.wait();
    int32_t result = device::connect(board.device, ConnectMode::Gmm, &block);
    if (result == 0 && board.baud[line] != -1) {
        platform::sleepMs(kBaudSettleMs);
        setBaudBits(board, line);
    }
    semaphore.release();
    return result;
}

int32_t startLine(BoardContext& board, int32_t line, ConnectMode mode, int32_t address,
                  int32_t count) {
    const char* request = mode == ConnectMode::Normal ? "KalvoConnect" : "KalvoConnectLF";
    board.busWidth[line] = kBuild.busWidth;
    const StationRange range = clampStations(address, count);
    const ConnectRequestBlock block = requests::makeConnectBlock(range.address, range.count);
    if (startSequence(board, line, mode, block) != 0) {
        libraryLog().writef(kLogDetail, "%s %s: Adr(%d)-Size(%d): NG: <CE=%u>", board.prefix,
                            request, range.address, range.count, platform::lastError());
        return KV_ERR_START;
    }
    libraryLog().writef(kLogDetail, "%s %s: Adr(%d)-Size(%d): OK: ", board.prefix, request,
                        range.address, range.count);
    board.connectedAddress = range.address;
    board.connectedSize = range.count;
    platform::sleepMs(kStartSettleMs);
    return KV_OK;
}

}  // namespace

StationRange clampStations(int32_t address, int32_t count) noexcept {
    const int32_t a = address >= 0 && address <= 63 ? address : 63;
    int32_t n;
    if (count <= 0)
        n = 1;
    else if (int64_t{a} + count <= 64)
        n = count;
    else
        n = 64 - a;
    return {a, n};
}

bool resetLine(BoardContext& board, int32_t line, int32_t data) {
    if (board.window == nullptr || board.connectedSize <= 0) return !boardLost(board);
    uint16_t words[64 * 4];
    const uint32_t count = static_cast<uint32_t>(board.connectedSize) * 4;
    for (uint32_t i = 0; i < count; ++i) words[i] = static_cast<uint16_t>(data);
    return gmWrite<uint16_t>(board.window, board.writeSemaphore[line], board.lost,
                             board.busWidth[line],
                             static_cast<uint32_t>(board.connectedAddress) * 4, count, words);
}

void stopLine(BoardContext& board, int32_t line) {
    board.busWidth[line] = kBuild.busWidth;
    platform::sleepMs(kStopSettleMs);
    board.connectedAddress = 0;
    board.connectedSize = 0;
    if (device::disconnect(board.device) == 0)
        libraryLog().writef(kLogDetail, "%s KalvoDisConnect: OK: ", board.prefix);
    else
        libraryLog().writef(kLogDetail, "%s KalvoDisConnect: NG: <CE=%u>", board.prefix,
                            platform::lastError());
    platform::sleepMs(kStopSettleMs);
}

void finishLine(BoardContext& board) {
    if (boardLost(board) || libraryLog().processCount() > 1) return;
    resetLine(board, 0, 0);
    platform::sleepMs(kFinishPauseMs);
    stopLine(board, 0);
    libraryLog().writef(kLogDetail, "%s Finish: OK: ", board.prefix);
}

}  // namespace kalvo::boardlib

using namespace kalvo::boardlib;
using kalvo::platform::lastError;

extern "C" {

int32_t KV_start(int32_t board, int32_t line, int32_t station, int32_t count, int32_t) {
    BoardContext* b;
    int32_t code = checkRequestLine(board, line, &b);
    if (code == KV_OK) code = startLine(*b, line, ConnectMode::Normal, station, count);
    return logLineResult("KV_start", board, line, code);
}

int32_t KV_start_lf(int32_t board, int32_t line, int32_t station, int32_t count, int32_t) {
    BoardContext* b;
    int32_t code = checkRequestLine(board, line, &b);
    if (code == KV_OK) code = startLine(*b, line, ConnectMode::LongFrame, station, count);
    return logLineResult("KV_start_lf", board, line, code);
}

int32_t KV_start_gmm(int32_t board, int32_t line, int32_t) {
    BoardContext* b;
    int32_t code = checkRequestLine(board, line, &b);
    if (code == KV_OK) {
        b->busWidth[line] = kBuild.busWidth;
        if (gmmSequence(*b, line) == 0) {
            libraryLog().writef(kLogDetail, "%s KalvoConnectGMM: OK: ", b->prefix);
        } else {
            libraryLog().writef(kLogDetail, "%s KalvoConnectGMM: NG: <CE=%u>", b->prefix,
                                lastError());
            code = KV_ERR_START;
        }
    }
    return logLineResult("KV_start_gmm", board, line, code);
}

int32_t KV_stop(int32_t board, int32_t line) {
    BoardContext* b;
    const int32_t code = checkRequestLine(board, line, &b);
    if (code == KV_OK) stopLine(*b, line);
    return logLineResult("KV_stop", board, line, code);
}

int32_t KV_reset(int32_t board, int32_t line, int32_t data) {
    BoardContext* b;
    int32_t code = checkLine(board, line, &b);
    if (code == KV_OK && !resetLine(*b, line, data)) code = KV_ERR_REQUEST;
    const int32_t shown = static_cast<uint16_t>(data);
    if (code == KV_OK)
        libraryLog().writef(kLogCall, "%s(%d) KV_reset: Line(%d) Data(%d): OK", kBuild.shortName,
                            board, line, shown);
    else
        libraryLog().writef(kLogNg, "%s(%d) KV_reset: Line(%d) Data(%d): NG: Ret(%xh)",
                            kBuild.shortName, board, line, shown, code);
    return code;
}

int32_t KV_GetCnectStat(int32_t board, int32_t line, int32_t* station, int32_t* count) {
    BoardContext* b;
    int32_t code = checkLine(board, line, &b);
    if (code == KV_OK && (station == nullptr || count == nullptr)) code = KV_ERR_ARGUMENT;
    if (code == KV_OK) {
        *station = b->connectedAddress;
        *count = b->connectedSize;
    }
    // The line shows what the caller's variables hold (0 for a missing one).
    libraryLog().writef(
        kLogCall, "%s(%d) KV_GetCnectStat: Line(%d): StationAdr(%d)-StationSize(%d): Ret(%xh)",
        kBuild.shortName, board, line, station ? *station : 0, count ? *count : 0, code);
    return code;
}

int32_t KV_config(int32_t board, int32_t line, int32_t baud) {
    BoardContext* b;
    const int32_t code = checkLine(board, line, &b);
    if (code == KV_OK) b->baud[line] = baud;
    libraryLog().writef(kLogCall, "%s(%d) KV_config: Line(%d): Baudrate(%d): Ret(%xh)",
                        kBuild.shortName, board, line, baud, code);
    return code;
}

int32_t KV_Status(int32_t board, int32_t line, KV_STATUS_RECORD* status) {
    BoardContext* b;
    int32_t code = checkRequestLine(board, line, &b);
    if (code == KV_OK && status == nullptr) code = KV_ERR_ARGUMENT;
    if (code == KV_OK) {
        kalvo::requests::StatusBlock block{};
        code = device::status(b->device, &block) == 0 ? KV_OK : KV_ERR_REQUEST;
        if (code == KV_OK) *status = {block.lineState, block.address, block.size};
    }
    return logLineResult("KV_Status", board, line, code);
}

int32_t KV_Name(int32_t board, int32_t line, KV_NAME_RECORD* name) {
    BoardContext* b;
    int32_t code = checkRequestLine(board, line, &b);
    if (code == KV_OK && name == nullptr) code = KV_ERR_ARGUMENT;
    if (code == KV_OK) {
        static_assert(sizeof(KV_NAME_RECORD) == sizeof(kalvo::requests::NameRequestBlock));
        kalvo::requests::NameRequestBlock block;
        std::memcpy(&block, name, sizeof block);
        code = device::name(b->device, &block) == 0 ? KV_OK : KV_ERR_REQUEST;
        std::memcpy(name, &block, sizeof block);
    }
    return logLineResult("KV_Name", board, line, code);
}

static int32_t connectCall(const char* call, ConnectMode mode, int32_t board, int32_t line,
                           const KV_CONNECT_RECORD* record) {
    BoardContext* b;
    int32_t code = checkRequestLine(board, line, &b);
    if (code == KV_OK && record == nullptr) code = KV_ERR_ARGUMENT;
    if (code == KV_OK) {
        static_assert(sizeof(KV_CONNECT_RECORD) == sizeof(kalvo::requests::ConnectRequestBlock));
        kalvo::requests::ConnectRequestBlock block;
        std::memcpy(&block, record, sizeof block);
        code = startSequence(*b, line, mode, block) == 0 ? KV_OK : KV_ERR_REQUEST;
    }
    return logLineResult(call, board, line, code);
}

int32_t KV_Connect(int32_t board, int32_t line, const KV_CONNECT_RECORD* record) {
    return connectCall("KV_Connect", ConnectMode::Normal, board, line, record);
}

int32_t KV_ConnectLF(int32_t board, int32_t line, const KV_CONNECT_RECORD* record) {
    return connectCall("KV_ConnectLF", ConnectMode::LongFrame, board, line, record);
}

int32_t KV_ConnectGMM(int32_t board, int32_t line) {
    BoardContext* b;
    int32_t code = checkRequestLine(board, line, &b);
    if (code == KV_OK) code = gmmSequence(*b, line) == 0 ? KV_OK : KV_ERR_REQUEST;
    return logLineResult("KV_ConnectGMM", board, line, code);
}

int32_t KV_DisConnect(int32_t board, int32_t line) {
    BoardContext* b;
    int32_t code = checkRequestLine(board, line, &b);
    if (code == KV_OK) code = device::disconnect(b->device) == 0 ? KV_OK : KV_ERR_REQUEST;
    return logLineResult("KV_DisConnect", board, line, code);
}

}  // extern "C"
