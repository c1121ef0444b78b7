#include "api/frame/api_library.h"

#include <cstdio>

#include "api/configfiles/kalvo_ini_reader.h"
#include "api/frame/api_log.h"
#include "platform/device_loss.h"
#include "platform/format.h"
#include "platform/profile.h"
#include "platform/status_names.h"
#include "platform/win_error.h"

namespace kalvo::api {
namespace {

constexpr LogType kBanner = kLogFrame | kLevelEnd;

void reportLogFailure(uint32_t error) {
    const std::string folder = platform::fullPathName(".");
    std::fprintf(stderr,
                 "libKalvo: the library does not load: its log KalvoLog_<slot><n>.log "
                 "(KalvoLog_0000.log for the first program) cannot be opened in the folder %s: "
                 "%s. Run the program in its configuration folder as a user who may create and "
                 "write files there, or remove what stands in the log's place.\n",
                 folder.c_str(), platform::win32ErrorText(error).c_str());
}

// The mark of the device host that serves now, "KalvoHost_<identity>":
// true when this process made it, being the first to load the library since
// that host started. No host: no mark.
bool firstSinceHostStart(ApiLibrary& lib) {
    platform::DeviceHostStart host;
    if (!platform::currentDeviceHost(&host)) return false;
    char name[64];
    platform::formatTo(name, "KalvoHost_%08x%08x", static_cast<uint32_t>(host.identity >> 32),
                       static_cast<uint32_t>(host.identity));
    lib.hostMark = platform::Mutex::createOrOpen(name);
    return lib.hostMark.valid() && lib.hostMark.created();
}

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
        // The library does not run without its log; the program that loads
        // it has nowhere else to learn why.
        reportLogFailure(platform::lastError());
        delete lib;
        delete detail::gApiLog;
        detail::gApiLog = nullptr;
        return false;
    }
    apiLog().write(kBanner, "---------- Kalvo DLL (Kalvo.dll) Service Start ----------");
    const bool firstOnHost = firstSinceHostStart(*lib);
    lib->startedUp = lib->boards.startUp(lib->iniFile, apiLog().firstUser() || firstOnHost);
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
