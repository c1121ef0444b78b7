// The open units of this process: one row per family code (0-5), 1024
// slots per row, slot n - 1 holding unit n. The table owns the objects.
// It is not locked: one unit number must not be opened or closed from two
// threads at once (the application's part of the contract).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "api/frame/unit.h"

namespace kalvo::api {

class UnitTable {
  public:
    static constexpr int32_t kRows = 6;

    // Null for an empty slot or a family or unit number out of range.
    Unit* get(int32_t family, int32_t unit) const noexcept {
        return inRange(family, unit) ? slots_[family][unit - 1].get() : nullptr;
    }
    // Puts the object in its slot (which must be empty) and returns it.
    Unit* put(std::unique_ptr<Unit> object);
    // Takes the object out of its slot; null when empty.
    std::unique_ptr<Unit> take(int32_t family, int32_t unit) noexcept;
    // Destroys every object (each family's destructor closes its unit).
    void clear() noexcept;

  private:
    static bool inRange(int32_t family, int32_t unit) noexcept {
        return family >= 0 && family < kRows && unit >= 1 && unit <= kMaxUnitNumber;
    }
    std::array<std::array<std::unique_ptr<Unit>, kMaxUnitNumber>, kRows> slots_;
};

}  // namespace kalvo::api
