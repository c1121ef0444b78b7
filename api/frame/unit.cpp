#include "api/frame/unit.h"

#include <climits>
#include <string>

#include "api/frame/api_log.h"
#include "api/frame/board_manager.h"
#include "api/frame/unit_kind_table.h"
#include "platform/format.h"

namespace kalvo::api {

namespace {

// Board and line numbers count from 1 in a placement; any value, however
// large, must turn into an index without overflow, so that CheckInfo refuses
// it (INT32_MIN has no index; -1 is none).
int32_t indexOf(int32_t number) noexcept {
    return number > INT32_MIN ? number - 1 : -1;
}

// A base outside the line has no input station; CheckInfo refuses it.
int32_t inputStationOf(int32_t base) noexcept {
    return base >= 0 && base < kStationsPerLine ? base + kStationsPerLine : -1;
}

}  // namespace

Unit::Unit(const UnitPlacement& p, const BoardManager& boards)
    : boards_(boards),
      family_(p.family),
      unit_(p.unit),
      kind_(p.kind),
      board_(indexOf(p.board)),
      line_(indexOf(p.line)),
      base_(p.base),
      outStation_(p.base),
      inStation_(inputStationOf(p.base)) {
    offsets_.fill(-1);
    for (int i = 0; i < kMaxUnitOffsets && p.offsets[i] >= 0; ++i) {
        offsets_[i] = p.offsets[i];
        offsetCount_ = i + 1;
    }
    const UnitFamily* family = findFamily(family_);
    const char* familyName = family ? family->name : "";
    unitName_ = std::string(familyName) + "(" + std::to_string(unit_) + ")";
    if (family) {
        const UnitKind& kind = validatedKind(*family, kind_);
        kind_ = kind.code;
        kindName_ = kind.name;
    }

    if (apiLog().passes(kLogFrame | kLevelEnd)) {
        char head[256];
        platform::formatTo(head, "%s-%s: Board(%d)-Line(%d)-BaseId(%d)-UseId(%d): OffsetId(",
                           unitName_.c_str(), kindName_.c_str(), p.board, p.line, base_,
                           offsetCount_);
        std::string line = head;
        for (int i = 0; i < offsetCount_; ++i) {
            if (i) line += ',';
            line += std::to_string(offsets_[i]);
        }
        line += ')';
        apiLog().write(kLogFrame | kLevelEnd, line.c_str());
    }
}

bool Unit::CheckInfo() {
    if (!boards_.validLine(board_, line_)) return false;
    if (base_ < 0 || base_ >= kStationsPerLine) return false;
    if (offsetCount_ <= 0 || offsets_[0] < 0) return false;
    for (int i = 0; i < offsetCount_; ++i)
        if (offsets_[i] > 15) return false;
    timeOutTimes_ = boards_.timeOutTimes(board_, line_);
    return true;
}

int32_t Unit::GetCondition(int32_t* condition) const {
    // A failed read leaves the register 0: the station counts as absent. A
    // lost board says so; any other refusal keeps the plain 0.
    uint64_t reg = 0;
    const int32_t ret = boards_.getReg64(board_, line_, kConditionRegister, &reg);
    *condition = static_cast<int32_t>((reg >> (base_ + kStationsPerLine)) & 1);
    return ret == kRetBoardLost ? ret : kRetOk;
}

int32_t Unit::boardCheck() const {
    uint64_t reg = 0;
    return boards_.getReg64(board_, line_, kConditionRegister, &reg) == kRetBoardLost
               ? kRetBoardLost
               : kRetOk;
}

}  // namespace kalvo::api
