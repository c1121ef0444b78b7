// The ring algorithm of the serial channels' buffers, over storage that the
// caller provides: the shared receive ring keeps it in a named map, the send
// ring on the heap.
//
// A ring of capacity N has N + 1 bytes of storage and a read and a write
// index into them; it is empty when they are equal. Putting a byte into a
// full ring drops the oldest byte, so a ring always holds the newest bytes.
#pragma once

#include <cstdint>

namespace kalvo::api {

// Capacities a ring may be sized to; a size above the maximum is cut to it
// and a size below 1 gives the default.
inline constexpr int32_t kRingMaxCapacity = 40960;
inline constexpr int32_t kRingDefaultCapacity = 4096;

// The indexes of a ring; in the shared receive ring they live in the map.
struct RingIndexes {
    int32_t capacity;
    int32_t read;
    int32_t write;
};

class ByteRing {
  public:
    // data holds at least capacity + 1 bytes (kRingMaxCapacity + 1 for a
    // ring that may be resized in place).
    ByteRing(RingIndexes& indexes, uint8_t* data) noexcept : ix_(indexes), data_(data) {}

    // An index outside 0..capacity (a map written by something else) or a
    // capacity outside 0..kRingMaxCapacity empties the ring rather than
    // reach outside its storage. Every operation checks first.
    int32_t fill() const noexcept;
    void put(uint8_t byte) noexcept;
    void put(const uint8_t* bytes, int32_t count) noexcept;
    // Takes up to max bytes, oldest first; the number taken.
    int32_t get(uint8_t* bytes, int32_t max) noexcept;
    void clear() noexcept;
    // Resizes in place (the storage must hold kRingMaxCapacity + 1 bytes):
    // the newest min(fill, size) bytes remain, moved to the start.
    void resize(int32_t size) noexcept;

    // The capacity a requested size gives.
    static int32_t clampSize(int32_t size) noexcept;
    // Copies the newest min(fill, capacity of to) bytes of `from` to the
    // start of `to`, which is then sized to its capacity.
    static void moveNewest(const ByteRing& from, ByteRing& to) noexcept;

  private:
    bool sane() const noexcept;
    int32_t next(int32_t index) const noexcept { return index == ix_.capacity ? 0 : index + 1; }

    RingIndexes& ix_;
    uint8_t* data_;
};

}  // namespace kalvo::api
