// Test helpers: a 4096-byte buffer as the board window with a recording bus,
// and a library log opened in the test's working folder.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "boardlib/window/window_bus.h"
#include "diaglog/log_facility.h"

namespace kalvo::boardlib::test {

struct Access {
    bool store;
    uint32_t offset;
    unsigned bytes;
    uint64_t value;
    bool operator==(const Access&) const = default;
};

inline Access St16(uint32_t offset, uint64_t value) {
    return {true, offset, 2, value};
}

// Records every window access; a load of a scripted offset returns the
// script's value instead of the memory's (as a chip register would).
class RecordingBus : public BusObserver {
  public:
    RecordingBus() { bus::setObserver(this); }
    ~RecordingBus() override { bus::setObserver(nullptr); }

    uint64_t load(uint32_t offset, unsigned bytes, uint64_t value) override {
        std::lock_guard g(lock_);
        if (auto it = script_.find(offset); it != script_.end()) value = it->second;
        log_.push_back({false, offset, bytes, value});
        return value;
    }
    void store(uint32_t offset, unsigned bytes, uint64_t value) override {
        std::lock_guard g(lock_);
        log_.push_back({true, offset, bytes, value});
    }

    void script(uint32_t offset, uint64_t value) {
        std::lock_guard g(lock_);
        script_[offset] = value;
    }
    void unscript(uint32_t offset) {
        std::lock_guard g(lock_);
        script_.erase(offset);
    }
    std::vector<Access> take() {
        std::lock_guard g(lock_);
        return std::exchange(log_, {});
    }
    // 16-bit stores only, in order.
    std::vector<Access> takeStores16() {
        std::vector<Access> out;
        for (const Access& a : take())
            if (a.store && a.bytes == 2) out.push_back(a);
        return out;
    }

  private:
    std::mutex lock_;
    std::map<uint32_t, uint64_t> script_;
    std::vector<Access> log_;
};

struct Window {
    alignas(8) uint8_t bytes[4096] = {};
    uint8_t* base() { return bytes; }
    // One 16-bit access each, as the chip makes them beside the library's.
    void put16(uint32_t offset, uint16_t v) {
        __atomic_store_n(reinterpret_cast<uint16_t*>(bytes + offset), v, __ATOMIC_RELAXED);
    }
    uint16_t get16(uint32_t offset) const {
        return __atomic_load_n(reinterpret_cast<const uint16_t*>(bytes + offset), __ATOMIC_RELAXED);
    }
};

// The board library's log with every line let through; messages without
// stamp and marker.
class TestLog {
  public:
    TestLog() { log.open("MailLog", "MailLog.ini", "MailLog.Map", 0xFFFFFFFFu); }
    diaglog::LogFacility log;

    std::vector<std::string> messages() {
        std::vector<std::string> out;
        char name[32];
        std::snprintf(name, sizeof name, "MailLog_%02d%02d.log", log.slot(), log.fileNumber());
        std::ifstream in(name, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            // stamp (18) and a marker of spaces after its two signs
            size_t at = line.find_first_not_of(' ', 20);
            out.push_back(at == std::string::npos ? std::string() : line.substr(at));
        }
        return out;
    }
    bool has(const std::string& message) {
        for (const auto& m : messages())
            if (m == message) return true;
        return false;
    }
};

}  // namespace kalvo::boardlib::test
