#include "api/frame/api_library.h"

#include "api/configfiles/kalvo_ini_reader.h"
#include "api/frame/api_log.h"

namespace kalvo::api {
namespace {

ApiLibrary* gLibrary = nullptr;

constexpr LogType kBanner = kLogFrame | kLevelEnd;

}  // namespace

diaglog::LogFacility& apiLog() noexcept {
    // Never destroyed: detach closes it, and static destructors of the
    // process may run after detach in any order.
    static diaglog::LogFacility* log = new diaglog::LogFacility;
    return *log;
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
}

}  // namespace kalvo::api
