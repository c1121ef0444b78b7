// A calling process for in-process driver tests: views of a board window's
// file are mapped into the test process itself, as the transport would have
// the client do. A 32-bit caller's views go below 4 GiB.
#pragma once

#include <sys/mman.h>

#include <condition_variable>
#include <cstdint>
#include <iterator>
#include <map>
#include <mutex>

#include "kernel/device_backend.h"

namespace kalvo::drivertest {

class FakeCaller final : public kernel::CallerProcess {
  public:
    explicit FakeCaller(int wordSize, uint32_t processId = 4242)
        : wordSize_(wordSize), processId_(processId) {}
    ~FakeCaller() override {
        for (auto& [base, length] : views_) munmap(reinterpret_cast<void*>(base), length);
    }

    uint32_t processId() const override { return processId_; }
    int wordSize() const override { return wordSize_; }

    // A process that does not answer the host: its views wait until
    // answer() (the test's gate), as a client that never reads its socket.
    void stopAnswering() {
        std::lock_guard lock(mutex_);
        silent_ = true;
    }
    void answer() {
        {
            std::lock_guard lock(mutex_);
            silent_ = false;
        }
        answered_.notify_all();
    }
    // Views asked for while not answering (the record that one is waiting).
    int unansweredAsks() {
        std::lock_guard lock(mutex_);
        return unanswered_;
    }

    kernel::NTSTATUS mapView(int fd, uint64_t fileOffset, size_t length,
                             uint64_t* address) override {
        {
            std::unique_lock lock(mutex_);
            if (silent_) ++unanswered_;
            answered_.wait(lock, [&] { return !silent_; });
        }
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
    uint32_t processId_;
    std::mutex mutex_;
    std::condition_variable answered_;
    bool silent_ = false;
    int unanswered_ = 0;
    std::map<uintptr_t, size_t> views_;
};

}  // namespace kalvo::drivertest
