// A calling process for in-process driver tests: views of a board window's
// file are mapped into the test process itself, as the transport would have
// the client do. A 32-bit caller's views go below 4 GiB.
#pragma once

#include <sys/mman.h>

#include <cstdint>
#include <iterator>
#include <map>
#include <mutex>

#include "kernel/device_backend.h"

namespace kalvo::drivertest {

class FakeCaller final : public kernel::CallerProcess {
  public:
    explicit FakeCaller(int wordSize) : wordSize_(wordSize) {}
    ~FakeCaller() override {
        for (auto& [base, length] : views_) munmap(reinterpret_cast<void*>(base), length);
    }

    uint32_t processId() const override { return 4242; }
    int wordSize() const override { return wordSize_; }

    kernel::NTSTATUS mapView(int fd, uint64_t fileOffset, size_t length,
                             uint64_t* address) override {
        int flags = MAP_SHARED;
        if (wordSize_ == 32) flags |= MAP_32BIT;
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, flags, fd,
                       static_cast<off_t>(fileOffset));
        if (p == MAP_FAILED) return platform::STATUS_NO_MEMORY;
        std::lock_guard lock(mutex_);
        views_[reinterpret_cast<uintptr_t>(p)] = length;
        *address = reinterpret_cast<uintptr_t>(p);
        return platform::STATUS_SUCCESS;
    }

    kernel::NTSTATUS unmapView(uint64_t address) override {
        std::lock_guard lock(mutex_);
        auto it = views_.upper_bound(address);
        if (it == views_.begin()) return platform::STATUS_NOT_MAPPED_VIEW;
        --it;
        if (address >= it->first + it->second) return platform::STATUS_NOT_MAPPED_VIEW;
        munmap(reinterpret_cast<void*>(it->first), it->second);
        views_.erase(it);
        return platform::STATUS_SUCCESS;
    }

    size_t viewCount() {
        std::lock_guard lock(mutex_);
        return views_.size();
    }

  private:
    int wordSize_;
    std::mutex mutex_;
    std::map<uintptr_t, size_t> views_;
};

}  // namespace kalvo::drivertest
