// libKalvo loaded into the test process by path, as an application's loader
// would at start: the library's attach reads Kalvo.ini from the current
// directory, so a test prepares its folder first. The calls are bound by
// name with the public header's types.
#pragma once

#include <string>

#include "kalvo/kalvo.h"
#include "platform/module.h"

namespace kalvo::apitest {

#define KALVO_TEST_CALL(name) decltype(&::name) name = bind<decltype(&::name)>(#name)

class KalvoLibrary {
  public:
    KalvoLibrary() : module_(platform::loadLibrary(KALVO_LIBRARY_PATH)) {}
    ~KalvoLibrary() { unload(); }
    KalvoLibrary(const KalvoLibrary&) = delete;
    KalvoLibrary& operator=(const KalvoLibrary&) = delete;

    bool loaded() const { return module_ != nullptr; }
    // Runs the library's detach (the stop banner, the units closed).
    void unload() {
        if (module_) platform::freeLibrary(module_);
        module_ = nullptr;
    }

  private:
    template <typename Fn>
    Fn bind(const char* name) {
        return module_ ? reinterpret_cast<Fn>(platform::getProcAddress(module_, name)) : nullptr;
    }
    platform::ModuleHandle module_;

  public:
    KALVO_TEST_CALL(KV_BeginPeriod);
    KALVO_TEST_CALL(KV_EndPeriod);
    KALVO_TEST_CALL(KV_CheckBoard);
    KALVO_TEST_CALL(KV_AttachMemory);
    KALVO_TEST_CALL(KV_DIO_Open);
    KALVO_TEST_CALL(KV_DIO_OpenEx);
    KALVO_TEST_CALL(KV_DIO_Close);
    KALVO_TEST_CALL(KV_DIO_GetCondition);
    KALVO_TEST_CALL(KV_DIO_InData);
    KALVO_TEST_CALL(KV_DIO_InOData);
    KALVO_TEST_CALL(KV_DIO_OutData);
    KALVO_TEST_CALL(KV_DIO_InDataBit);
    KALVO_TEST_CALL(KV_DIO_InODataBit);
    KALVO_TEST_CALL(KV_DIO_OutDataBit);
    KALVO_TEST_CALL(KV_ADA_Open);
    KALVO_TEST_CALL(KV_ADA_OpenEx);
    KALVO_TEST_CALL(KV_AXSA_OpenEx);
    KALVO_TEST_CALL(KV_SIO_OpenEx);
    KALVO_TEST_CALL(KV_ADA_Close);
    KALVO_TEST_CALL(KV_ADA_InValue);
    KALVO_TEST_CALL(KV_ADA_OutValue);
    KALVO_TEST_CALL(KV_ADA_GetVersion);
    KALVO_TEST_CALL(KV_ADA_PutCmd);
    KALVO_TEST_CALL(KV_AXSA_Close);
    KALVO_TEST_CALL(KV_AXSA_PutCmd);
    KALVO_TEST_CALL(KV_AXSA_Answer);
    KALVO_TEST_CALL(KV_AXSA_PutCmdEx);
    KALVO_TEST_CALL(KV_SIO_Close);
    KALVO_TEST_CALL(KV_SIO_Config);
    KALVO_TEST_CALL(KV_SIO_PutData);
    KALVO_TEST_CALL(KV_SIO_GetData);
    KALVO_TEST_CALL(KV_SIO_ClearError);
    KALVO_TEST_CALL(KV_SIO_ClearBuffer);
};

#undef KALVO_TEST_CALL

// Opens DIO_1 and sets and clears one bit of its output word `count` times,
// checking after each step that the bit is as this caller left it: a lost
// update shows as a bit that another process's stale write turned back.
// Leaves the bit set. The exit status for a child: 0 none lost, 1 some lost,
// 2 the unit could not be had.
inline int toggleOwnBit(int bitNo, int count) {
    KalvoLibrary kv;
    if (!kv.loaded() || kv.KV_DIO_Open(1) != 0) return 2;
    int lost = 0;
    for (int i = 0; i < count; ++i) {
        int32_t bit = -1;
        kv.KV_DIO_OutDataBit(1, bitNo, 1);
        kv.KV_DIO_InODataBit(1, bitNo, &bit);
        if (bit != 1) ++lost;
        kv.KV_DIO_OutDataBit(1, bitNo, 0);
        kv.KV_DIO_InODataBit(1, bitNo, &bit);
        if (bit != 0) ++lost;
    }
    kv.KV_DIO_OutDataBit(1, bitNo, 1);
    return lost == 0 ? 0 : 1;
}

}  // namespace kalvo::apitest
