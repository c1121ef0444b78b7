#include "boardlib/frame/board_open.h"

#include <cstring>

#include "boardlib/frame/board_loss.h"
#include "boardlib/frame/library.h"
#include "boardlib/window/window_bus.h"
#include "kalvo/board_library.h"
#include "platform/format.h"
#include "platform/profile.h"
#include "platform/win_error.h"

namespace kalvo::boardlib {

using platform::HANDLE;
using platform::INVALID_HANDLE_VALUE;

namespace {

constexpr uint32_t kBoardIdWord = 0x808;

// The handle as the log prints it ("%u").
uint32_t handleValue(HANDLE handle) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}

// Asks the device for a view of the 4096-byte window; null on failure.
uint8_t* mapView(HANDLE device, MapBlock& block) {
    block.command = requests::MapCommand::Map;
    block.address = 0;
    block.length = kWindowSize;
    if (device::map(device, &block) != 0) return nullptr;
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(block.address));
}

// Gives a view back; the base is cleared only when the device agreed.
void unmapView(HANDLE device, MapBlock& block, uint8_t*& base) {
    if (base == nullptr) return;
    block.command = requests::MapCommand::Unmap;
    block.address = static_cast<decltype(block.address)>(reinterpret_cast<uintptr_t>(base));
    block.length = kWindowSize;
    if (device::map(device, &block) == 0) base = nullptr;
}

// The line's three semaphores, in the order they are made and destroyed.
struct SemaphoreKind {
    const char* format;
    const char* text;
};
constexpr SemaphoreKind kSemaphores[] = {
    {"%s%d_StaSem", "Comm Start Semaphore"},
    {"%s%d_GmSemR", "GM Read Semaphore"},
    {"%s%d_GmSemW", "GM Write Semaphore"},
};

platform::Semaphore& semaphoreOf(BoardContext& board, int kind, int32_t line) {
    switch (kind) {
        case 0:
            return board.startSemaphore[line];
        case 1:
            return board.readSemaphore[line];
        default:
            return board.writeSemaphore[line];
    }
}

// The steps of KV_open after the argument checks, on a record already in the
// table. 0 or the failure code.
int32_t openSteps(BoardContext& board) {
    diaglog::LogFacility& log = libraryLog();
    const int32_t line = 0;
    for (int kind = 0; kind < 3; ++kind) {
        char name[kNameRoom];
        platform::formatTo(name, kSemaphores[kind].format, board.prefix, line);
        platform::Semaphore& semaphore = semaphoreOf(board, kind, line);
        semaphore = platform::Semaphore::createOrOpen(name, 1, 1);
        const char* verdict = semaphore.valid() ? "OK" : "NG";
        log.writef(kLogDetail, "%s: CreateSemaphore: %s: Line(%d): %s: Name(%s)", board.prefix,
                   kSemaphores[kind].text, line, verdict, name);
        if (!semaphore.valid()) return KV_ERR_SEMAPHORE;
    }

    char section[32];
    char key[32];
    platform::formatTo(section, "BOARD_%d", board.board);
    platform::formatTo(key, "Baudrate_%d", line);
    board.baud[line] = platform::profileGetInt(libraryIniPath(), section, key, -1);

    if (kBuild.scanInstances) {
        board.instance = scanInstances(board.board);
        if (board.instance >= 0) {
            platform::formatTo(board.devicePath, "%s%d", kBuild.deviceBase, board.instance);
        }
    }
    if (board.devicePath[0] != '\0') board.device = device::open(board.devicePath);
    if (board.device == INVALID_HANDLE_VALUE) {
        log.writef(kLogDetail, "%s open: NG: <CE=%u>", board.prefix, platform::lastError());
        return KV_ERR_NO_DEVICE;
    }
    log.writef(kLogDetail, "%s open: OK: <Device=%s, Handle=%u>", board.prefix, board.devicePath,
               handleValue(board.device));

    board.mail[line] = std::make_unique<LineMail>(board.prefix, board.board, line, log);
    if (!board.mail[line]->startThread()) return KV_ERR_MAIL_THREAD;
    if (!board.mail[line]->createEvents()) return KV_ERR_MAIL_EVENT;

    // A window that cannot be mapped leaves the board open; its window
    // calls then answer 16.
    mapWindow(board);
    log.writef(kLogDetail, "%s mky40map: OK: ", board.prefix);
    watchForLoss(board);
    return KV_OK;
}

int32_t openBoard(int32_t board) {
    if (board < 0 || board >= kBuild.boardCount) return KV_ERR_ARGUMENT;
    if (boardEntry(board) != nullptr) return KV_ERR_ALREADY_OPEN;
    setBoardEntry(board, std::make_unique<BoardContext>(board));
    const int32_t code = openSteps(*boardEntry(board));
    if (code != KV_OK) {
        std::unique_ptr<BoardContext> context = takeBoardEntry(board);
        closeBoard(*context, false);
    }
    return code;
}

int32_t closeBoardNumber(int32_t board) {
    if (board < 0 || board >= kBuild.boardCount) return KV_ERR_ARGUMENT;
    if (boardEntry(board) == nullptr) return KV_ERR_NOT_OPEN;
    std::unique_ptr<BoardContext> context = takeBoardEntry(board);
    closeBoard(*context, true);
    return KV_OK;
}

}  // namespace

