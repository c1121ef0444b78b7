#include "api/frame/api_library.h"

#include "api/configfiles/kalvo_ini_reader.h"
#include "api/frame/api_log.h"

namespace kalvo::api {
namespace {

ApiLibrary* gLibrary = nullptr;
diaglog::LogFacility* gLog = nullptr;

constexpr LogType kBanner = kLogFrame | kLevelEnd;

}  // namespace

// Made at attach and destroyed at detach, not left to static destruction,
// whose order against the module's detach is not defined.
diaglog::LogFacility& apiLog() noexcept {
    if (!gLog) gLog = new diaglog::LogFacility;
    return *gLog;
}

ApiLibrary* library() noexcept {
    return gLibrary;
}

bool attachLibrary() {
    if (gLibrary) return true;
    auto* lib = new ApiLibrary;
    lib->iniFile = configfiles::kalvoIniFileName();
    if (!apiLog().open("KalvoLog", "KalvoLog.ini", "KalvoLog.Map", kDefaultLogLevel)) {
        delete lib;
        delete gLog;
        gLog = nullptr;
        return false;
    }
    apiLog().write(kBanner, "---------- Kalvo DLL (Kalvo.dll) Service Start ----------");
    lib->startedUp = lib->boards.startUp(lib->iniFile, apiLog().firstUser());
    lib->units.clear();
    gLibrary = lib;
    return true;
}

void detachLibrary() {
    ApiLibrary* lib = gLibrary;
    if (!lib) return;
    lib->units.clear();
    lib->boards.unload();
    apiLog().write(kBanner, "---------- Kalvo DLL (Kalvo.dll) Service Stop -----------");
    apiLog().close();
    gLibrary = nullptr;
    delete lib;
    delete gLog;
    gLog = nullptr;
}

}  // namespace kalvo::api
