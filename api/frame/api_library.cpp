#include "api/frame/api_library.h"

#include "api/configfiles/kalvo_ini_reader.h"
#include "api/frame/api_log.h"

namespace kalvo::api {
namespace {

constexpr LogType kBanner = kLogFrame | kLevelEnd;

}  // namespace

// Made at attach and destroyed at detach, not left to static destruction,
// whose order against the module's detach is not defined.
diaglog::LogFacility& detail::makeApiLog() noexcept {
    if (!detail::gApiLog) detail::gApiLog = new diaglog::LogFacility;
    return *detail::gApiLog;
}

bool attachLibrary() {
    if (detail::gLibrary) return true;
    auto* lib = new ApiLibrary;
    lib->iniFile = configfiles::kalvoIniFileName();
    if (!apiLog().open("KalvoLog", "KalvoLog.ini", "KalvoLog.Map", kDefaultLogLevel)) {
        delete lib;
        delete detail::gApiLog;
        detail::gApiLog = nullptr;
        return false;
    }
    apiLog().write(kBanner, "---------- Kalvo DLL (Kalvo.dll) Service Start ----------");
    lib->startedUp = lib->boards.startUp(lib->iniFile, apiLog().firstUser());
    lib->units.clear();
    detail::gLibrary = lib;
    return true;
}

void detachLibrary() {
    ApiLibrary* lib = detail::gLibrary;
    if (!lib) return;
    lib->units.clear();
    lib->boards.unload();
    apiLog().write(kBanner, "---------- Kalvo DLL (Kalvo.dll) Service Stop -----------");
    apiLog().close();
    detail::gLibrary = nullptr;
    delete lib;
    delete detail::gApiLog;
    detail::gApiLog = nullptr;
}

}  // namespace kalvo::api
