// The named slot map shared by every process that has the same library's log
// open: 1028 bytes, a process count followed by 256 slot words (1 occupied,
// 0 free). Each process holds one slot, which names its pair of log files;
// the count tells a library whether it is the last process using it.
//
// A process that dies cannot give its slot back, so each holder also keeps a
// lock on byte <slot> of a small side file in the runtime directory. The
// kernel drops that lock when the holder dies, and the next process that
// opens the map (or asks for the count) frees every occupied slot whose lock
// is gone. Claims, releases and that clean-up run under a lock on a byte past
// the slots, so two processes never free the same slot twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/page_file_map.h"

namespace kalvo::diaglog {

// The runtime namespace's path for a slot map's own files without their
// suffix: "<stem>.slots" is the side file, "<stem>.ring<slot>" a slot's ring.
// Empty when the namespace cannot be had.
std::string logRuntimeStem(const char* mapName);

class LogSlotMap {
  public:
    static constexpr size_t kMapSize = 1028;
    static constexpr int32_t kSlotCount = 256;

    LogSlotMap() = default;
    ~LogSlotMap();  // releases the slot
    LogSlotMap(const LogSlotMap&) = delete;
    LogSlotMap& operator=(const LogSlotMap&) = delete;

    // Runs under the claim lock after the slots of dead holders were freed,
    // before this process claims one: what dead holders left can be put right
    // there before their slot is taken again.
    using BeforeClaim = void (*)(void* context, const LogSlotMap& map);

    // Opens or creates the named map (zero-filled when created) and claims
    // the first free slot. Fails when the map cannot be had, when all slots
    // are taken, or when this object already holds a slot.
    bool open(const char* mapName, BeforeClaim beforeClaim = nullptr, void* context = nullptr);
    // Gives the slot back and closes the map.
    void close();
    // Closes the map but keeps the slot for the process that holds it: in a
    // child forked with the map open, the slot is its parent's.
    void abandon();

    bool isOpen() const noexcept { return slot_ >= 0; }
    int32_t slot() const noexcept { return slot_; }  // -1 when none is held
    bool created() const noexcept { return created_; }
    // True when this call created the map: no other process had it open. A
    // map whose every holder died comes back created (platform lifetime).
    bool firstUser() const noexcept { return created_; }
    // Occupied slots after freeing those of dead holders; 0 when closed.
    int32_t processCount();
    bool occupied(int32_t slot) const noexcept;
    const std::string& stem() const noexcept { return stem_; }

  private:
    uint32_t* word(size_t index) const noexcept;  // 0: count, 1 + i: slot i
    bool lockGuard() const noexcept;
    void unlockGuard() const noexcept;
    bool holderAlive(int32_t slot) const noexcept;
    void reclaimDeadSlots() noexcept;
    void releaseSlot() noexcept;

    platform::PageFileMap map_;
    std::string stem_;
    int lockFd_ = -1;  // side file with one lock byte per slot and a guard byte
    int32_t slot_ = -1;
    bool created_ = false;
};

}  // namespace kalvo::diaglog