BoardContext::BoardContext(int32_t boardNumber) : board(boardNumber), instance(boardNumber) {
    platform::formatTo(prefix, "%s%d", kBuild.objectPrefix, boardNumber);
    // Without a scan the instance is the board number, and the path is known
    // from the start.
    if (!kBuild.scanInstances) platform::formatTo(devicePath, "%s%d", kBuild.deviceBase, board);
}

BoardContext::~BoardContext() = default;

bool mapWindow(BoardContext& board) {
    if (board.window != nullptr) unmapWindow(board);
    uint8_t* base = mapView(board.device, board.mapBlock);
    if (base == nullptr) return false;
    board.window = base;
    for (auto& mail : board.mail)
        if (mail) mail->setWindow(base);
    return true;
}

void unmapWindow(BoardContext& board) {
    if (board.window == nullptr) return;
    // The mail thread lets go of the window before it disappears (setWindow
    // returns once no poll is using it), and gets it back if it stays.
    uint8_t* const base = board.window;
    for (auto& mail : board.mail)
        if (mail) mail->setWindow(nullptr);
    unmapView(board.device, board.mapBlock, board.window);
    if (board.window != nullptr) {
        for (auto& mail : board.mail)
            if (mail) mail->setWindow(base);
    }
}

bool InstanceChoice::add(int32_t instance, std::optional<uint16_t> idWord) {
    if (!idWord || (*idWord & 0xFC) != 0) {
        if (unnumberedCount_ < kMaxBoards) unnumbered_[unnumberedCount_++] = instance;
        return false;
    }
    const int32_t number = *idWord & 3;
    if (number == board_) {
        chosen_ = instance;
        return true;
    }
    if (number < board_) --ordinal_;
    return false;
}

int32_t InstanceChoice::chosen() const {
    if (chosen_ >= 0) return chosen_;
    // Several boards carrying the same number below this one can drive the
    // ordinal below 0: then no unnumbered board is this one's.
    if (ordinal_ >= 0 && ordinal_ < unnumberedCount_) return unnumbered_[ordinal_];
    return -1;
}

int32_t scanInstances(int32_t board) {
    InstanceChoice choice(board);
    for (int32_t instance = 0; instance < kMaxBoards; ++instance) {
        char path[kNameRoom];
        platform::formatTo(path, "%s%d", kBuild.deviceBase, instance);
        HANDLE device = device::open(path);
        if (device == INVALID_HANDLE_VALUE) break;
        MapBlock block{};
        uint8_t* base = mapView(device, block);
        std::optional<uint16_t> id;
        if (base != nullptr) {
            id = bus::load<uint16_t>(base, kBoardIdWord);
            unmapView(device, block, base);
        }
        device::close(device);
        if (choice.add(instance, id)) break;
    }
    return choice.chosen();
}

void closeBoard(BoardContext& board, bool wait) {
    diaglog::LogFacility& log = libraryLog();
    endLossWatch(board);
    if (board.device != INVALID_HANDLE_VALUE) {
        if (boardLost(board)) {
            // No host takes the view back; it stays retired where it is, so
            // that no other mapping lands under an old pointer into it.
            for (auto& mail : board.mail)
                if (mail) mail->setWindow(nullptr);
            board.window = nullptr;
        } else {
            unmapWindow(board);
        }
        const HANDLE handle = board.device;
        device::close(board.device);
        log.writef(kLogDetail, "%s close: OK: <Device=%s, Handle=%u, CE=%u>", board.prefix,
                   board.devicePath, handleValue(handle), platform::lastError());
    }
    for (auto& mail : board.mail) {
        if (!mail) continue;
        mail->closeIfOpen();
        mail->destroyEvents();
        mail->stopThread(wait);
        mail.reset();
    }
    for (int kind = 0; kind < 3; ++kind) {
        for (int32_t line = 0; line < kLineSlots; ++line) {
            platform::Semaphore& semaphore = semaphoreOf(board, kind, line);
            if (!semaphore.valid()) continue;
            semaphore.close();
            log.writef(kLogDetail, "%s: DestorySemaphore: %s: Line(%d)", board.prefix,
                       kSemaphores[kind].text, line);
        }
    }
}

}  // namespace kalvo::boardlib

using namespace kalvo::boardlib;

extern "C" {

int32_t KV_open(int32_t board) {
    auto& log = libraryLog();
    log.writef(kLogCall, "%s(%d) KV_open", kBuild.shortName, board);
    const int32_t code = openBoard(board);
    if (code == KV_OK)
        log.writef(kLogDetail, "%s(%d) KV_open: OK", kBuild.shortName, board);
    else
        log.writef(kLogNg, "%s(%d) KV_open NG: Ret(%xh)", kBuild.shortName, board, code);
    return code;
}

int32_t KV_close(int32_t board) {
    auto& log = libraryLog();
    log.writef(kLogCall, "%s(%d) KV_close", kBuild.shortName, board);
    const int32_t code = closeBoardNumber(board);
    if (code == KV_OK)
        log.writef(kLogDetail, "%s(%d) KV_close: OK", kBuild.shortName, board);
    else
        log.writef(kLogNg, "%s(%d) KV_close: NG: Ret(%xh)", kBuild.shortName, board, code);
    return code;
}

}  // extern "C"
