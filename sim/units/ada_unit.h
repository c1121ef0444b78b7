// An analog I/O unit. Each channel is one output word and one input word
// carrying 12-bit values (bits 11-0) in data mode. The same words form a
// command channel: when the master puts a code into the top three bits of the
// output word, the unit answers once with that code in the top three bits of
// the input word and a reply in the lower bits; when the output word's top
// bits are 0 again, the input word returns to data mode.
//
// Codes:  0x8000 store the filter (bits 7-5), max-min (bit 4) and sample
//                (bits 3-0) codes from the parameter; answers 0x8000.
//         0x4000 answers the stored codes | input range << 8.
//         0x6000 answers the output range << 8.
//         0xE000 answers the unit's version (0x0103).
// Any other code gets no answer (the master times out) and the input word
// keeps what it showed.
#pragma once

#include <array>
#include <mutex>

#include "sim/units/remote_unit.h"

namespace kalvo::sim::units {

class AdaUnit final : public RemoteUnit {
  public:
    static constexpr uint16_t kVersion = 0x0103;

    explicit AdaUnit(std::vector<int> offsets);

    std::string_view family() const override { return "ADA"; }
    const std::vector<int>& offsets() const override { return offsets_; }
    void exchange(StationPort& port, const CycleInfo& cycle) override;
    void communicationLost() override;
    std::string describe() const override;
    std::string control(const std::vector<std::string>& words) override;
    std::string help() const override;

  private:
    struct Channel {
        uint16_t output = 0;       // last output word seen
        uint16_t input = 0;        // last input word written
        uint16_t commandWord = 0;  // the command word answered (0 in data mode)
        bool inCommand = false;    // the input word shows a reply or is frozen
        bool forced = false;       // data-mode input set by the user
        uint16_t forcedValue = 0;
        bool stuck = false;      // fault: never returns to data mode
        uint8_t parameters = 0;  // filter | max-min | sample codes
        uint8_t inRange = 1;
        uint8_t outRange = 1;
    };
    // The answer to a new command word; false when the code has none.
    bool answer(Channel& channel, uint16_t command, uint16_t* reply) const;

    const std::vector<int> offsets_;
    mutable std::mutex mutex_;
    std::array<Channel, 16> channels_{};
};

}  // namespace kalvo::sim::units
