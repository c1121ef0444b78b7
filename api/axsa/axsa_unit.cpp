#include "api/axsa/axsa_unit.h"

#include <atomic>
#include <cstdio>

#include "api/frame/api_log.h"
#include "api/frame/board_manager.h"

namespace kalvo::api {
namespace {

constexpr LogType kAxsaStep = kLogAxsa | kLevelStep;
constexpr LogType kAxsaProtocol = kLogAxsa | kLevelProtocol;
constexpr uint32_t kAnswerWaitMs = 200;  // times the line's "TimeOutTimes"

int32_t pairOfDataWord(uint16_t word) noexcept {
    return word >> 14;
}

}  // namespace

AxsaUnit::AxsaUnit(const UnitPlacement& placement, const BoardManager& boards)
    : Unit(placement, boards) {}

AxsaUnit::~AxsaUnit() {
    Close();
}

std::unique_ptr<Unit> AxsaUnit::make(const UnitPlacement& placement, const BoardManager& boards) {
    return std::make_unique<AxsaUnit>(placement, boards);
}

bool AxsaUnit::CheckInfo() {
    if (!Unit::CheckInfo()) return false;
    jobCount_ = offsetCount() / 4;
    apiLog().writef(kAxsaStep, "%s: CheckInfo: MaxJNo(%d)", unitName().c_str(), jobCount_);
    if (jobCount_ <= 0) return false;
    // Each job's words must form one 8-byte block for the command store.
    for (int32_t j = 1; j <= jobCount_; ++j)
        if (firstOffset(j) % 4 != 0) return false;
    return true;
}

int32_t AxsaUnit::Open() {
    if (!CheckInfo()) return KALVO_ERR_UNIT;
    char name[64];
    for (int32_t j = 1; j <= jobCount_; ++j) {
        std::snprintf(name, sizeof name, "%sSmph%02d", unitName().c_str(), j - 1);
        if (!locks_[j - 1].create(name)) {
            apiLog().writef(kLogAxsa | kLevelFailure, "%s: CreateSemaphore: NG: JNo(%d)-Name(%s)",
                            unitName().c_str(), j, name);
            return KALVO_ERR_SEMAPHORE;
        }
        locksOpen_ = j;
        apiLog().writef(kAxsaStep, "%s: CreateSemaphore: OK: JNo(%d)-Name(%s)", unitName().c_str(),
                        j, name);
    }
    const std::string mapName = unitName() + "PairMap";
    const auto size = static_cast<int32_t>(jobCount_ * sizeof(int32_t));
    if (!pairMap_.create(mapName, static_cast<size_t>(size))) {
        apiLog().writef(kLogAxsa | kLevelFailure, "%s: CreateMap: NG: Name(%s)-Size(%d)",
                        unitName().c_str(), mapName.c_str(), size);
        return KALVO_ERR_MAP;
    }
    pairs_ = static_cast<int32_t*>(pairMap_.view());
    if (pairMap_.createdFirst()) seedPairs();
    apiLog().writef(kAxsaStep, "%s: CreateMap: OK: Name(%s)-Size(%d)", unitName().c_str(),
                    mapName.c_str(), size);
    return KALVO_OK;
}

void AxsaUnit::Close() {
    if (pairMap_.valid()) {
        apiLog().writef(kAxsaStep, "%s: DestoryMap", unitName().c_str());
        pairs_ = nullptr;
        pairMap_.destroy();
    }
    for (int32_t j = 1; j <= locksOpen_; ++j) {
        apiLog().writef(kAxsaStep, "%s: DestorySemaphore: JNo(%d)", unitName().c_str(), j);
        locks_[j - 1].close();
    }
    locksOpen_ = 0;
}

// A fresh map starts every counter at 0, but the unit remembers the pair of
// the last block it took and ignores a block that carries it again: after
// the last holder closed and a new one opened, the first command would
// carry pair 1 again, be ignored, and the answer to the old command would
// be taken for its own. So the counter starts from the pair standing in the
// job's output block, read under the job lock (a process that opened
// meanwhile may already be commanding). An unreadable block leaves 0.
void AxsaUnit::seedPairs() {
    for (int32_t j = 1; j <= jobCount_; ++j) {
        SemaphoreHold hold(locks_[j - 1]);
        uint64_t block = 0;
        if (boards_.getMemDLong(boardIndex(), lineIndex(), &block, outputStation(),
                                firstOffset(j) / 4, 1) != KALVO_OK)
            continue;
        std::atomic_ref<int32_t>(pairs_[j - 1])
            .store(static_cast<int32_t>((block >> 14) & 3), std::memory_order_relaxed);
    }
}

// The counters are shared with other processes; they are changed only under
// the job lock, the atomic access keeps each load and store whole.
int32_t AxsaUnit::currentPair(int32_t job) const noexcept {
    return std::atomic_ref<int32_t>(pairs_[job - 1]).load(std::memory_order_relaxed);
}

int32_t AxsaUnit::expectedPair(int32_t command, int32_t function, int32_t sentPair) noexcept {
    const auto f = static_cast<uint16_t>(function);
    switch (command) {
        case 0x21:  // ! " # $ / < = > ? L M N O }
        case 0x22:
        case 0x23:
        case 0x24:
        case 0x2F:
        case 0x3C:
        case 0x3D:
        case 0x3E:
        case 0x3F:
        case 0x4C:
        case 0x4D:
        case 0x4E:
        case 0x4F:
        case 0x7D:
            return f < 28 ? 0 : sentPair;
        case 0x46:  // F
            return f == 3 ? 0 : sentPair;
        default:
            return sentPair;
    }
}

int32_t AxsaUnit::jobData(uint16_t high, uint16_t low) noexcept {
    const uint32_t bits = (uint32_t{high & 0x3FFFu} << 14) | (low & 0x3FFFu);
    return (bits & 0x08000000u) ? static_cast<int32_t>(bits | 0xF0000000u)
                                : static_cast<int32_t>(bits);
}

int32_t AxsaUnit::putCommand(int32_t job, int32_t command, int32_t parameter1, int32_t parameter2,
                             int32_t* pair) {
    const char* unit = unitName().c_str();
    std::atomic_ref<int32_t> counter(pairs_[job - 1]);
    int32_t next = counter.load(std::memory_order_relaxed) + 1;
    if (next >= 4) next = 1;
    counter.store(next, std::memory_order_relaxed);
    *pair = next;
    apiLog().writef(kAxsaProtocol, "%s: putCommand: Create Pair Code: JNo(%d)-Pair(%d)", unit, job,
                    next);

    const auto tag = static_cast<uint32_t>(next << 14);
    const uint64_t w0 = (static_cast<uint32_t>(command) | tag) & 0xFFFF;
    const uint64_t w1 = (static_cast<uint32_t>(parameter1) | tag) & 0xFFFF;
    const uint64_t w2 = (static_cast<uint32_t>(parameter2) | tag) & 0xFFFF;
    apiLog().writef(kAxsaProtocol,
                    "%s: putCommand: Create Command Parameter: JNo(%d)-Cmd(%xh)-Param1(%xh)-"
                    "Param2(%xh)",
                    unit, job, static_cast<uint32_t>(w0), static_cast<uint32_t>(w1),
                    static_cast<uint32_t>(w2));
    const uint64_t block = w0 | (w1 << 16) | (w2 << 32);
    return boards_.setMemDLong(boardIndex(), lineIndex(), &block, outputStation(),
                               firstOffset(job) / 4, 1);
}

int32_t AxsaUnit::getReply(int32_t job, int32_t pair, uint16_t* status) const {
    uint16_t word = 0;
    if (int32_t ret = boards_.getMemShort(boardIndex(), lineIndex(), &word, inputStation(),
                                          firstOffset(job), 1))
        return ret;
    const bool match = ((word >> 2) & 3) == pair;
    if (match) *status = word;
    apiLog().writef(kAxsaProtocol,
                    match ? "%s: GetReply: OK: JNo(%d)-Pair(%d)-Status(%xh)"
                          : "%s: GetReply: NG: JNo(%d)-Pair(%d)-Status(%xh)",
                    unitName().c_str(), job, pair, *status);
    return match ? KALVO_OK : KALVO_ERR_PAIR;
}

int32_t AxsaUnit::getData(int32_t job, int32_t pair, int32_t* data) const {
    const int32_t first = 4 * (job - 1);
    uint16_t high = 0;
    uint16_t low = 0;
    if (int32_t ret = boards_.getMemShort(boardIndex(), lineIndex(), &high, inputStation(),
                                          offset(first + 1), 1))
        return ret;
    if (int32_t ret = boards_.getMemShort(boardIndex(), lineIndex(), &low, inputStation(),
                                          offset(first + 2), 1))
        return ret;
    // Pair 0 (status outside a command): the two words only have to agree.
    const bool match = pair != 0 ? pairOfDataWord(high) == pair && pairOfDataWord(low) == pair
                                 : pairOfDataWord(high) == pairOfDataWord(low);
    if (match) *data = jobData(high, low);
    apiLog().writef(kAxsaProtocol,
                    match ? "%s: GetData: OK: JNo(%d)-Pair(%d)-High(%xh)-Low(%xh)"
                          : "%s: GetData: NG: JNo(%d)-Pair(%d)-High(%xh)-Low(%xh)",
                    unitName().c_str(), job, pair, high, low);
    return match ? KALVO_OK : KALVO_ERR_PAIR;
}

int32_t AxsaUnit::putCmd(int32_t job, int32_t command, int32_t parameter1, int32_t parameter2) {
    SemaphoreHold hold(locks_[job - 1]);
    apiLog().writef(kAxsaStep, "%s: PutCommand: Start: JNo(%d)-Cmd(%xh)-Param1(%xh)-Param2(%xh)",
                    unitName().c_str(), job, command & 0xFFFF, parameter1 & 0xFFFF,
                    parameter2 & 0xFFFF);
    int32_t pair = 0;
    const int32_t ret = putCommand(job, command, parameter1, parameter2, &pair);
    apiLog().writef(kAxsaStep, "%s: PutCommand: End: JNo(%d)", unitName().c_str(), job);
    return ret;
}

int32_t AxsaUnit::putForm(int32_t job, int32_t command, int32_t function, int32_t parameter) {
    const int32_t cut = parameter & 0xFFFF;
    SemaphoreHold hold(locks_[job - 1]);
    apiLog().writef(kAxsaStep, "%s: PutForm: Start: JNo(%d)-Cmd(%xh)-Func(%xh)-Para(%d)",
                    unitName().c_str(), job, command, function & 0xFFFF, cut);
    int32_t pair = 0;
    const int32_t ret = putCommand(job, command | ((function & 0x1F) << 8), (cut >> 14) & 0x3FFF,
                                   cut & 0x3FFF, &pair);
    apiLog().writef(kAxsaStep, "%s: PutFrom: End: JNo(%d)", unitName().c_str(), job);
    return ret;
}

int32_t AxsaUnit::answer(int32_t job, uint16_t* status) {
    SemaphoreHold hold(locks_[job - 1]);
    apiLog().writef(kAxsaStep, "%s: GetAnswer: Start: JNo(%d)", unitName().c_str(), job);
    const int32_t ret = getReply(job, currentPair(job), status);
    apiLog().writef(kAxsaStep, "%s: GetAnswer: End: JNo(%d)-Status(%xh)-ComErr(%xh)",
                    unitName().c_str(), job, *status, 0);
    return ret;
}

int32_t AxsaUnit::answerWith(int32_t job, AxsaAnswer* answer) {
    SemaphoreHold hold(locks_[job - 1]);
    apiLog().writef(kAxsaStep, "%s: GetAnswerWith: Start: JNo(%d)", unitName().c_str(), job);
    const int32_t pair = currentPair(job);
    int32_t ret = getReply(job, pair, &answer->status);
    if (ret == KALVO_OK) ret = getData(job, pair, &answer->data);
    apiLog().writef(kAxsaStep, "%s: GetAnswer: End: JNo(%d)-Status(%xh)-JData(%ld)-ComErr(%xh)",
                    unitName().c_str(), job, answer->status, answer->data, 0);
    return ret;
}

int32_t AxsaUnit::getStatus(int32_t job, AxsaAnswer* answer) {
    SemaphoreHold hold(locks_[job - 1]);
    apiLog().writef(kAxsaStep, "%s: GetStatus: Start: JNo(%d)", unitName().c_str(), job);
    const int32_t r1 = getReply(job, 0, &answer->status);
    const int32_t r2 = getData(job, 0, &answer->data);
    int32_t ret = KALVO_OK;
    if (r1 != KALVO_OK && r1 != KALVO_ERR_PAIR) {
        ret = r1;  // a refused read
    } else if (r2 != KALVO_OK && r2 != KALVO_ERR_PAIR) {
        ret = r2;
    } else if (r1 != KALVO_OK) {
        ret = r2 != KALVO_OK ? KALVO_ERR_PAIR : KALVO_ERR_STATUS_WORD;
    } else if (r2 != KALVO_OK) {
        ret = KALVO_ERR_STATUS_DATA;
    }
    apiLog().writef(kAxsaStep, "%s: GetAnswer: End: JNo(%d)-Status(%xh)-JData(%ld)-Ret(%xh)",
                    unitName().c_str(), job, answer->status, answer->data, ret);
    return ret;
}

int32_t AxsaUnit::putCmdEx(int32_t job, int32_t command, int32_t function, int32_t parameter,
                           AxsaAnswer* answer) {
    const char* unit = unitName().c_str();
    SemaphoreHold hold(locks_[job - 1]);
    apiLog().writef(kAxsaStep, "%s: PutCommandEx: Start: JNo(%d)-Cmd(%xh)-Para1(%xh)-Para2(%d)",
                    unit, job, command, function & 0xFFFF, parameter);
    // The function code goes into bits 12-8 of the command word, the 28-bit
    // parameter into two 14-bit halves.
    int32_t sent = 0;
    if (int32_t ret = putCommand(job, command | ((function & 0x1F) << 8),
                                 (parameter >> 14) & 0x3FFF, parameter & 0x3FFF, &sent))
        return ret;
    const int32_t pair = expectedPair(command, function, sent);

    AxsaAnswer got = *answer;
    const int32_t ret = waitForUnit(waitLimitMs(kAnswerWaitMs), [&]() -> UnitLook {
        int32_t look = getReply(job, pair, &got.status);
        if (look == KALVO_OK) look = getData(job, pair, &got.data);
        // Not answered yet; a refused read ends the wait with its code.
        return look == KALVO_ERR_PAIR ? kKeepWaiting : UnitLook{look};
    });
    if (ret == KALVO_ERR_TIMEOUT)
        apiLog().writef(kAxsaStep, "%s: PutCommandEx: End: TimeOut: JNo(%d)", unit, job);
    if (ret != KALVO_OK) return ret;
    *answer = got;
    apiLog().writef(kAxsaProtocol, "%s: PutCommandEx: End: Reply: JNo(%d)-Status(%xh)-JData(%d)",
                    unit, job, got.status, got.data);
    return KALVO_OK;
}

}  // namespace kalvo::api
