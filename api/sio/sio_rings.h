// The two buffers of a serial channel.
//
// SharedRing, the receive ring: one named page-file map per channel and unit
// ("SIO(1)RcvBuff00Map.Map"), shared by every process that has the unit open,
// so a byte received by any process's receive thread is there for whichever
// process takes it first. Its own named lock ("SIO(1)RcvBuff00Smph") guards
// every access; an attach count in the map tells the first process (which
// sizes the ring) from the later ones. The map's layout is fixed:
//   0 attach count, 4 capacity, 8 read index, 12 write index (i32 each),
//   16 data (capacity + 1 bytes, at most 40961).
//
// LocalRing, the send ring: a heap buffer of this process, guarded by a
// mutex, that PutData feeds and drains block by block.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "api/frame/named_semaphore.h"
#include "api/frame/shared_map.h"
#include "api/sio/byte_ring.h"

namespace kalvo::api {

inline constexpr size_t kReceiveRingMapSize = 40980;

class SharedRing {
  public:
    SharedRing() = default;
    ~SharedRing() { detach(); }
    SharedRing(const SharedRing&) = delete;
    SharedRing& operator=(const SharedRing&) = delete;

    // Creates or opens the map "<name>Map.Map" and the lock "<name>Smph" and
    // counts this attach; the first attach on the machine sizes the ring.
    // False (nothing held) when either cannot be had.
    bool attach(const std::string& name, int32_t size);
    // Uncounts this attach and lets go of the map and the lock.
    void detach() noexcept;
    bool attached() const noexcept { return layout_ != nullptr; }

    // Each under the ring's lock.
    int32_t fill();
    int32_t capacity();
    void put(const uint8_t* bytes, int32_t count);
    int32_t get(uint8_t* bytes, int32_t max);
    // Exactly count bytes when the ring holds that many, else nothing (-1).
    int32_t takeIfFilled(uint8_t* bytes, int32_t count);
    void clear();
    void resize(int32_t size);

  private:
    struct Layout {
        int32_t attachCount;
        RingIndexes indexes;
        uint8_t data[kRingMaxCapacity + 1];
    };
    static_assert(sizeof(Layout) <= kReceiveRingMapSize);

    SharedMap map_;
    NamedSemaphore lock_;
    Layout* layout_ = nullptr;
};

class LocalRing {
  public:
    explicit LocalRing(int32_t size = kRingDefaultCapacity);

    int32_t fill();
    int32_t capacity();
    void put(const uint8_t* bytes, int32_t count);
    int32_t get(uint8_t* bytes, int32_t max);
    void clear();
    // A new buffer that keeps the newest bytes that fit.
    void resize(int32_t size);

  private:
    std::mutex mutex_;
    RingIndexes indexes_{};
    std::vector<uint8_t> data_;
};

}  // namespace kalvo::api
