// The hardware under the device host: boards with their PCI resources and
// the physical memory their windows live in. The simulated boards are
// the default provider; a provider for real boards through Linux UIO / sysfs
// resource files can stand behind the same interface, so nothing above it
// may assume simulation.
#pragma once

#include <cstddef>
#include <cstdint>
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
};

class HardwareProvider {
  public:
    virtual ~HardwareProvider() = default;

    virtual std::vector<BoardDescription> boards() const = 0;

    // The physical-memory file: bus address A is at file offset
    // A - physicalBase(). Views of it are what MmMapIoSpace and
    // ZwMapViewOfSection hand out.
    virtual int physicalMemoryFd() const = 0;
    virtual uint64_t physicalBase() const = 0;
    virtual uint64_t physicalSize() const = 0;

    // MmMapIoSpace / MmUnmapIoSpace for the host itself: a pointer to the
    // bytes at a bus address, or null when the range is not backed.
    virtual void* mapIoSpace(uint64_t busAddress, size_t length) = 0;
    virtual void unmapIoSpace(void* address, size_t length) = 0;

    // Called by WRITE_REGISTER_UCHAR/USHORT/ULONG after the store, with the
    // bus address written: lets a simulated board react to a register write
    // at once (a reset pulse lasts only two stores). Real boards ignore it.
    virtual void ioSpaceWritten(uint64_t busAddress, unsigned width) {
        (void)busAddress;
        (void)width;
    }
};

}  // namespace kalvo::kernel
