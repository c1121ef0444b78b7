// A digital I/O unit: one 16-bit input word and one 16-bit output word, both
// at the first word offset of the unit's placement (input station base + 32,
// output station base). A named lock per unit ("KVDIO(1)Smph") makes every
// change of the output word a read-modify-write that no other thread or
// process can interleave.
#pragma once

#include <cstdint>
#include <memory>

#include "api/frame/board_manager.h"
#include "api/frame/named_semaphore.h"
#include "api/frame/unit.h"

namespace kalvo::api {

class DioUnit final : public Unit {
  public:
    DioUnit(const UnitPlacement& placement, const BoardManager& boards);
    ~DioUnit() override;

    int32_t Open() override;
    void Close() override;

    // Reads report 0 and leave the caller's variable unchanged when the board
    // library refuses; a refusal's code is passed on (see dio_unit.cpp).
    // (InData and OutData, the calls of every cycle, are inline here.)
    int32_t inData(uint16_t* data) const { return readWord(inputStation(), data); }
    int32_t inOData(uint16_t* data) const;
    int32_t outData(int32_t data) {
        SemaphoreHold hold(outputLock_);
        return writeWord(static_cast<uint16_t>(data));
    }
    int32_t inDataBit(int32_t bitNo, int32_t* bit) const;
    int32_t inODataBit(int32_t bitNo, int32_t* bit) const;
    int32_t outDataBit(int32_t bitNo, int32_t bit);

    static std::unique_ptr<Unit> make(const UnitPlacement& placement, const BoardManager& boards);

  private:
    // The board library refuses a word only when the placement reaches past
    // the GM area (an input word of a unit high on the line with a large
    // offset). Such a refusal is passed on rather than reported as a
    // successful read of a word that was never read; a word that was read
    // reports 0 whatever the line is doing.
    int32_t readWord(int32_t station, uint16_t* word) const {
        return boards_.getMemShort(boardIndex(), lineIndex(), word, station, offset(0), 1);
    }
    int32_t writeWord(uint16_t word) {
        return boards_.setMemShort(boardIndex(), lineIndex(), &word, outputStation(), offset(0), 1);
    }

    NamedSemaphore outputLock_;
    bool lockOpen_ = false;
};

}  // namespace kalvo::api
