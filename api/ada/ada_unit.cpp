#include "api/ada/ada_unit.h"

#include <cstdio>

#include "api/frame/api_log.h"
#include "api/frame/board_manager.h"

namespace kalvo::api {
namespace {

constexpr LogType kAdaStep = kLogAda | kLevelStep;
constexpr LogType kAdaProtocol = kLogAda | kLevelProtocol;
constexpr uint16_t kCodeBits = 0xE000;
// A unit answers within a few line cycles; the wait per phase is this many
// milliseconds times the line's "TimeOutTimes".
constexpr uint32_t kReplyWaitMs = 200;

}  // namespace

AdaUnit::AdaUnit(const UnitPlacement& placement, const BoardManager& boards)
    : Unit(placement, boards) {}

AdaUnit::~AdaUnit() {
    Close();
}

std::unique_ptr<Unit> AdaUnit::make(const UnitPlacement& placement, const BoardManager& boards) {
    return std::make_unique<AdaUnit>(placement, boards);
}

bool AdaUnit::CheckInfo() {
    if (!Unit::CheckInfo()) return false;
    channelCount_ = offsetCount();
    apiLog().writef(kAdaStep, "%s: CheckInfo: MaxChan(%d)", unitName().c_str(), channelCount_);
    return channelCount_ > 0;
}

int32_t AdaUnit::Open() {
    if (!CheckInfo()) return KALVO_ERR_UNIT;
    char name[64];
    for (int32_t c = 1; c <= channelCount_; ++c) {
        std::snprintf(name, sizeof name, "KV%sSmph%02d", unitName().c_str(), c - 1);
        if (!locks_[c - 1].create(name)) {
            apiLog().writef(kLogAda | kLevelFailure, "%s: CreateSemaphore: NG: Ch(%d)-Name(%s)",
                            unitName().c_str(), c, name);
            return KALVO_ERR_SEMAPHORE;
        }
        locksOpen_ = c;
        apiLog().writef(kAdaStep, "%s: CreateSemaphore: OK: Ch(%d)-Name(%s)", unitName().c_str(), c,
                        name);
    }
    return KALVO_OK;
}

void AdaUnit::Close() {
    for (int32_t c = 1; c <= locksOpen_; ++c) {
        apiLog().writef(kAdaProtocol, "%s: DestroySemaphore: Ch(%d)", unitName().c_str(), c);
        locks_[c - 1].close();
    }
    locksOpen_ = 0;
}

int32_t AdaUnit::inWord(int32_t channel, uint16_t* word) const {
    if (!validChannel(channel)) return KALVO_ERR_ARGUMENT;
    return boards_.getMemShort(boardIndex(), lineIndex(), word, inputStation(), offset(channel - 1),
                               1);
}

int32_t AdaUnit::outWord(int32_t channel, uint16_t* word) const {
    if (!validChannel(channel)) return KALVO_ERR_ARGUMENT;
    return boards_.getMemShort(boardIndex(), lineIndex(), word, outputStation(),
                               offset(channel - 1), 1);
}

int32_t AdaUnit::writeOutput(int32_t channel, uint16_t word) {
    if (!validChannel(channel)) return KALVO_ERR_ARGUMENT;
    SemaphoreHold hold(locks_[channel - 1]);
    return boards_.setMemShort(boardIndex(), lineIndex(), &word, outputStation(),
                               offset(channel - 1), 1);
}

int32_t AdaUnit::waitReply(int32_t channel, uint16_t code, uint16_t* word) const {
    const int32_t ret = waitForUnit(waitLimitMs(kReplyWaitMs), [&]() -> UnitLook {
        uint16_t input = 0;
        if (int32_t failed = inWord(channel, &input)) return failed;
        if ((input & kCodeBits) != code) return kKeepWaiting;
        *word = input;
        apiLog().writef(kAdaProtocol, "%s: WaitReply: OK: Ch(%d)-Cmd(%d)-pRet(%xh)",
                        unitName().c_str(), channel, code, input);
        return KALVO_OK;
    });
    if (ret == KALVO_ERR_TIMEOUT)
        apiLog().writef(kAdaProtocol, "%s: WaitReply: NG: Ch(%d)-Cmd(%d)", unitName().c_str(),
                        channel, code);
    return ret;
}

int32_t AdaUnit::command(int32_t channel, int32_t code, int32_t parameter, uint16_t* reply) {
    if (!validChannel(channel)) return KALVO_ERR_ARGUMENT;
    const auto command = static_cast<uint16_t>(code);
    const auto para = static_cast<uint16_t>(parameter);
    const char* unit = unitName().c_str();
    const int32_t station = outputStation();
    const int32_t word = offset(channel - 1);
    SemaphoreHold hold(locks_[channel - 1]);
    apiLog().writef(kAdaStep, "%s: PutCommand: Start: Ch(%d)-Cmd(%xh)-Para(%xh)", unit, channel,
                    command, para);

    // The application's output value, put back once the unit has answered.
    uint16_t kept = 0;
    int32_t ret = boards_.getMemShort(boardIndex(), lineIndex(), &kept, station, word, 1);
    if (ret != KALVO_OK) {
        // Nothing was changed yet: no command goes out, and the sequence
        // ends with its End line as every other one does.
        apiLog().writef(kAdaStep, "%s: PutCommand: End: Ch(%d)-Cmd(%xh)-Para(%xh)-pRet(%xh)", unit,
                        channel, command, para, *reply);
        return ret;
    }
    apiLog().writef(kAdaProtocol, "%s: PutCommand: Keep Current Data: Ch(%d)-Data(%xh)", unit,
                    channel, kept);
    if (kept & kCodeBits) {
        // A command code on the output word is a command the unit answers,
        // not a value: put back, it would keep the unit out of data mode for
        // good. It is what a sequence cut short leaves (its process killed
        // between set and restore); the code is dropped so the channel can
        // return to data mode.
        kept &= static_cast<uint16_t>(~kCodeBits);
        apiLog().writef(kAdaProtocol, "%s: PutCommand: Command Left On Output: Ch(%d)-Data(%xh)",
                        unit, channel, kept);
    }

    const auto commandWord = static_cast<uint16_t>(command | (para & 0x0FFF));
    ret = boards_.setMemShort(boardIndex(), lineIndex(), &commandWord, station, word, 1);
    if (ret == KALVO_OK) {
        apiLog().writef(kAdaProtocol, "%s: PutCommand: Set Command: Ch(%d)-Cmd(%xh)", unit, channel,
                        commandWord);
        // A code with bits outside the top three never matches: 0x11.
        ret = waitReply(channel, command, reply);
    }

    // Restored whether the unit answered or not, so the channel never keeps
    // a command word in its output.
    boards_.setMemShort(boardIndex(), lineIndex(), &kept, station, word, 1);
    apiLog().writef(kAdaProtocol, "%s: PutCommand: Restore Current Data: Ch(%d)-Data(%xh)", unit,
                    channel, kept);

    if (ret == KALVO_OK) {
        uint16_t dataMode = 0;
        ret = waitReply(channel, kAdaDataMode, &dataMode);
    }
    apiLog().writef(kAdaStep, "%s: PutCommand: End: Ch(%d)-Cmd(%xh)-Para(%xh)-pRet(%xh)", unit,
                    channel, command, para, *reply);
    return ret;
}

}  // namespace kalvo::api
