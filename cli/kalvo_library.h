// libKalvo loaded as an application loads it, after `kalvo` has changed into
// the configuration folder: its attach reads that folder's Kalvo.ini, binds
// the board libraries, opens the boards and, in the first process, starts
// their lines. (Linked at build time, the library would load before main,
// in whatever folder kalvo was started from.)
#pragma once

#include <string>

#include "kalvo/kalvo.h"
#include "platform/module.h"

namespace kalvo::cli {

#define KALVO_CLI_CALL(name) decltype(&::name) name = nullptr

class KalvoLibrary {
  public:
    KalvoLibrary() = default;
    ~KalvoLibrary();
    KalvoLibrary(const KalvoLibrary&) = delete;
    KalvoLibrary& operator=(const KalvoLibrary&) = delete;

    // Loads the library found by libraryPath(); false with the reason.
    bool load(std::string* why);
    bool loaded() const { return module_ != nullptr; }

    // libKalvo beside this program's library folder (../lib), else the
    // soname through the loader's search path.
    static std::string libraryPath();

    KALVO_CLI_CALL(KV_BeginPeriod);
    KALVO_CLI_CALL(KV_EndPeriod);
    KALVO_CLI_CALL(KV_CheckBoard);
    KALVO_CLI_CALL(KV_DIO_Open);
    KALVO_CLI_CALL(KV_DIO_Close);
    KALVO_CLI_CALL(KV_DIO_GetCondition);
    KALVO_CLI_CALL(KV_DIO_InData);
    KALVO_CLI_CALL(KV_DIO_InOData);
    KALVO_CLI_CALL(KV_DIO_OutData);
    KALVO_CLI_CALL(KV_DIO_InDataBit);
    KALVO_CLI_CALL(KV_DIO_InODataBit);
    KALVO_CLI_CALL(KV_DIO_OutDataBit);
    KALVO_CLI_CALL(KV_ADA_Open);
    KALVO_CLI_CALL(KV_ADA_Close);
    KALVO_CLI_CALL(KV_ADA_GetCondition);
    KALVO_CLI_CALL(KV_ADA_InValue);
    KALVO_CLI_CALL(KV_ADA_InOValue);
    KALVO_CLI_CALL(KV_ADA_OutValue);
    KALVO_CLI_CALL(KV_AXSA_Open);
    KALVO_CLI_CALL(KV_AXSA_Close);
    KALVO_CLI_CALL(KV_AXSA_GetCondition);
    KALVO_CLI_CALL(KV_AXSA_GetStatus);
    KALVO_CLI_CALL(KV_SIO_Open);
    KALVO_CLI_CALL(KV_SIO_Close);
    KALVO_CLI_CALL(KV_SIO_GetCondition);
    KALVO_CLI_CALL(KV_SIO_Config);
    KALVO_CLI_CALL(KV_SIO_PutData);
    KALVO_CLI_CALL(KV_SIO_GetData);

    // The family's Open, Close and GetCondition by family name.
    int32_t open(const std::string& family, int32_t unit);
    int32_t close(const std::string& family, int32_t unit);
    int32_t condition(const std::string& family, int32_t unit, int32_t* condition);

  private:
    platform::ModuleHandle module_ = nullptr;
};

#undef KALVO_CLI_CALL

}  // namespace kalvo::cli
