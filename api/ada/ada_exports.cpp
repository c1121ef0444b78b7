// The ADA calls: the unit number check and slot lookup of the frame, the
// unit's operation, one log line as the call returns. The command calls
// derive their values from the reply word only when the sequence succeeded.
#include "api/ada/ada_unit.h"
#include "api/frame/unit_calls.h"
#include "kalvo/kalvo.h"

using namespace kalvo::api;

namespace {

constexpr FamilyCalls kAda{kFamilyAda, "ADA", kLogAda};
constexpr LogType kAdaCall = kLogAda | kLevelCall;

// The channel check comes before any pointer is looked at, so a bad channel
// gives 3 whatever else is wrong.
template <typename Op>
int32_t withChannel(int32_t unit, int32_t channel, bool pointersOk, Op&& op) {
    return withUnit<AdaUnit>(kAda, unit, [&](AdaUnit& u) -> int32_t {
        if (channel < 1 || channel > u.channelCount() || !pointersOk) return KALVO_ERR_ARGUMENT;
        return op(u);
    });
}

enum class Word { Input, Output };
constexpr uint16_t kValueBits = 0x0FFF;  // the 12-bit value of a channel word
constexpr uint16_t kWholeWord = 0xFFFF;

// The four reads: a channel's input or output word, whole or its value bits,
// stored only on success and logged with the call's own line either way.
template <typename Out>
int32_t readWord(int32_t unit, int32_t channel, Out* out, Word which, uint16_t mask,
                 const char* logLine) {
    uint16_t word = 0;
    const int32_t ret = withChannel(unit, channel, out != nullptr, [&](AdaUnit& u) {
        const int32_t r =
            which == Word::Input ? u.inWord(channel, &word) : u.outWord(channel, &word);
        if (r == KALVO_OK) *out = static_cast<Out>(word & mask);
        return r;
    });
    apiLog().writef(kAdaCall, logLine, unit, channel, word & mask, ret);
    return ret;
}

int32_t clampValue(int32_t value) {
    return value < 0 ? 0 : (value > 0x0FFF ? 0x0FFF : value);
}

}  // namespace

