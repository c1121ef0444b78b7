// An axis controller unit driven by command and answer. Each axis is a job
// (1-based) that owns four consecutive word offsets, the first a multiple of
// 4, so the job's output words form one 8-byte GM block:
//
//   word 0  bits 15-14 pair code, bits 13-0 command (function in bits 12-8)
//   word 1  bits 15-14 pair code, bits 13-0 parameter 1
//   word 2  bits 15-14 pair code, bits 13-0 parameter 2
//   word 3  0
//
// written with one 64-bit store, so the unit never sees half a command. The
// unit answers in the job's input words: a status word (bits 3-2 the pair
// code it answers) and a 28-bit data value split over two words (bits 15-14
// the pair code, bits 13-0 data bits 27-14 and 13-0).
//
// The 2-bit pair code ties an answer to its command: every command advances
// the job's code 1, 2, 3, 1, ... and only words carrying the expected code are
// taken. The codes live in a named map ("AXSA(1)PairMap", one i32 per job)
// so that every process driving the unit advances the same counter; a named
// lock per job ("AXSA(1)Smph00") keeps one command or answer read at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "api/frame/named_semaphore.h"
#include "api/frame/shared_map.h"
#include "api/frame/unit.h"

namespace kalvo::api {

inline constexpr int32_t kMaxAxsaJobs = kMaxUnitOffsets / 4;

// The answer of a job: status word and sign-extended 28-bit data.
struct AxsaAnswer {
    uint16_t status = 0;
    int32_t data = 0;
};

class AxsaUnit final : public Unit {
  public:
    AxsaUnit(const UnitPlacement& placement, const BoardManager& boards);
    ~AxsaUnit() override;

    int32_t Open() override;
    void Close() override;
    bool CheckInfo() override;

    int32_t jobCount() const noexcept { return jobCount_; }
    bool validJob(int32_t job) const noexcept { return job >= 1 && job <= jobCount_; }

    // The calls; the job must be valid. Each holds the job lock for its work.
    // Out-values are written only where the call's code says they are valid.
    int32_t putCmd(int32_t job, int32_t command, int32_t parameter1, int32_t parameter2);
    int32_t putForm(int32_t job, int32_t command, int32_t function, int32_t parameter);
    // Status answering the job's latest command: 0 or 0x20.
    int32_t answer(int32_t job, uint16_t* status);
    // Status and data answering the latest command: 0 or 0x20.
    int32_t answerWith(int32_t job, AxsaAnswer* answer);
    // Status and data sent outside a command (pair code 0): 0, 0x21 (data
    // words disagree), 0x22 (status word of a command), 0x20 (both).
    int32_t getStatus(int32_t job, AxsaAnswer* answer);
    // Sends the command with a function code and a 28-bit parameter and waits
    // up to timeout multiplier x 200 ms for its answer: 0 or 0x11.
    int32_t putCmdEx(int32_t job, int32_t command, int32_t function, int32_t parameter,
                     AxsaAnswer* answer);

    // The pair code an answer to this command carries: 0 for the commands
    // the unit answers outside the pair sequence, else the code just sent.
    static int32_t expectedPair(int32_t command, int32_t function, int32_t sentPair) noexcept;
    // Bits 13-0 of the high and low data words as one signed 28-bit value.
    static int32_t jobData(uint16_t high, uint16_t low) noexcept;

    static std::unique_ptr<Unit> make(const UnitPlacement& placement, const BoardManager& boards);

  private:
    // Advances the job's pair code, writes the command block; the pair code
    // sent (1-3) in *pair. 0 or the board library's code.
    int32_t putCommand(int32_t job, int32_t command, int32_t parameter1, int32_t parameter2,
                       int32_t* pair);
    // Compare the answer words with the expected pair: 0, 0x20, or the code
    // of a read the board library refused.
    int32_t getReply(int32_t job, int32_t pair, uint16_t* status) const;
    int32_t getData(int32_t job, int32_t pair, int32_t* data) const;
    int32_t currentPair(int32_t job) const noexcept;
    // At the map's creation: each job's counter from its output block.
    void seedPairs();
    int32_t firstOffset(int32_t job) const noexcept { return offset(4 * (job - 1)); }

    int32_t jobCount_ = 0;
    std::array<NamedSemaphore, kMaxAxsaJobs> locks_;
    int32_t locksOpen_ = 0;
    SharedMap pairMap_;
    int32_t* pairs_ = nullptr;  // jobCount_ counters in the shared map
};

}  // namespace kalvo::api
