// Bus memory for the kernel: the MmMapIoSpace mappings (so that a register
// store can be reported with its bus address), the "\Device\PhysicalMemory"
// section handles, and the views mapped into the host itself.
#pragma once

#include "kernel/export.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>

#include "kernel/wdm.h"

namespace kalvo::kernel {

class HardwareProvider;

class KALVO_KERNEL_API IoSpace {
  public:
    explicit IoSpace(HardwareProvider* hardware) : hardware_(hardware) {}
    ~IoSpace();

    PVOID map(uint64_t busAddress, size_t length);
    void unmap(PVOID address, size_t length);
    // Reports a register store at a mapped address to the hardware.
    void written(volatile void* address, unsigned width);
    // The bus address of a mapped system address; false when unmapped.
    bool busAddressOf(const volatile void* address, uint64_t* busAddress) const;

    HANDLE openSection();
    bool isSection(HANDLE handle) const;
    bool closeHandle(HANDLE handle);

    // ZwMapViewOfSection: a view of the window that holds the bus address
    // offset, starting at offset moved down to the allocation granularity
    // (but not below the window's start) and reaching at least size bytes
    // past offset, in whole pages. In the calling process when a request
    // runs, else in the host. The view's bus address and length come back.
    NTSTATUS mapView(uint64_t offset, uint64_t size, uint64_t* address, uint64_t* viewStart,
                     uint64_t* viewLength);
    NTSTATUS unmapView(uint64_t address);

    static constexpr uint64_t kAllocationGranularity = 0x10000;
    static constexpr uint64_t kPageSize = 0x1000;

  private:
    struct Mapping {
        size_t length;
        uint64_t bus;
    };
    HardwareProvider* hardware_;
    mutable std::shared_mutex mappingsMutex_;
    std::map<uintptr_t, Mapping> mappings_;  // by system address

    mutable std::mutex handlesMutex_;
    std::set<uintptr_t> sections_;
    uintptr_t nextHandle_ = 0x80000004;
    std::map<uint64_t, size_t> hostViews_;  // views in the host process
};

}  // namespace kalvo::kernel