extern "C" {

KV_API int32_t KV_ADA_Open(int32_t unit) {
    return openUnit(kAda, unit, nullptr, false, &AdaUnit::make);
}

KV_API int32_t KV_ADA_OpenEx(UnitPlacement* placement) {
    return openUnit(kAda, 0, placement, true, &AdaUnit::make);
}

KV_API int32_t KV_ADA_Close(int32_t unit) {
    return closeUnit(kAda, unit);
}

KV_API int32_t KV_ADA_GetCondition(int32_t unit, int32_t* condition) {
    return unitCondition(kAda, unit, condition);
}

KV_API int32_t KV_ADA_InValue(int32_t unit, int32_t channel, int32_t* value) {
    return readWord(unit, channel, value, Word::Input, kValueBits,
                    "ADA(%d) KV_ADA_InValue: Ch(%d)-InValue(%xh): Ret(%xh)");
}

KV_API int32_t KV_ADA_InValueFull(int32_t unit, int32_t channel, uint16_t* data) {
    return readWord(unit, channel, data, Word::Input, kWholeWord,
                    "ADA(%d) KV_ADA_InValueFull: Ch(%d)-InData(%xh): Ret(%xh)");
}

KV_API int32_t KV_ADA_InOValue(int32_t unit, int32_t channel, int32_t* value) {
    return readWord(unit, channel, value, Word::Output, kValueBits,
                    "ADA(%d) KV_ADA_InOValue: Ch(%d)-InValue(%xh): Ret(%xh)");
}

KV_API int32_t KV_ADA_InOValueFull(int32_t unit, int32_t channel, uint16_t* data) {
    return readWord(unit, channel, data, Word::Output, kWholeWord,
                    "ADA(%d) KV_ADA_InOValueFull: Ch(%d)-InData(%xh): Ret(%xh)");
}

KV_API int32_t KV_ADA_OutValue(int32_t unit, int32_t channel, int32_t value) {
    const int32_t ret = withChannel(unit, channel, true, [&](AdaUnit& u) {
        return u.writeOutput(channel, static_cast<uint16_t>(clampValue(value)));
    });
    apiLog().writef(kAdaCall, "ADA(%d) KV_ADA_OutValue: Ch(%d)-OutValue(%xh): Ret(%xh)", unit,
                    channel, value, ret);
    return ret;
}

KV_API int32_t KV_ADA_OutValueFull(int32_t unit, int32_t channel, int32_t data) {
    const int32_t ret = withChannel(unit, channel, true, [&](AdaUnit& u) {
        return u.writeOutput(channel, static_cast<uint16_t>(data));
    });
    apiLog().writef(kAdaCall, "ADA(%d) KV_ADA_OutValueFull: Ch(%d)-OutData(%xh): Ret(%xh)", unit,
                    channel, data & 0xFFFF, ret);
    return ret;
}

KV_API int32_t KV_ADA_SetFilter(int32_t unit, int32_t channel, int32_t filter, int32_t maxMin,
                                int32_t sample) {
    const int32_t ret = withChannel(unit, channel, true, [&](AdaUnit& u) {
        uint16_t reply = 0;
        const int32_t parameter = (filter & 0xE0) | (maxMin & 0x10) | (sample & 0x0F);
        return u.command(channel, kAdaSetFilter, parameter, &reply);
    });
    apiLog().writef(kAdaCall,
                    "ADA(%d) KV_ADA_SetFilter: Ch(%d)-Filter(%xh)-MaxMin(%xh)-Sample(%d): Ret(%xh)",
                    unit, channel, filter, maxMin, sample, ret);
    return ret;
}

KV_API int32_t KV_ADA_GetFilter(int32_t unit, int32_t channel, int32_t* filter, int32_t* maxMin,
                                int32_t* sample) {
    uint16_t reply = 0;
    const int32_t ret = withChannel(unit, channel, filter && maxMin && sample, [&](AdaUnit& u) {
        const int32_t r = u.command(channel, kAdaGetFilter, 0, &reply);
        if (r == KALVO_OK) {
            *filter = reply & 0xE0;
            *maxMin = reply & 0x10;
            *sample = reply & 0x0F;
        }
        return r;
    });
    apiLog().writef(
        kAdaCall, "ADA(%d) KV_ADA_GetFilter: Ch(%d)-Filter(%xh)-MaxMin(%xh)-Sample(%d): Ret(%xh)",
        unit, channel, ret ? 0 : reply & 0xE0, ret ? 0 : reply & 0x10, ret ? 0 : reply & 0x0F, ret);
    return ret;
}

KV_API int32_t KV_ADA_GetInRange(int32_t unit, int32_t channel, int32_t* range) {
    uint16_t reply = 0;
    const int32_t ret = withChannel(unit, channel, range != nullptr, [&](AdaUnit& u) {
        const int32_t r = u.command(channel, kAdaGetFilter, 0, &reply);
        if (r == KALVO_OK) *range = reply & 0x0F00;
        return r;
    });
    apiLog().writef(kAdaCall, "ADA(%d) KV_ADA_GetInRange: Ch(%d)-Range(%xh): Ret(%xh)", unit,
                    channel, ret ? 0 : reply & 0x0F00, ret);
    return ret;
}

KV_API int32_t KV_ADA_GetOutRange(int32_t unit, int32_t channel, int32_t* range) {
    uint16_t reply = 0;
    const int32_t ret = withChannel(unit, channel, range != nullptr, [&](AdaUnit& u) {
        const int32_t r = u.command(channel, kAdaGetOutRange, 0, &reply);
        if (r == KALVO_OK) *range = reply & 0x0F00;
        return r;
    });
    apiLog().writef(kAdaCall, "ADA(%d) KV_ADA_GetOutRange: Ch(%d)-Range(%xh): Ret(%xh)", unit,
                    channel, ret ? 0 : reply & 0x0F00, ret);
    return ret;
}

// The unit's version is asked on channel 1 whatever the channel count.
KV_API int32_t KV_ADA_GetVersion(int32_t unit, int32_t* version) {
    constexpr int32_t kChannel = 1;
    uint16_t reply = 0;
    const int32_t ret = withChannel(unit, kChannel, version != nullptr, [&](AdaUnit& u) {
        const int32_t r = u.command(kChannel, kAdaGetVersion, 0, &reply);
        if (r == KALVO_OK) *version = reply;
        return r;
    });
    apiLog().writef(kAdaCall, "ADA(%d) KV_ADA_GetVersion: Ch(%d)-Version(%xh): Ret(%xh)", unit,
                    kChannel, ret ? 0 : reply, ret);
    return ret;
}

// The reply word is handed back whenever the unit answered, also when it
// then did not return to data mode in time.
KV_API int32_t KV_ADA_PutCmd(int32_t unit, int32_t channel, int32_t command, int32_t parameter,
                             uint16_t* reply) {
    uint16_t word = 0;
    const int32_t ret = withChannel(unit, channel, reply != nullptr, [&](AdaUnit& u) {
        word = *reply;
        const int32_t r = u.command(channel, command, parameter, &word);
        *reply = word;
        return r;
    });
    apiLog().writef(kAdaCall,
                    "ADA(%d) KV_ADA_PutCmd: Ch(%d)-Cmd(%xh)-Para(%xh)-RetData(%xh): Ret(%xh)", unit,
                    channel, command & 0xFFFF, parameter & 0xFFFF, word, ret);
    return ret;
}

}  // extern "C"
