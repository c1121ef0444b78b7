// An analog I/O unit: up to 16 channels, each one 16-bit input word (at the
// unit's input station, base + 32) and one 16-bit output word (at its output
// station, base), both at the channel's word offset.
//
// In data mode the words carry 12-bit values. The same words form the unit's
// command channel: the master puts a command code into the top three bits of
// the output word (a 12-bit parameter below it), the unit answers with the
// same code in the top three bits of the input word and its reply below, the
// master restores the output word and the unit goes back to data mode (top
// three bits 0 on the input word). A named lock per channel
// ("KVADA(1)Smph00" for channel 1) keeps one command sequence or output write
// at a time on a channel, across threads and processes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "api/frame/named_semaphore.h"
#include "api/frame/unit.h"

namespace kalvo::api {

// Command codes: the full 16-bit word with the code in bits 15-13.
inline constexpr int32_t kAdaSetFilter = 0x8000;
inline constexpr int32_t kAdaGetFilter = 0x4000;  // also the input range
inline constexpr int32_t kAdaGetOutRange = 0x6000;
inline constexpr int32_t kAdaGetVersion = 0xE000;
inline constexpr int32_t kAdaDataMode = 0;

class AdaUnit final : public Unit {
  public:
    AdaUnit(const UnitPlacement& placement, const BoardManager& boards);
    ~AdaUnit() override;

    int32_t Open() override;
    void Close() override;
    bool CheckInfo() override;

    int32_t channelCount() const noexcept { return channelCount_; }

    // Channels are 1-based; another number gives 3 without touching a lock.
    // A word the board library refuses passes its code on and leaves the
    // caller's variable as it was.
    int32_t inWord(int32_t channel, uint16_t* word) const;   // input word
    int32_t outWord(int32_t channel, uint16_t* word) const;  // output word read back
    // Writes the word under the channel lock.
    int32_t writeOutput(int32_t channel, uint16_t word);

    // The command sequence: keep the output word, put the command, wait for
    // the reply, restore the output word, wait for data mode. 0, 3, 0x11
    // (no reply or no return to data mode within timeout multiplier x 200 ms
    // each), or a board library code. *reply gets the reply word as soon as
    // it arrived, also when the return to data mode then times out. When the
    // output word cannot be kept (read) no command is sent, and the sequence
    // still ends with its End line, as every sequence that began does.
    int32_t command(int32_t channel, int32_t code, int32_t parameter, uint16_t* reply);

    static std::unique_ptr<Unit> make(const UnitPlacement& placement, const BoardManager& boards);

  private:
    bool validChannel(int32_t channel) const noexcept {
        return channel >= 1 && channel <= channelCount_;
    }
    // Polls the channel's input word every 1 ms until its top three bits
    // equal code: 0 with the word in *word, 0x11 after the time limit, or the
    // code of a read the board library refused.
    int32_t waitReply(int32_t channel, uint16_t code, uint16_t* word) const;

    int32_t channelCount_ = 0;
    std::array<NamedSemaphore, kMaxUnitOffsets> locks_;
    int32_t locksOpen_ = 0;  // locks created, channels 1..locksOpen_
};

}  // namespace kalvo::api
