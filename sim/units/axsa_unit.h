// An axis controller unit. Each job (axis) owns four consecutive words in each
// direction. The master writes a command block as one 64-bit store:
//
//   word 0  bits 15-14 pair code, bits 12-8 function, bits 7-0 command
//   word 1  bits 15-14 pair code, bits 13-0 parameter bits 27-14
//   word 2  bits 15-14 pair code, bits 13-0 parameter bits 13-0
//   word 3  0
//
// and reads the answer from its input words: the status word (bits 3-2 the
// pair code it answers) and the 28-bit data value in two words (bits 15-14
// the pair code, bits 13-0 data bits 27-14 and 13-0).
//
// A block whose three words carry the same non-zero pair code, different from
// the last one executed, is a new command: executed once, answered with its
// pair code while the block stays. A block whose words disagree is being
// written and is not taken. Status-type commands (see isPairZeroAnswer) are
// answered with pair 0, as the master expects. While the output block carries
// pair 0 (no command, e.g. after a line reset) the unit shows the status with
// pair 0 and the current position.
//
// The axis model moves the position toward the target by the speed (units per
// cycle) every cycle. Commands (the 28-bit parameter is signed):
//   'T' 0x54  move to the parameter            data: the target
//   'V' 0x56  set the speed (1..0x7FFFFFF)     data: the speed
//   'S' 0x53  stop where the axis is           data: the position
//   'H' 0x48  set the position (homing)        data: the position
//   'P' 0x50  read the position                data: the position
//   'R' 0x52  read parameter <function>        data: its value
//   'W' 0x57  write parameter <function>       data: the new value
//   '?' 0x3F  query <function>: 0 position, 1 target, 2 speed, 3 status,
//             other: parameter <function>      (answered with pair 0)
// Status bits: 0 in position, 1 moving, 3-2 pair code, 4 command refused
// (unknown command or bad parameter; data 0).
#pragma once

#include <array>
#include <mutex>

#include "sim/units/remote_unit.h"

namespace kalvo::sim::units {

class AxsaUnit final : public RemoteUnit {
  public:
    static constexpr int32_t kDefaultSpeed = 100;
    static constexpr int32_t kMaxValue = (1 << 27) - 1;
    static constexpr int32_t kMinValue = -(1 << 27);

    explicit AxsaUnit(std::vector<int> offsets);

    std::string_view family() const override { return "AXSA"; }
    const std::vector<int>& offsets() const override { return offsets_; }
    void exchange(StationPort& port, const CycleInfo& cycle) override;
    void communicationLost() override;
    std::string describe() const override;
    std::string control(const std::vector<std::string>& words) override;
    std::string help() const override;

    // The commands the master waits on with pair code 0.
    static bool isPairZeroAnswer(uint8_t command, uint8_t function);

  private:
    struct Job {
        uint8_t lastPair = 0;  // pair code of the command in force, 0 for none
        uint8_t answerPair = 0;
        bool refused = false;
        int32_t answerData = 0;
        uint16_t lastCommand = 0;  // word 0 of the command in force
        uint64_t block = 0;        // the output block last seen
        int32_t position = 0;
        int32_t target = 0;
        int32_t speed = kDefaultSpeed;
        std::array<int32_t, 32> parameters{};
    };
    void execute(Job& job, uint16_t command, int32_t value);
    static uint16_t status(const Job& job, uint8_t pair);
    int jobCount() const { return static_cast<int>(offsets_.size() / 4); }

    const std::vector<int> offsets_;
    mutable std::mutex mutex_;
    std::array<Job, 4> jobs_{};
};

}  // namespace kalvo::sim::units
