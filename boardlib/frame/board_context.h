// The record of one open board in this process: its device, the object
// prefix, the chosen device instance, the line settings and connection, the
// line's named semaphores and mail service, and the mapped board window.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "boardlib/frame/build_parameters.h"
#include "boardlib/frame/device_port.h"
#include "boardlib/mail/line_mail.h"
#include "platform/device.h"
#include "platform/semaphore.h"

namespace kalvo::boardlib {

inline constexpr size_t kNameRoom = 260;
inline constexpr uint32_t kWindowSize = 4096;

struct BoardContext {
    explicit BoardContext(int32_t boardNumber);
    ~BoardContext();
    BoardContext(const BoardContext&) = delete;
    BoardContext& operator=(const BoardContext&) = delete;

    platform::HANDLE device = platform::INVALID_HANDLE_VALUE;
    int32_t board;
    char prefix[kNameRoom] = {};  // e.g. "KVMBrd0"
    int32_t instance;
    char devicePath[kNameRoom] = {};
    int32_t baud[kLineSlots] = {-1, -1};  // -1: the chip's baud setting is left alone
    int32_t connectedAddress = 0;
    int32_t connectedSize = 0;
    int32_t busWidth[kLineSlots] = {kBuild.busWidth, kBuild.busWidth};
    platform::Semaphore startSemaphore[kLineSlots];
    platform::Semaphore readSemaphore[kLineSlots];
    platform::Semaphore writeSemaphore[kLineSlots];
    std::unique_ptr<LineMail> mail[kLineSlots];
    uint8_t* window = nullptr;  // null while not mapped
    MapBlock mapBlock{};
    // Set once the device host of the board has gone (board_loss.h); every
    // call that would reach the board answers -1 from then on.
    std::atomic<bool> lost{false};
    bool lossWatched = false;
};

// The map procedure: unmaps a mapped window first, then asks the device for
// the 4096-byte window. False, with the base left null, when it fails.
bool mapWindow(BoardContext& board);
// The unmap procedure: gives a mapped window back; a failed unmap keeps the
// base.
void unmapWindow(BoardContext& board);

}  // namespace kalvo::boardlib
