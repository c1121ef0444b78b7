// An in-memory hardware provider for the kernel tests: physical memory in a
// memfd at a 64 KiB-aligned bus base, boards with a register window and a
// memory window that is deliberately not 64 KiB aligned, and a record of the
// register writes the kernel reports.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "kernel/device_backend.h"
#include "kernel/hardware_provider.h"

namespace kalvo::kernel::testing {

class TestHardware : public HardwareProvider {
  public:
    static constexpr uint64_t kBase = 0xF0000000;
    static constexpr uint64_t kBoardSpan = 0x10000;  // each board in its own 64 KiB
    static constexpr uint64_t kRegisters = 0x1000;   // offsets inside a board's span
    static constexpr uint32_t kRegistersLength = 0x100;
    static constexpr uint64_t kWindow = 0x3800;
    static constexpr uint32_t kWindowLength = 0x1000;

    explicit TestHardware(int boards, std::string kind = "ktest") {
        fd_ = memfd_create("kalvo-test-physical", MFD_CLOEXEC);
        size_ = kBoardSpan * uint64_t(boards > 0 ? boards : 1);
        if (ftruncate(fd_, off_t(size_)) != 0) size_ = 0;
        for (int i = 0; i < boards; ++i) {
            BoardDescription b;
            b.kind = kind;
            b.location = "test-" + std::to_string(i);
            uint64_t base = kBase + kBoardSpan * uint64_t(i);
            b.resources.push_back(
                {ResourceDescriptor::Memory, 0, base + kRegisters, kRegistersLength, 0});
            b.resources.push_back({ResourceDescriptor::Interrupt, 0, 0, 0, 11});
            b.resources.push_back(
                {ResourceDescriptor::Memory, 0, base + kWindow, kWindowLength, 0});
            boards_.push_back(b);
        }
    }
    ~TestHardware() override { close(fd_); }

    std::vector<BoardDescription> boards() const override { return boards_; }
    // Each board's 64 KiB span is one window of the memfd; or, as real
    // boards map them, only the pages of its two ranges, each a window.
    std::vector<MemoryWindow> windows() const override {
        std::vector<MemoryWindow> list;
        for (uint64_t i = 0; i < boards_.size(); ++i) {
            const uint64_t span = kBoardSpan * i;
            if (!rangeWindows_) {
                list.push_back({kBase + span, kBoardSpan, fd_, span, {}});
                continue;
            }
            list.push_back({kBase + span + kRegisters, 0x1000, fd_, span + kRegisters, {}});
            list.push_back({kBase + span + 0x3000, 0x2000, fd_, span + 0x3000, {}});
        }
        return list;
    }
    void useRangeWindows() { rangeWindows_ = true; }
    void ioSpaceWritten(uint64_t bus, unsigned width) override {
        std::lock_guard lock(mutex_);
        writes_.push_back({bus, width});
    }

    std::vector<std::pair<uint64_t, unsigned>> writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    uint32_t read32(uint64_t bus) const {
        uint32_t v = 0;
        if (pread(fd_, &v, 4, off_t(bus - kBase)) != 4) return 0xFFFFFFFF;
        return v;
    }

  private:
    int fd_ = -1;
    uint64_t size_ = 0;
    bool rangeWindows_ = false;
    std::vector<BoardDescription> boards_;
    mutable std::mutex mutex_;
    std::vector<std::pair<uint64_t, unsigned>> writes_;
};

// A calling process that records what the kernel asks of it; views get
// made-up addresses.
class FakeCaller : public CallerProcess {
  public:
    explicit FakeCaller(int wordSize = 64) : wordSize_(wordSize) {}
    uint32_t processId() const override { return 4242; }
    int wordSize() const override { return wordSize_; }
    NTSTATUS mapView(int, uint64_t fileOffset, size_t length, uint64_t* address) override {
        std::lock_guard lock(mutex_);
        *address = 0x7f0000000000ULL + fileOffset;
        views.push_back({fileOffset, length});
        return platform::STATUS_SUCCESS;
    }
    NTSTATUS unmapView(uint64_t address) override {
        std::lock_guard lock(mutex_);
        unmapped.push_back(address);
        return platform::STATUS_SUCCESS;
    }
    std::vector<std::pair<uint64_t, size_t>> views;
    std::vector<uint64_t> unmapped;

  private:
    int wordSize_;
    std::mutex mutex_;
};

}  // namespace kalvo::kernel::testing
