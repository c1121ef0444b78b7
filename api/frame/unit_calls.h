// The open, close and per-unit call pattern that every family's exports
// share: the unit number check (9), the slot lookup (2), the log lines.
#pragma once

#include <cstdint>
#include <memory>

#include "api/frame/api_library.h"
#include "api/frame/api_log.h"
#include "api/frame/unit_kind_table.h"

namespace kalvo::api {

// The family's log category and name, for the open/close lines.
struct FamilyCalls {
    int32_t code;
    const char* name;  // "DIO"
    LogType category;
};

using UnitFactory = std::unique_ptr<Unit> (*)(const UnitPlacement&, const BoardManager&);

// Open (placement == null: read from the unit section) or OpenEx.
int32_t openUnit(const FamilyCalls& family, int32_t unit, UnitPlacement* placement, bool ex,
                 UnitFactory make);
int32_t closeUnit(const FamilyCalls& family, int32_t unit);
// GetCondition with its call line.
int32_t unitCondition(const FamilyCalls& family, int32_t unit, int32_t* condition);

// Runs op(unit object) for an open unit: 9 for a unit number out of range,
// 2 for an empty slot (also while the library is not attached).
template <typename UnitT, typename Op>
int32_t withUnit(const FamilyCalls& family, int32_t unit, Op&& op) {
    if (unit < 1 || unit > kMaxUnitNumber) return kRetUnit;
    ApiLibrary* lib = library();
    Unit* object = lib ? lib->units.get(family.code, unit) : nullptr;
    if (!object) return kRetNotOpen;
    return op(static_cast<UnitT&>(*object));
}

}  // namespace kalvo::api
