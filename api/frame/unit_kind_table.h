// The unit families and their kinds. A unit section's "Kind" text chooses a
// kind by name; a kind that does not belong to the unit's family is replaced
// by the family's first kind.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kalvo::api {

struct UnitKind {
    int32_t code;
    const char* name;
};

struct UnitFamily {
    int32_t code;
    const char* name;
    std::span<const UnitKind> kinds;  // the first is the family's default
};

inline constexpr int32_t kFamilyDio = 1;
inline constexpr int32_t kFamilyAda = 2;
inline constexpr int32_t kFamilyAxsa = 3;
inline constexpr int32_t kFamilyEnc = 4;
inline constexpr int32_t kFamilySio = 5;

// The five families in table order (DIO, ADA, AXSA, ENC, SIO).
std::span<const UnitFamily> unitFamilies() noexcept;
// Null for a code that is no family.
const UnitFamily* findFamily(int32_t familyCode) noexcept;
// The kind whose name equals the text without regard to case, searched over
// every family; -1 when there is none.
int32_t kindCodeByName(std::string_view name) noexcept;
// The kind itself when it is one of the family's kinds, else the family's
// first kind. The family must exist.
const UnitKind& validatedKind(const UnitFamily& family, int32_t kindCode) noexcept;

}  // namespace kalvo::api
