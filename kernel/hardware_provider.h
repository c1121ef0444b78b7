// The hardware under the device host: boards with their PCI resources and
// the mappable windows their bus memory lives in. The simulated boards are
// the default provider; real boards are found through sysfs and mapped
// through their resource files. Both stand behind this interface and are
// served by the same code here (MmMapIoSpace, the views of
// "\Device\PhysicalMemory"), so nothing above it may assume simulation.
#pragma once

#include "kernel/export.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kalvo::kernel {

// One resource descriptor of a board, as a CM_PARTIAL_RESOURCE_DESCRIPTOR
// carries it (type numbers as on Windows).
struct ResourceDescriptor {
    enum Type : uint8_t { Port = 1, Interrupt = 2, Memory = 3 };
    Type type = Memory;
    uint16_t flags = 0;   // CM_RESOURCE_MEMORY_READ_WRITE (0) etc.
    uint64_t start = 0;   // bus address (translated = raw here)
    uint32_t length = 0;  // bytes (ports and memory)
    uint32_t level = 0;   // interrupt level / vector
};

struct BoardDescription {
    std::string kind;      // "tolva", "kvmdrv" or "cardmaster": which driver serves it
    std::string location;  // a stable name for lists and logs, e.g. "pci-0000:03:00.0"
    uint16_t vendorId = 0;
    uint16_t deviceId = 0;
    std::vector<ResourceDescriptor> resources;  // in the order the bus reports them
    // Tells this board from another one put in at the same location later
    // (pulled and put back, or removed and rescanned, between two looks):
    // a board whose identity changed is a removal and an arrival. Empty for
    // hardware that is never replaced.
    std::string identity;
};

// One mappable object on the bus: bus addresses [busStart, busStart +
// length) are the bytes of the file fd from fdOffset on. busStart and
// fdOffset are multiples of the page size, so that any page of the window
// can be mapped on its own.
struct MemoryWindow {
    uint64_t busStart = 0;
    uint64_t length = 0;
    int fd = -1;
    uint64_t fdOffset = 0;
    // Keeps fd open while this copy is in use: a board may be pulled, and
    // its window dropped by the provider, while a mapping is being made.
    // Null when the provider keeps the file for its whole life.
    std::shared_ptr<const void> keepOpen;

    bool holds(uint64_t busAddress) const {
        return busAddress >= busStart && busAddress - busStart < length;
    }
    // True when [busAddress, busAddress + bytes) lies inside the window.
    bool holds(uint64_t busAddress, uint64_t bytes) const {
        return holds(busAddress) && bytes <= length - (busAddress - busStart);
    }
};

class KALVO_KERNEL_API HardwareProvider {
  public:
    HardwareProvider() = default;
    virtual ~HardwareProvider();
    HardwareProvider(const HardwareProvider&) = delete;
    HardwareProvider& operator=(const HardwareProvider&) = delete;

    virtual std::vector<BoardDescription> boards() const = 0;

    // Every mappable window, in no particular order; windows never overlap.
    virtual std::vector<MemoryWindow> windows() const = 0;
    // The window holding a bus address, or nothing.
    virtual std::optional<MemoryWindow> windowAt(uint64_t busAddress) const;

    // MmMapIoSpace / MmUnmapIoSpace for the host itself: a pointer to the
    // bytes at a bus address (a mapping of the window's file), or null when
    // the range is not inside one window.
    virtual void* mapIoSpace(uint64_t busAddress, size_t length);
    virtual void unmapIoSpace(void* address, size_t length);
    // MmMapIoSpace mappings handed out and not yet unmapped.
    size_t liveMappings() const;

    // Called by WRITE_REGISTER_UCHAR/USHORT/ULONG after the store, with the
    // bus address written: lets a simulated board react to a register write
    // at once (a reset pulse lasts only two stores). Real boards ignore it.
    virtual void ioSpaceWritten(uint64_t busAddress, unsigned width) {
        (void)busAddress;
        (void)width;
    }

    // Looks at the hardware again (boards plugged in or pulled since the
    // last look); true when boards() changed. Fixed hardware never changes.
    virtual bool rescan() { return false; }

  private:
    struct Mapping {
        void* base;  // the page-aligned mapping
        size_t length;
    };
    mutable std::mutex mappingsMutex_;
    std::map<uintptr_t, Mapping> mappings_;  // by the address handed out
};

}  // namespace kalvo::kernel
