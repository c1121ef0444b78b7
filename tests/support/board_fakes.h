// In-memory stand-ins for the board devices and a recording bus, so that the
// library's calls run in the test process: each fake board has a 4096-byte
// window (below 4 GiB, as a 32-bit build's device places it), a board ID
// word, and a script of which requests fail. Every request and every window
// access is recorded in order.
#pragma once

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "boardlib/frame/device_port.h"
#include "boardlib/window/window_bus.h"
#include "platform/format.h"

namespace kalvo::boardlib::test {

struct FakeBoard {
    uint8_t* window = nullptr;
    bool present = true;
    bool mapFails = false;
};

class FakeDevices : public DevicePort {
  public:
    explicit FakeDevices(int boards = 1) {
        for (int i = 0; i < 4; ++i) {
            void* p = mmap(nullptr, 4096, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
            boards_[i].window = static_cast<uint8_t*>(p);
            boards_[i].present = i < boards;
            setId(i, static_cast<uint16_t>(i));
        }
        device::setPort(this);
    }
    ~FakeDevices() override {
        device::setPort(nullptr);
        for (auto& b : boards_) munmap(b.window, 4096);
    }

    FakeBoard& board(int i) { return boards_[i]; }
    void setId(int i, uint16_t id) { std::memcpy(boards_[i].window + 0x808, &id, 2); }

    // Requests as text, in order: "open \\.\KVMDRV0", "map 0", "unmap 0",
    // "status", "name ST1", "connect 10 1", "connectLF ..", "gmm 0 0",
    // "disconnect", "reset", "close 0".
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> g(lock_);
        return requests_;
    }
    void clear() {
        std::lock_guard<std::mutex> g(lock_);
        requests_.clear();
    }
    bool sent(const std::string& prefix) {
        for (auto& r : requests())
            if (r.rfind(prefix, 0) == 0) return true;
        return false;
    }

    // Requests whose text starts with this fail (-1).
    std::string failPrefix;
    int32_t ownStation = 5;  // the status answer's station address
    int32_t nameSlot = -1;   // the name request's answer

    platform::HANDLE open(const char* path) override {
        record(std::string("open ") + path);
        std::string p(path);
        int i = p.back() - '0';
        if (i < 0 || i > 3 || !boards_[i].present) return platform::INVALID_HANDLE_VALUE;
        return reinterpret_cast<platform::HANDLE>(static_cast<uintptr_t>(0x100 + i));
    }
    void close(platform::HANDLE h) override { record("close " + std::to_string(index(h))); }
    int32_t status(platform::HANDLE, requests::StatusBlock* s) override {
        if (fails("status")) return -1;
        *s = {1004, ownStation, 1};
        return 0;
    }
    int32_t name(platform::HANDLE, requests::NameRequestBlock* b) override {
        if (fails(std::string("name ") + b->name)) return -1;
        b->slot = nameSlot;
        return 0;
    }
    int32_t connect(platform::HANDLE, ConnectMode mode,
                    const requests::ConnectRequestBlock* b) override {
        const char* kind = mode == ConnectMode::Normal      ? "connect "
                           : mode == ConnectMode::LongFrame ? "connectLF "
                                                            : "gmm ";
        return fails(std::string(kind) + b->address + " " + std::to_string(b->size)) ? -1 : 0;
    }
    int32_t disconnect(platform::HANDLE) override { return fails("disconnect") ? -1 : 0; }
    int32_t reset(platform::HANDLE) override { return fails("reset") ? -1 : 0; }
    int32_t map(platform::HANDLE h, MapBlock* b) override {
        const int i = index(h);
        if (b->command == requests::MapCommand::Unmap) {
            const bool ok = b->address == reinterpret_cast<uintptr_t>(boards_[i].window);
            return fails("unmap " + std::to_string(i)) || !ok ? -1 : 0;
        }
        if (fails("map " + std::to_string(i)) || boards_[i].mapFails) return -1;
        b->address =
            static_cast<decltype(b->address)>(reinterpret_cast<uintptr_t>(boards_[i].window));
        return 0;
    }

  private:
    static int index(platform::HANDLE h) {
        return static_cast<int>(reinterpret_cast<uintptr_t>(h) - 0x100);
    }
    void record(const std::string& r) {
        std::lock_guard<std::mutex> g(lock_);
        requests_.push_back(r);
    }
    bool fails(const std::string& r) {
        record(r);
        return !failPrefix.empty() && r.rfind(failPrefix, 0) == 0;
    }

    FakeBoard boards_[4];
    std::mutex lock_;
    std::vector<std::string> requests_;
};

// Records window accesses as "W2 40c=5" (store of 2 bytes at 0x40C) and
// "R2 40c" (load), and plays the chip's write count register: a store there
// loads the count, each store into the GM area counts it down, and a load
// of it answers the count left.
class RecordingBus : public BusObserver {
  public:
    RecordingBus() { bus::setObserver(this); }
    ~RecordingBus() override { bus::setObserver(nullptr); }

    uint64_t load(uint32_t offset, unsigned bytes, uint64_t value) override {
        std::lock_guard<std::mutex> g(lock_);
        char text[32];
        platform::formatTo(text, "R%u %x", bytes, offset);
        trace_.emplace_back(text);
        if (offset == 0x40C && bytes == 2) return count_;
        return value;
    }
    void store(uint32_t offset, unsigned bytes, uint64_t value) override {
        std::lock_guard<std::mutex> g(lock_);
        char text[48];
        platform::formatTo(text, "W%u %x=%I64x", bytes, offset, value);
        trace_.emplace_back(text);
        if (offset == 0x40C && bytes == 2) {
            count_ = static_cast<uint16_t>(value);
        } else if (offset >= 0x200 && offset < 0x400 && count_ > 0) {
            --count_;
        }
    }

    std::vector<std::string> trace() {
        std::lock_guard<std::mutex> g(lock_);
        return trace_;
    }
    // Only the accesses at or above `from` and below `to`.
    std::vector<std::string> trace(uint32_t from, uint32_t to) {
        std::vector<std::string> out;
        for (auto& t : trace()) {
            uint32_t offset =
                static_cast<uint32_t>(std::stoul(t.substr(t.find(' ') + 1), nullptr, 16));
            if (offset >= from && offset < to) out.push_back(t);
        }
        return out;
    }
    void clear() {
        std::lock_guard<std::mutex> g(lock_);
        trace_.clear();
    }

  private:
    std::mutex lock_;
    std::vector<std::string> trace_;
    uint16_t count_ = 0;
};

}  // namespace kalvo::boardlib::test
