// The SIO calls: the unit number check and slot lookup of the frame, the
// unit's operation, the call's log lines. Out-counts are 0 before anything
// else, so a call that fails early never leaves a stale count behind.
#include "api/frame/unit_calls.h"
#include "api/sio/sio_unit.h"
#include "kalvo/kalvo.h"

using namespace kalvo::api;

namespace {

constexpr FamilyCalls kSio{kFamilySio, "SIO", kLogSio};
constexpr LogType kSioCall = kLogSio | kLevelCall;
constexpr LogType kSioEnd = kLogSio | kLevelEnd;

}  // namespace

extern "C" {

KV_API int32_t KV_SIO_Open(int32_t unit) {
    return openUnit(kSio, unit, nullptr, false, &SioUnit::make);
}

KV_API int32_t KV_SIO_OpenEx(UnitPlacement* placement) {
    return openUnit(kSio, 0, placement, true, &SioUnit::make);
}

KV_API int32_t KV_SIO_Close(int32_t unit) {
    return closeUnit(kSio, unit);
}

KV_API int32_t KV_SIO_GetCondition(int32_t unit, int32_t* condition) {
    return unitCondition(kSio, unit, condition);
}

KV_API int32_t KV_SIO_Config(int32_t unit, int32_t channel, int32_t baud, int32_t bitLength,
                             int32_t parity, int32_t stopBits, int32_t receiveSize,
                             int32_t sendSize) {
    const int32_t ret = withUnit<SioUnit>(kSio, unit, [&](SioUnit& u) {
        return u.config(channel, baud, bitLength, parity, stopBits, receiveSize, sendSize);
    });
    apiLog().writef(kSioCall,
                    "SIO(%d) KV_SIO_Config: Ch(%d)-Boud(%xh)-Bit(%xh)-Parity(%xh)-Stop(%xh)-"
                    "RcvBuf(%d)-SndBuf(%d): Ret(%xh)",
                    unit, channel, baud, bitLength, parity, stopBits, receiveSize, sendSize, ret);
    return ret;
}

KV_API int32_t KV_SIO_PutData(int32_t unit, int32_t channel, const uint8_t* data, int32_t length,
                              int32_t* sent, int32_t timeoutMs) {
    if (sent) *sent = 0;
    apiLog().writef(kSioCall, "SIO(%d) KV_SIO_PutData: Ch(%d)-Length(%d)-TimeOut(%d)", unit,
                    channel, length, timeoutMs);
    const int32_t ret = withUnit<SioUnit>(kSio, unit, [&](SioUnit& u) {
        return sent ? u.putData(channel, data, length, sent, timeoutMs) : KALVO_ERR_ARGUMENT;
    });
    apiLog().writef(kSioEnd, "SIO(%d) KV_SIO_PutData: Ch(%d)-RetLength(%d): Ret(%xh)", unit,
                    channel, sent ? *sent : 0, ret);
    return ret;
}

KV_API int32_t KV_SIO_GetData(int32_t unit, int32_t channel, uint8_t* data, int32_t length,
                              int32_t* received, int32_t timeoutMs) {
    if (received) *received = 0;
    apiLog().writef(kSioCall, "SIO(%d) KV_SIO_GetData: Ch(%d)-Length(%d)-TimeOut(%d)", unit,
                    channel, length, timeoutMs);
    const int32_t ret = withUnit<SioUnit>(kSio, unit, [&](SioUnit& u) {
        return received ? u.getData(channel, data, length, received, timeoutMs)
                        : KALVO_ERR_ARGUMENT;
    });
    apiLog().writef(kSioEnd, "SIO(%d) KV_SIO_GetData: Ch(%d)-RetLength(%d): Ret(%xh)", unit,
                    channel, received ? *received : 0, ret);
    return ret;
}

KV_API int32_t KV_SIO_ClearError(int32_t unit, int32_t channel) {
    const int32_t ret =
        withUnit<SioUnit>(kSio, unit, [&](SioUnit& u) { return u.clearError(channel); });
    apiLog().writef(kSioEnd, "SIO(%d) KV_SIO_ClearError: Ch(%d): Ret(%xh)", unit, channel, ret);
    return ret;
}

KV_API int32_t KV_SIO_CheckBuffer(int32_t unit, int32_t channel, int32_t* size) {
    if (size) *size = 0;
    const int32_t ret = withUnit<SioUnit>(kSio, unit, [&](SioUnit& u) {
        return size ? u.checkBuffer(channel, size) : KALVO_ERR_ARGUMENT;
    });
    apiLog().writef(kSioEnd, "SIO(%d) KV_SIO_CheckBuffer: Ch(%d)-Size(%d): Ret(%xh)", unit, channel,
                    size ? *size : 0, ret);
    return ret;
}

KV_API int32_t KV_SIO_ClearBuffer(int32_t unit, int32_t channel) {
    const int32_t ret =
        withUnit<SioUnit>(kSio, unit, [&](SioUnit& u) { return u.clearBuffer(channel); });
    apiLog().writef(kSioEnd, "SIO(%d) KV_SIO_ClearBuffer: Ch(%d): Ret(%xh)", unit, channel, ret);
    return ret;
}

}  // extern "C"
