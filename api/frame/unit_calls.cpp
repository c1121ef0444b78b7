#include "api/frame/unit_calls.h"

namespace kalvo::api {

int32_t openUnit(const FamilyCalls& family, int32_t unit, UnitPlacement* placement, bool ex,
                 UnitFactory make) {
    const char* call = ex ? "OpenEx" : "Open";
    if (ex && placement) {
        // The record names its family on return, whatever the outcome.
        placement->family = family.code;
        unit = placement->unit;
    }
    apiLog().writef(family.category | kLevelCall, "%s(%d)--- KV_%s_%s", family.name, unit,
                    family.name, call);

    ApiLibrary* lib = library();
    int32_t ret = kRetOk;
    if (!lib || !lib->startedUp) {
        ret = kRetStartup;
    } else if (unit < 1 || unit > kMaxUnitNumber || (ex && !placement)) {
        ret = kRetUnit;
    } else if (lib->units.get(family.code, unit)) {
        ret = kRetAlreadyOpen;
    } else {
        UnitPlacement p = ex ? *placement : readPlacement(lib->iniFile, family.code, unit);
        p.family = family.code;
        p.unit = unit;
        Unit* object = lib->units.put(make(p, lib->boards));
        ret = object->Open();
        if (ret != kRetOk) {
            object->Close();
            lib->units.take(family.code, unit);  // destroys it
        }
    }
    apiLog().writef(family.category | kLevelEnd, "%s(%d) KV_%s_%s End: Ret(%xh)", family.name, unit,
                    family.name, call, ret);
    return ret;
}

int32_t closeUnit(const FamilyCalls& family, int32_t unit) {
    apiLog().writef(family.category | kLevelCall, "%s(%d)--- KV_%s_Close", family.name, unit,
                    family.name);
    int32_t ret = kRetOk;
    ApiLibrary* lib = library();
    if (unit < 1 || unit > kMaxUnitNumber) {
        ret = kRetUnit;
    } else if (auto object = lib ? lib->units.take(family.code, unit) : nullptr) {
        object->Close();
    } else {
        ret = kRetNotOpen;
    }
    apiLog().writef(family.category | kLevelEnd, "%s(%d) KV_%s_Close End: Ret(%xh)", family.name,
                    unit, family.name, ret);
    return ret;
}

int32_t unitCondition(const FamilyCalls& family, int32_t unit, int32_t* condition) {
    int32_t value = 0;
    int32_t ret = withUnit<Unit>(family, unit, [&](Unit& u) {
        if (!condition) return kRetArgument;
        const int32_t asked = u.GetCondition(&value);  // 0, or -1 for a lost board
        *condition = value;
        return asked;
    });
    apiLog().writef(family.category | kLevelCall,
                    "%s(%d) KV_%s_GetCondition: Condition(%xh): Ret(%xh)", family.name, unit,
                    family.name, value, ret);
    return ret;
}

}  // namespace kalvo::api
