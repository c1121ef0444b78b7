// The DIO calls: the unit number check and slot lookup of the frame, the
// unit's operation, one log line as the call returns.
#include "api/dio/dio_unit.h"
#include "api/frame/unit_calls.h"
#include "kalvo/kalvo.h"

using namespace kalvo::api;

namespace {

constexpr FamilyCalls kDio{kFamilyDio, "DIO", kLogDio};
constexpr LogType kDioCall = kLogDio | kLevelCall;

}  // namespace

extern "C" {

KV_API int32_t KV_DIO_Open(int32_t unit) {
    return openUnit(kDio, unit, nullptr, false, &DioUnit::make);
}

KV_API int32_t KV_DIO_OpenEx(UnitPlacement* placement) {
    return openUnit(kDio, 0, placement, true, &DioUnit::make);
}

KV_API int32_t KV_DIO_Close(int32_t unit) {
    return closeUnit(kDio, unit);
}

KV_API int32_t KV_DIO_GetCondition(int32_t unit, int32_t* condition) {
    return unitCondition(kDio, unit, condition);
}

KV_API int32_t KV_DIO_InData(int32_t unit, uint16_t* data) {
    const int32_t ret = withUnit<DioUnit>(
        kDio, unit, [&](DioUnit& u) { return data ? u.inData(data) : KALVO_ERR_ARGUMENT; });
    apiLog().writef(kDioCall, "DIO(%d) KV_DIO_InData: InData(%xh): Ret(%xh)", unit,
                    data ? *data : 0u, ret);
    return ret;
}

KV_API int32_t KV_DIO_InOData(int32_t unit, uint16_t* data) {
    const int32_t ret = withUnit<DioUnit>(
        kDio, unit, [&](DioUnit& u) { return data ? u.inOData(data) : KALVO_ERR_ARGUMENT; });
    apiLog().writef(kDioCall, "DIO(%d) KV_DIO_InOData: InData(%xh): Ret(%xh)", unit,
                    data ? *data : 0u, ret);
    return ret;
}

KV_API int32_t KV_DIO_OutData(int32_t unit, int32_t data) {
    const int32_t ret = withUnit<DioUnit>(kDio, unit, [&](DioUnit& u) { return u.outData(data); });
    apiLog().writef(kDioCall, "DIO(%d) KV_DIO_OutData: OutData(%xh): Ret(%xh)", unit, data & 0xFFFF,
                    ret);
    return ret;
}

KV_API int32_t KV_DIO_InDataBit(int32_t unit, int32_t bitNo, int32_t* bit) {
    const int32_t ret = withUnit<DioUnit>(
        kDio, unit, [&](DioUnit& u) { return bit ? u.inDataBit(bitNo, bit) : KALVO_ERR_ARGUMENT; });
    apiLog().writef(kDioCall, "DIO(%d) KV_DIO_InDataBit: BitNo(%xh)-InBit(%xh): Ret(%xh)", unit,
                    bitNo, bit ? *bit : 0, ret);
    return ret;
}

KV_API int32_t KV_DIO_InODataBit(int32_t unit, int32_t bitNo, int32_t* bit) {
    const int32_t ret = withUnit<DioUnit>(kDio, unit, [&](DioUnit& u) {
        return bit ? u.inODataBit(bitNo, bit) : KALVO_ERR_ARGUMENT;
    });
    apiLog().writef(kDioCall, "DIO(%d) KV_DIO_InODataBit: BitNo(%xh)-InBit(%xh): Ret(%xh)", unit,
                    bitNo, bit ? *bit : 0, ret);
    return ret;
}

KV_API int32_t KV_DIO_OutDataBit(int32_t unit, int32_t bitNo, int32_t bit) {
    const int32_t ret =
        withUnit<DioUnit>(kDio, unit, [&](DioUnit& u) { return u.outDataBit(bitNo, bit); });
    apiLog().writef(kDioCall, "DIO(%d) KV_DIO_OutDataBit: BitNo(%xh)-OutBit(%xh): Ret(%xh)", unit,
                    bitNo, bit, ret);
    return ret;
}

}  // extern "C"
