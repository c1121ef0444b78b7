// Simulated boards behind the hardware provider: each board's PCI resources
// live in one shared physical-memory file (a memfd), laid out as
// board_layout.h says, so the host, its drivers and every client view see
// the same bytes. Each board's 64 KiB region is one mappable window of that
// file, so a view never reaches another board. Nothing above the provider interface may rely on the
// extra controls here; they serve the chip model, the host tool and tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kernel/hardware_provider.h"
#include "sim/board_layout.h"
#include "sim/board_set.h"

namespace kalvo::sim {

// The PCI identity the simulated boards report (the simulation's own
// numbers; nothing depends on them).
inline constexpr uint16_t kSimVendorId = 0x4B56;
uint16_t simDeviceId(std::string_view kind);

class SimulatedHardware final : public kernel::HardwareProvider {
  public:
    // Called after a chip reset has cleared the chip's registers, with the
    // board's index, so that a chip model can reset its own state too.
    using ResetHandler = std::function<void(size_t board)>;

    // Nothing, with the reason in *error, when the physical memory cannot be
    // made.
    static std::unique_ptr<SimulatedHardware> create(std::vector<BoardSpec> boards,
                                                     std::string* error);
    ~SimulatedHardware() override;
    SimulatedHardware(const SimulatedHardware&) = delete;
    SimulatedHardware& operator=(const SimulatedHardware&) = delete;

    // HardwareProvider
    std::vector<kernel::BoardDescription> boards() const override;
    std::vector<kernel::MemoryWindow> windows() const override;
    std::optional<kernel::MemoryWindow> windowAt(uint64_t busAddress) const override;
    // Refuses the ranges of a board whose faults say so, then maps as any
    // window is mapped.
    void* mapIoSpace(uint64_t busAddress, size_t length) override;
    void ioSpaceWritten(uint64_t busAddress, unsigned width) override;

    // The physical-memory file behind every window: bus address A is at
    // file offset A - physicalBase().
    int physicalMemoryFd() const { return fd_; }
    uint64_t physicalBase() const { return kPhysicalBase; }
    uint64_t physicalSize() const { return size_; }

    // Simulation controls. A board index out of range is ignored (null, 0
    // or no effect).
    size_t boardCount() const { return specs_.size(); }
    const BoardSpec* spec(size_t board) const;
    std::optional<size_t> boardAt(uint64_t busAddress) const;
    uint64_t controlWindowAddress(size_t board) const;
    uint64_t memoryWindowAddress(size_t board) const;
    // The host's own view of a board's windows.
    uint8_t* controlWindow(size_t board) const;
    uint8_t* memoryWindow(size_t board) const;

    uint16_t boardId(size_t board) const;
    void setBoardId(size_t board, uint16_t id);

    // At most one handler per board; null removes it. Once this returns, the
    // previous handler no longer runs. Handlers run under the reset lock: a
    // handler must not call setResetHandler or resetChip, and a chip model
    // must not call setResetHandler while holding a lock its handler takes.
    void setResetHandler(size_t board, ResetHandler handler);
    // What a write with the reset bit set does: clears the chip's registers,
    // then runs the board's reset handler.
    void resetChip(size_t board);
    uint64_t resetCount(size_t board) const;

  private:
    SimulatedHardware(std::vector<BoardSpec> specs, int fd, uint64_t size, uint8_t* view);
    bool mappingRefused(uint64_t busAddress, size_t length) const;

    std::vector<BoardSpec> specs_;
    int fd_ = -1;
    uint64_t size_ = 0;
    uint8_t* view_ = nullptr;  // the whole file, for the host's own accesses

    mutable std::mutex resetMutex_;
    std::vector<ResetHandler> resetHandlers_;
    std::vector<uint64_t> resetCounts_;
};

}  // namespace kalvo::sim
