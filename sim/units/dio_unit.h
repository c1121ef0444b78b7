// A digital I/O unit: for each configured word offset one output word (what
// the master writes) and one input word (what the master reads). The inputs
// are wired to the outputs, as a test plug on the terminals would do, until a
// user sets an input explicitly.
#pragma once

#include <array>
#include <mutex>

#include "sim/units/remote_unit.h"

namespace kalvo::sim::units {

class DioUnit final : public RemoteUnit {
  public:
    explicit DioUnit(std::vector<int> offsets);

    std::string_view family() const override { return "DIO"; }
    const std::vector<int>& offsets() const override { return offsets_; }
    void exchange(StationPort& port, const CycleInfo& cycle) override;
    void communicationLost() override;
    std::string describe() const override;
    // "input <offset> <value>": the input word holds value from now on;
    // "wire <offset>": the input follows the output word again.
    std::string control(const std::vector<std::string>& words) override;
    std::string help() const override;

  private:
    struct Word {
        uint16_t output = 0;  // last seen from the master
        uint16_t input = 0;   // last written for the master
        bool forced = false;  // input set by the user, not wired
        uint16_t forcedValue = 0;
    };
    // Index into words_ of a configured offset, or -1.
    int indexOf(int offset) const;

    const std::vector<int> offsets_;
    mutable std::mutex mutex_;
    std::array<Word, 16> words_{};
};

}  // namespace kalvo::sim::units
