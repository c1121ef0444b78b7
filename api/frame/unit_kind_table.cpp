#include "api/frame/unit_kind_table.h"

#include <strings.h>

#include <array>

namespace kalvo::api {
namespace {

constexpr std::array<UnitKind, 1> kDioKinds{{{0x101, "DIO"}}};
constexpr std::array<UnitKind, 1> kAdaKinds{{{0x102, "ADA"}}};
constexpr std::array<UnitKind, 1> kAxsaKinds{{{0x103, "AXSA"}}};
constexpr std::array<UnitKind, 2> kEncKinds{{{0x204, "ENCA"}, {0x104, "ENC"}}};
constexpr std::array<UnitKind, 1> kSioKinds{{{0x105, "SIO"}}};

constexpr std::array<UnitFamily, 5> kFamilies{{
    {kFamilyDio, "DIO", kDioKinds},
    {kFamilyAda, "ADA", kAdaKinds},
    {kFamilyAxsa, "AXSA", kAxsaKinds},
    {kFamilyEnc, "ENC", kEncKinds},
    {kFamilySio, "SIO", kSioKinds},
}};

bool equalsNoCase(std::string_view a, const char* b) noexcept {
    const std::string_view bv(b);
    return a.size() == bv.size() && strncasecmp(a.data(), b, a.size()) == 0;
}

}  // namespace

std::span<const UnitFamily> unitFamilies() noexcept {
    return kFamilies;
}

const UnitFamily* findFamily(int32_t familyCode) noexcept {
    for (const auto& family : kFamilies)
        if (family.code == familyCode) return &family;
    return nullptr;
}

int32_t kindCodeByName(std::string_view name) noexcept {
    for (const auto& family : kFamilies)
        for (const auto& kind : family.kinds)
            if (equalsNoCase(name, kind.name)) return kind.code;
    return -1;
}

const UnitKind& validatedKind(const UnitFamily& family, int32_t kindCode) noexcept {
    for (const auto& kind : family.kinds)
        if (kind.code == kindCode) return kind;
    return family.kinds.front();
}

}  // namespace kalvo::api
