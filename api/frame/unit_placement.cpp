#include "api/frame/unit_placement.h"

#include "api/configfiles/kalvo_ini_reader.h"
#include "api/frame/unit_kind_table.h"

namespace kalvo::api {

UnitPlacement readPlacement(const std::string& iniFile, int32_t familyCode, int32_t unit) {
    UnitPlacement p{};
    p.family = familyCode;
    p.unit = unit;
    const UnitFamily* family = findFamily(familyCode);
    const auto section = configfiles::readUnitSection(iniFile, family ? family->name : "", unit);
    p.kind = kindCodeByName(section.kind);
    p.board = section.board;
    p.line = section.line;
    p.base = section.base;
    for (int i = 0; i < kMaxUnitOffsets; ++i) p.offsets[i] = section.offsets.offsets[i];
    return p;
}

}  // namespace kalvo::api
