// A station as the master sees it: sixteen output words the test writes as
// the master would, sixteen input words the unit answers in.
#pragma once

#include <array>
#include <cstdint>

#include "sim/units/remote_unit.h"

namespace kalvo::sim::testing {

class FakeStationPort final : public StationPort {
  public:
    uint16_t output(int offset) const override {
        return offset >= 0 && offset < 16 ? out[offset] : 0;
    }
    uint64_t outputBlock(int offset) const override {
        uint64_t value = 0;
        for (int i = 3; i >= 0; --i) value = (value << 16) | output(offset + i);
        return value;
    }
    uint16_t input(int offset) const override {
        return offset >= 0 && offset < 16 ? in[offset] : 0;
    }
    void setInput(int offset, uint16_t value) override {
        if (offset >= 0 && offset < 16) in[offset] = value;
    }
    void setInputBlock(int offset, uint64_t value) override {
        for (int i = 0; i < 4; ++i) setInput(offset + i, static_cast<uint16_t>(value >> (16 * i)));
    }

    // The master's 64-bit store of a whole block.
    void writeBlock(int offset, uint64_t value) {
        for (int i = 0; i < 4; ++i) out[offset + i] = static_cast<uint16_t>(value >> (16 * i));
    }
    uint64_t inputBlock(int offset) const {
        uint64_t value = 0;
        for (int i = 3; i >= 0; --i) value = (value << 16) | in[offset + i];
        return value;
    }

    std::array<uint16_t, 16> out{};
    std::array<uint16_t, 16> in{};
};

// Runs the unit for n cycles, numbering them as the line would.
class CycleDriver {
  public:
    CycleDriver(RemoteUnit& unit, StationPort& port) : unit_(unit), port_(port) {}
    void run(int cycles = 1) {
        for (int i = 0; i < cycles; ++i) {
            info_.cycle++;
            unit_.exchange(port_, info_);
        }
    }

  private:
    RemoteUnit& unit_;
    StationPort& port_;
    CycleInfo info_;
};

}  // namespace kalvo::sim::testing
