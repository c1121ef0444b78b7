// The base of every unit object: where the unit sits (board, line, station
// and word offsets), its names, and the operations every family shares.
//
// A unit at station address b owns output block b of the GM area (what the
// master writes to it) and input block b + 32 (what it answers); its word
// offsets count 16-bit words from the start of those blocks.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "api/frame/unit_placement.h"
#include "api/frame/unit_wait.h"
#include "driver/requests/chip_registers.h"

namespace kalvo::api {

class BoardManager;

inline constexpr int32_t kMaxUnitNumber = 1024;
inline constexpr int32_t kStationsPerLine = 32;
// The chip's station condition register: bit s is set while station block s
// answers on the line (the units' input blocks are 32 to 63).
inline constexpr int32_t kConditionRegister = int32_t(chipmap::kConditionRegister);

class Unit {
  public:
    // Takes the placement as given; the kind is replaced by the family's
    // first kind when it is not one of the family's. Logs the placement.
    Unit(const UnitPlacement& placement, const BoardManager& boards);
    virtual ~Unit() = default;
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    // Creates the unit's named objects and buffers; a return code.
    virtual int32_t Open() = 0;
    // Releases them; safe to call more than once.
    virtual void Close() = 0;
    // True when the placement names a line of a configured board, a base
    // of 0-31 and 1 to 16 offsets of at most 15; copies the line's timeout
    // multiplier. Families add their own checks.
    virtual bool CheckInfo();

    // 1 when the unit's station answers on its line, else 0. 0, or -1 with
    // the condition 0 when the board is lost (its device host is gone).
    int32_t GetCondition(int32_t* condition) const;
    // A wait for the unit asks this at each step: 0 while the board answers
    // the library, -1 once it is lost, so that no wait outlasts its board.
    int32_t boardCheck() const;

    int32_t family() const noexcept { return family_; }
    int32_t unitNumber() const noexcept { return unit_; }
    int32_t kind() const noexcept { return kind_; }
    int32_t boardIndex() const noexcept { return board_; }
    int32_t lineIndex() const noexcept { return line_; }
    int32_t base() const noexcept { return base_; }
    int32_t offset(int i) const noexcept { return offsets_[i]; }
    int32_t offsetCount() const noexcept { return offsetCount_; }
    int32_t outputStation() const noexcept { return outStation_; }
    int32_t inputStation() const noexcept { return inStation_; }
    const std::string& unitName() const noexcept { return unitName_; }
    const std::string& kindName() const noexcept { return kindName_; }
    int32_t timeOutTimes() const noexcept { return timeOutTimes_; }
    // The time limit of a wait for the unit: perUnitMs times the timeout
    // multiplier, bounded as every family's waits are (unit_wait.h).
    uint32_t waitLimitMs(uint32_t perUnitMs) const noexcept {
        return ::kalvo::api::waitLimitMs(timeOutTimes_, perUnitMs);
    }

  protected:
    const BoardManager& boards_;

  private:
    int32_t family_;
    int32_t unit_;
    int32_t kind_;
    int32_t board_;
    int32_t line_;
    int32_t base_;
    std::array<int32_t, kMaxUnitOffsets> offsets_;
    int32_t offsetCount_ = 0;
    int32_t outStation_;
    int32_t inStation_;
    std::string unitName_;
    std::string kindName_;
    int32_t timeOutTimes_ = 1;
};

}  // namespace kalvo::api
