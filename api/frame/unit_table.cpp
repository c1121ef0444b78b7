#include "api/frame/unit_table.h"

namespace kalvo::api {

Unit* UnitTable::put(std::unique_ptr<Unit> object) {
    auto& slot = slots_[object->family()][object->unitNumber() - 1];
    slot = std::move(object);
    return slot.get();
}

std::unique_ptr<Unit> UnitTable::take(int32_t family, int32_t unit) noexcept {
    if (!inRange(family, unit)) return nullptr;
    return std::move(slots_[family][unit - 1]);
}

void UnitTable::clear() noexcept {
    for (auto& row : slots_)
        for (auto& slot : row) slot.reset();
}

}  // namespace kalvo::api
