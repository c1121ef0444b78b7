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
    if (!CheckInfo()) return KALVO_ERR_UNIT;
    const std::string name = "KV" + unitName() + "Smph";
    if (!outputLock_.create(name)) {
        apiLog().writef(kLogDio | kLevelFailure, "%s: CreateSemaphore: NG: Name(%s)",
                        unitName().c_str(), name.c_str());
        return KALVO_ERR_SEMAPHORE;
    }
    lockOpen_ = true;
    apiLog().writef(kLogDio | kLevelStep, "%s: CreateSemaphore: OK: Name(%s)", unitName().c_str(),
                    name.c_str());
    return KALVO_OK;
}

void DioUnit::Close() {
    if (!lockOpen_) return;
    apiLog().writef(kLogDio | kLevelStep, "%s: DestorySemaphore", unitName().c_str());
    outputLock_.close();
    lockOpen_ = false;
}

int32_t DioUnit::inOData(uint16_t* data) const {
    return readWord(outputStation(), data);
}

int32_t DioUnit::inDataBit(int32_t bitNo, int32_t* bit) const {
    if (bitNo < 0 || bitNo > 15) return KALVO_ERR_ARGUMENT;
    uint16_t word = 0;
    if (int32_t ret = readWord(inputStation(), &word)) return ret;
    *bit = (word >> bitNo) & 1;
    return KALVO_OK;
}

int32_t DioUnit::inODataBit(int32_t bitNo, int32_t* bit) const {
    if (bitNo < 0 || bitNo > 15) return KALVO_ERR_ARGUMENT;
    uint16_t word = 0;
    if (int32_t ret = readWord(outputStation(), &word)) return ret;
    *bit = (word >> bitNo) & 1;
    return KALVO_OK;
}

int32_t DioUnit::outDataBit(int32_t bitNo, int32_t bit) {
    if (bitNo < 0 || bitNo > 15) return KALVO_ERR_ARGUMENT;
    SemaphoreHold hold(outputLock_);
    uint16_t word = 0;
    if (int32_t ret = readWord(outputStation(), &word)) return ret;
    const auto mask = static_cast<uint16_t>(1u << bitNo);
    word = bit ? static_cast<uint16_t>(word | mask) : static_cast<uint16_t>(word & ~mask);
    return writeWord(word);
}

}  // namespace kalvo::api
