#include "api/dio/dio_unit.h"

#include "api/frame/api_log.h"
#include "api/frame/board_manager.h"

namespace kalvo::api {

DioUnit::DioUnit(const UnitPlacement& placement, const BoardManager& boards)
    : Unit(placement, boards) {}

DioUnit::~DioUnit() {
    Close();
}

std::unique_ptr<Unit> DioUnit::make(const UnitPlacement& placement, const BoardManager& boards) {
    return std::make_unique<DioUnit>(placement, boards);
}

int32_t DioUnit::Open() {
    if (!CheckInfo()) return kRetUnit;
    const std::string name = "KV" + unitName() + "Smph";
    if (!outputLock_.create(name)) {
        apiLog().writef(kLogDio | kLevelFailure, "%s: CreateSemaphore: NG: Name(%s)",
                        unitName().c_str(), name.c_str());
        return kRetSemaphore;
    }
    lockOpen_ = true;
    apiLog().writef(kLogDio | kLevelStep, "%s: CreateSemaphore: OK: Name(%s)", unitName().c_str(),
                    name.c_str());
    return kRetOk;
}

void DioUnit::Close() {
    if (!lockOpen_) return;
    apiLog().writef(kLogDio | kLevelStep, "%s: DestorySemaphore", unitName().c_str());
    outputLock_.close();
    lockOpen_ = false;
}

// The board library refuses a word only when the placement reaches past the
// GM area (an input word of a unit high on the line with a large offset).
// Such a refusal is passed on rather than reported as a successful read of a
// word that was never read; a word that was read reports 0 whatever the line
// is doing.
int32_t DioUnit::readWord(int32_t station, uint16_t* word) const {
    return boards_.getMemShort(boardIndex(), lineIndex(), word, station, offset(0), 1);
}

int32_t DioUnit::writeWord(uint16_t word) {
    return boards_.setMemShort(boardIndex(), lineIndex(), &word, outputStation(), offset(0), 1);
}

int32_t DioUnit::inData(uint16_t* data) const {
    return readWord(inputStation(), data);
}

int32_t DioUnit::inOData(uint16_t* data) const {
    return readWord(outputStation(), data);
}

int32_t DioUnit::outData(int32_t data) {
    SemaphoreHold hold(outputLock_);
    return writeWord(static_cast<uint16_t>(data));
}

int32_t DioUnit::inDataBit(int32_t bitNo, int32_t* bit) const {
    if (bitNo < 0 || bitNo > 15) return kRetArgument;
    uint16_t word = 0;
    if (int32_t ret = readWord(inputStation(), &word)) return ret;
    *bit = (word >> bitNo) & 1;
    return kRetOk;
}

int32_t DioUnit::inODataBit(int32_t bitNo, int32_t* bit) const {
    if (bitNo < 0 || bitNo > 15) return kRetArgument;
    uint16_t word = 0;
    if (int32_t ret = readWord(outputStation(), &word)) return ret;
    *bit = (word >> bitNo) & 1;
    return kRetOk;
}

int32_t DioUnit::outDataBit(int32_t bitNo, int32_t bit) {
    if (bitNo < 0 || bitNo > 15) return kRetArgument;
    SemaphoreHold hold(outputLock_);
    uint16_t word = 0;
    if (int32_t ret = readWord(outputStation(), &word)) return ret;
    const auto mask = static_cast<uint16_t>(1u << bitNo);
    word = bit ? static_cast<uint16_t>(word | mask) : static_cast<uint16_t>(word & ~mask);
    return writeWord(word);
}

}  // namespace kalvo::api
