// The host as the calling process of its own requests to a driver (the line
// guard's safe state, the safe start): views of a board window are mapped
// into the host itself, and the output blocks of a line cleared through one.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <map>

#include "driver/requests/chip_registers.h"
#include "kernel/device_backend.h"
#include "platform/status_names.h"

namespace kalvo::kernel::host {

class HostCaller final : public CallerProcess {
  public:
    ~HostCaller() override {
        for (auto& [address, length] : views_) ::munmap(reinterpret_cast<void*>(address), length);
    }

    uint32_t processId() const override { return static_cast<uint32_t>(::getpid()); }
    int wordSize() const override { return 64; }
    NTSTATUS mapView(int fd, uint64_t fileOffset, size_t length, uint64_t* address) override {
        if (fd < 0 || length == 0) return platform::STATUS_UNSUCCESSFUL;
        void* view = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                            static_cast<off_t>(fileOffset));
        if (view == MAP_FAILED) return platform::STATUS_UNSUCCESSFUL;
        *address = reinterpret_cast<uint64_t>(view);
        views_[*address] = length;
        return platform::STATUS_SUCCESS;
    }
    NTSTATUS unmapView(uint64_t address) override {
        for (auto it = views_.begin(); it != views_.end(); ++it) {
            if (address >= it->first && address < it->first + it->second) {
                ::munmap(reinterpret_cast<void*>(it->first), it->second);
                views_.erase(it);
                return platform::STATUS_SUCCESS;
            }
        }
        return platform::STATUS_NOT_MAPPED_VIEW;
    }

  private:
    std::map<uint64_t, size_t> views_;
};

// Zeroes the output blocks of count stations from address in the GM area, as
// the library's reset of the line does: each 8-byte block announced to the
// chip with its four word accesses in the write count register first. The
// host writes while no program holds the device, so no writer interleaves;
// the write semaphore is not taken, as a program killed while writing may
// have left it taken for ever.
inline void clearOutputBlocks(uint8_t* window, int32_t address, int32_t count) {
    for (int32_t station = address; station < address + count; ++station) {
        auto* countRegister =
            reinterpret_cast<volatile uint16_t*>(window + chipmap::kWriteCountRegister);
        *countRegister = 4;
        auto* block =
            reinterpret_cast<volatile uint16_t*>(window + chipmap::kGmArea + 8 * uint32_t(station));
        for (int word = 0; word < 4; ++word) block[word] = 0;
    }
}

}  // namespace kalvo::kernel::host
