// A library that loads a module by bare name, as the API library loads its
// board libraries: the search starts in this library's own directory.
#include <cstring>

#include "platform/module.h"

using kalvo::platform::freeLibrary;
using kalvo::platform::getProcAddress;
using kalvo::platform::loadLibrary;

extern "C" [[gnu::visibility("default")]] const char* KV_loadProbe() {
    static char result[32];
    kalvo::platform::ModuleHandle probe = loadLibrary("SearchProbe");
    if (probe == nullptr) return "none";
    auto id = reinterpret_cast<const char* (*)()>(getProcAddress(probe, "KV_probeId"));
    std::strncpy(result, id != nullptr ? id() : "no symbol", sizeof result - 1);
    freeLibrary(probe);
    return result;
}
