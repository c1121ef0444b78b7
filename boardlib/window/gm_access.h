// The GM area of the board window and the chip's write count register.
//
// The chip moves a station block of the GM area onto the network only when
// it has seen the block complete: before the library writes into a block it
// loads the write count register (0x40C) with the number of bus accesses
// about to be made into that block, and the chip counts it down by one per
// access. Reads need no such protocol. Every access goes through the bus
// layer, one element per access, straight between the caller's buffer and
// the window.
#pragma once

#include <atomic>
#include <cstdint>

#include "boardlib/frame/build_parameters.h"
#include "boardlib/window/window_bus.h"
#include "driver/requests/chip_registers.h"
#include "platform/semaphore.h"

namespace kalvo::boardlib {

using kalvo::chipmap::kGmArea;
using kalvo::chipmap::kWriteCountRegister;
inline constexpr uint32_t kBoardWindowSize = 4096;

// An 8-byte window access: one access in a 64-bit build, else two 32-bit
// accesses, low word first.
inline uint64_t load64(const uint8_t* base, uint32_t offset) noexcept {
    if constexpr (kBuild.access64) {
        return bus::load<uint64_t>(base, offset);
    } else {
        const uint64_t low = bus::load<uint32_t>(base, offset);
        const uint64_t high = bus::load<uint32_t>(base, offset + 4);
        return low | (high << 32);
    }
}

inline void store64(uint8_t* base, uint32_t offset, uint64_t value) noexcept {
    if constexpr (kBuild.access64) {
        bus::store<uint64_t>(base, offset, value);
    } else {
        bus::store<uint32_t>(base, offset, static_cast<uint32_t>(value));
        bus::store<uint32_t>(base, offset + 4, static_cast<uint32_t>(value >> 32));
    }
}

template <class T>
inline T loadElement(const uint8_t* base, uint32_t offset) noexcept {
    if constexpr (sizeof(T) == 8)
        return load64(base, offset);
    else
        return bus::load<T>(base, offset);
}

template <class T>
inline void storeElement(uint8_t* base, uint32_t offset, T value) noexcept {
    if constexpr (sizeof(T) == 8)
        store64(base, offset, value);
    else
        bus::store<T>(base, offset, value);
}

// True when count elements of `size` bytes from element `offset` of the GM
// area stay inside the 4096-byte window.
constexpr bool gmFits(uint32_t offset, uint32_t count, uint32_t size) noexcept {
    return kGmArea + (uint64_t{offset} + count) * size <= kBoardWindowSize;
}

// Bus accesses per element: the element size over the bus width, at least 1.
// (A bus as wide as the element, the usual case, needs no division.)
constexpr uint32_t accessMultiplier(uint32_t size, int32_t busWidth) noexcept {
    if (busWidth <= 0 || static_cast<uint32_t>(busWidth) >= size) return 1;
    return size / static_cast<uint32_t>(busWidth);
}

// Reads count elements from element offset under the line's read semaphore
// (one element, the common call, without the loop). False, with nothing
// read, once the board is lost: the flag is looked at inside the semaphore,
// with one relaxed load, so a retirement that takes the line's semaphores
// after setting it waits for this read, and a read that takes the semaphore
// after the retirement sees the flag (board_loss.h).
template <class T>
[[gnu::always_inline]] inline bool gmRead(const uint8_t* base, platform::Semaphore& readSemaphore,
                                          const std::atomic<bool>& lost, uint32_t offset,
                                          uint32_t count, T* out) noexcept {
    readSemaphore.wait();
    const bool done = !lost.load(std::memory_order_relaxed);
    if (!done) [[unlikely]] {
    } else if (count == 1) [[likely]] {
        out[0] = loadElement<T>(base, kGmArea + offset * sizeof(T));
    } else {
        for (uint32_t i = 0; i < count; ++i)
            out[i] = loadElement<T>(base, kGmArea + (offset + i) * sizeof(T));
    }
    readSemaphore.release();
    return done;
}

// The write procedure for 1-, 2- and 4-byte elements: the head of the first
// block, whole middle blocks (re-arming the register whenever the chip has
// counted it down to 0), the tail of the last block. The caller holds the
// line's write semaphore.
template <class T>
[[gnu::noinline]] void gmWriteBlocks(uint8_t* base, uint32_t m, uint32_t offset, uint32_t count,
                                     const T* data) noexcept {
    constexpr uint32_t perBlock = 8 / sizeof(T);
    auto arm = [&](uint32_t elements) {
        bus::store<uint16_t>(base, kWriteCountRegister, static_cast<uint16_t>(elements * m));
    };
    auto copy = [&](uint32_t index) {
        bus::store<T>(base, kGmArea + (offset + index) * sizeof(T), data[index]);
    };
    const uint32_t head = perBlock - offset % perBlock;
    if (count <= head) {
        arm(count);
        for (uint32_t i = 0; i < count; ++i) copy(i);
        return;
    }
    const uint32_t rest = count - head;
    const uint32_t tail = rest % perBlock;
    const uint32_t middle = rest - tail;
    arm(head);
    uint32_t i = 0;
    for (; i < head; ++i) copy(i);
    if (middle != 0) {
        arm(perBlock);
        for (uint32_t end = head + middle; i < end; ++i) {
            if (bus::load<uint16_t>(base, kWriteCountRegister) == 0) arm(perBlock);
            copy(i);
        }
    }
    if (tail != 0) {
        arm(tail);
        for (; i < count; ++i) copy(i);
    }
}

// Writes count elements from element offset under the line's write
// semaphore. One element always fits its block: the same two accesses as
// the general procedure (arm for one, the store), inline. False, with
// nothing written, once the board is lost (as gmRead).
template <class T>
[[gnu::always_inline]] inline bool gmWrite(uint8_t* base, platform::Semaphore& writeSemaphore,
                                           const std::atomic<bool>& lost, int32_t busWidth,
                                           uint32_t offset, uint32_t count,
                                           const T* data) noexcept {
    static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4);
    const uint32_t m = accessMultiplier(sizeof(T), busWidth);
    writeSemaphore.wait();
    const bool done = !lost.load(std::memory_order_relaxed);
    if (!done) [[unlikely]] {
    } else if (count == 1) [[likely]] {
        bus::store<uint16_t>(base, kWriteCountRegister, static_cast<uint16_t>(m));
        bus::store<T>(base, kGmArea + offset * sizeof(T), data[0]);
    } else {
        gmWriteBlocks<T>(base, m, offset, count, data);
    }
    writeSemaphore.release();
    return done;
}

// 8-byte elements: each is its own block write, preceded by its access count.
inline bool gmWriteDLong(uint8_t* base, platform::Semaphore& writeSemaphore,
                         const std::atomic<bool>& lost, int32_t busWidth, uint32_t offset,
                         uint32_t count, const uint64_t* data) noexcept {
    const uint32_t m = accessMultiplier(8, busWidth);
    writeSemaphore.wait();
    const bool done = !lost.load(std::memory_order_relaxed);
    for (uint32_t i = 0; done && i < count; ++i) {
        bus::store<uint16_t>(base, kWriteCountRegister, static_cast<uint16_t>(m));
        store64(base, kGmArea + (offset + i) * 8, data[i]);
    }
    writeSemaphore.release();
    return done;
}

}  // namespace kalvo::boardlib
