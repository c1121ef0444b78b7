#include "cli/kalvo_library.h"

#include <filesystem>

#include "platform/status_names.h"
#include "platform/win_error.h"

namespace kalvo::cli {

KalvoLibrary::~KalvoLibrary() {
    if (module_) platform::freeLibrary(module_);
}

std::string KalvoLibrary::libraryPath() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const auto beside = self.parent_path().parent_path() / "lib" / KALVO_LIBRARY_SONAME;
        if (std::filesystem::exists(beside, ec)) return beside.string();
    }
    return KALVO_LIBRARY_SONAME;
}

bool KalvoLibrary::load(std::string* why) {
    const std::string path = libraryPath();
    module_ = platform::loadLibrary(path.c_str());
    if (!module_) {
        const uint32_t error = platform::lastError();
        *why = "the Kalvo library " + path + " did not load: " + platform::win32ErrorText(error) +
               (error == platform::ERROR_DLL_INIT_FAILED
                    ? " (it refused to start here; its reason is printed above)"
                    : " (is it installed beside kalvo?)");
        return false;
    }
    bool complete = true;
    auto bind = [&](auto& call, const char* name) {
        call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(
            platform::getProcAddress(module_, name));
        if (!call) {
            complete = false;
            *why = "the Kalvo library " + path + " has no call " + name + " (an older version?)";
        }
    };
#define KALVO_BIND(name) bind(name, #name)
    KALVO_BIND(KV_BeginPeriod);
    KALVO_BIND(KV_EndPeriod);
    KALVO_BIND(KV_CheckBoard);
    KALVO_BIND(KV_DIO_Open);
    KALVO_BIND(KV_DIO_Close);
    KALVO_BIND(KV_DIO_GetCondition);
    KALVO_BIND(KV_DIO_InData);
    KALVO_BIND(KV_DIO_InOData);
    KALVO_BIND(KV_DIO_OutData);
    KALVO_BIND(KV_DIO_InDataBit);
    KALVO_BIND(KV_DIO_InODataBit);
    KALVO_BIND(KV_DIO_OutDataBit);
    KALVO_BIND(KV_ADA_Open);
    KALVO_BIND(KV_ADA_Close);
    KALVO_BIND(KV_ADA_GetCondition);
    KALVO_BIND(KV_ADA_InValue);
    KALVO_BIND(KV_ADA_InOValue);
    KALVO_BIND(KV_ADA_OutValue);
    KALVO_BIND(KV_AXSA_Open);
    KALVO_BIND(KV_AXSA_Close);
    KALVO_BIND(KV_AXSA_GetCondition);
    KALVO_BIND(KV_AXSA_GetStatus);
    KALVO_BIND(KV_SIO_Open);
    KALVO_BIND(KV_SIO_Close);
    KALVO_BIND(KV_SIO_GetCondition);
    KALVO_BIND(KV_SIO_Config);
    KALVO_BIND(KV_SIO_PutData);
    KALVO_BIND(KV_SIO_GetData);
#undef KALVO_BIND
    return complete;
}

int32_t KalvoLibrary::open(const std::string& family, int32_t unit) {
    if (family == "DIO") return KV_DIO_Open(unit);
    if (family == "ADA") return KV_ADA_Open(unit);
    if (family == "AXSA") return KV_AXSA_Open(unit);
    return KV_SIO_Open(unit);
}

int32_t KalvoLibrary::close(const std::string& family, int32_t unit) {
    if (family == "DIO") return KV_DIO_Close(unit);
    if (family == "ADA") return KV_ADA_Close(unit);
    if (family == "AXSA") return KV_AXSA_Close(unit);
    return KV_SIO_Close(unit);
}

int32_t KalvoLibrary::condition(const std::string& family, int32_t unit, int32_t* condition) {
    if (family == "DIO") return KV_DIO_GetCondition(unit, condition);
    if (family == "ADA") return KV_ADA_GetCondition(unit, condition);
    if (family == "AXSA") return KV_AXSA_GetCondition(unit, condition);
    return KV_SIO_GetCondition(unit, condition);
}

}  // namespace kalvo::cli
