#include "platform/module.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/win_error.h"

namespace kalvo::platform {

// One per module loaded through loadLibrary; the handle given to callers.
struct ModuleRecord {
    void* dl = nullptr;
    int refs = 0;  // loadLibrary calls not yet freed; each holds one dlopen
};

namespace {

// Module state words kept by KALVO_MODULE_ENTRY in each module.
constexpr int kNotAttached = 0;
constexpr int kAttached = 1;
constexpr int kAttachFailed = 2;
constexpr int kDetached = 3;

// A loadLibrary in progress on this thread. Attach runs inside dlopen on the
// loading thread, so a failing attach reports to the innermost load; loads
// nest when an attach loads further modules.
struct LoadFrame {
    bool attachFailed = false;
    LoadFrame* outer = nullptr;
};
thread_local LoadFrame* tLoad = nullptr;

std::mutex gRegistryLock;
std::unordered_map<void*, ModuleRecord*>& registry() {
    static auto* map = new std::unordered_map<void*, ModuleRecord*>;  // lives to the very end
    return *map;
}

bool isRegular(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A file of folder dir whose name matches name without regard to ASCII case
// (the library names a configuration gives were written for a file system
// that ignores case). The lowest such name in byte order when several match,
// so the choice does not depend on the directory's order. Empty when none.
std::string caseInsensitiveMatch(const std::string& dir, const std::string& name) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return std::string();
    std::string best;
    while (const dirent* entry = ::readdir(d)) {
        const char* candidate = entry->d_name;
        if (std::strlen(candidate) != name.size() || ::strcasecmp(candidate, name.c_str()) != 0)
            continue;
        std::string path = (dir.empty() ? std::string(".") : dir) + "/" + candidate;
        if (isRegular(path) && (best.empty() || path < best)) best = path;
    }
    ::closedir(d);
    return best;
}

// The directory of the shared object (or program) that holds code address.
std::string directoryOfCode(const void* address) {
    Dl_info info{};
    link_map* map = nullptr;
    if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
        return std::string();
    }
    std::string file;
    if (map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
        file = map->l_name;
    } else {
        // The main program has no name in the link map.
        char exe[4096];
        ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) return std::string();
        file.assign(exe, static_cast<size_t>(n));
    }
    size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

ModuleRecord* findRecord(ModuleHandle module) {
    for (auto& [dl, record] : registry()) {
        if (record == module) return record;
    }
    return nullptr;
}

// dlopen under a load frame. Null when the file is not loadable or when
// an attach failed while it loaded (then it is unloaded again).
void* openModule(const std::string& path, bool& attachFailed) {
    LoadFrame frame;
    frame.outer = tLoad;
    tLoad = &frame;
    void* dl = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    tLoad = frame.outer;
    attachFailed = frame.attachFailed;
    if (dl != nullptr && attachFailed) {
        ::dlclose(dl);
        dl = nullptr;
    }
    return dl;
}

}  // namespace

ModuleHandle loadLibrary(const char* name) {
    const void* caller = __builtin_extract_return_addr(__builtin_return_address(0));
    if (name == nullptr || name[0] == '\0') {
        setLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* dl = nullptr;
    bool attachFailed = false;
    try {
        std::string file(name);
        for (char& c : file) {
            if (c == '\\') c = '/';
        }
        size_t slash = file.rfind('/');
        size_t base = slash == std::string::npos ? 0 : slash + 1;
        // "name" gets ".so"; "name." means a file without extension.
        size_t dot = file.find('.', base);
        if (dot == std::string::npos) {
            file += ".so";
        } else if (dot == file.size() - 1) {
            file.pop_back();
        }

        // Folders searched for a name that differs only in case, once the
        // exact name was not found.
        std::vector<std::string> caseFolders;
        if (slash != std::string::npos) {
            if (isRegular(file)) {
                dl = openModule(file, attachFailed);
            } else {
                caseFolders.push_back(slash == 0 ? std::string("/") : file.substr(0, slash));
                file = file.substr(base);
            }
        } else {
            // The calling library's directory, then the current directory,
            // then the loader's own search path. The first file found is the
            // one loaded, loadable or not.
            std::string callerDir = directoryOfCode(caller);
            std::string here = "./" + file;
            if (!callerDir.empty() && isRegular(callerDir + "/" + file)) {
                dl = openModule(callerDir + "/" + file, attachFailed);
            } else if (isRegular(here)) {
                dl = openModule(here, attachFailed);
            } else {
                dl = openModule(file, attachFailed);
                if (dl == nullptr && !attachFailed) {
                    if (!callerDir.empty()) caseFolders.push_back(callerDir);
                    caseFolders.push_back(".");
                }
            }
        }
        for (const std::string& folder : caseFolders) {
            std::string match = caseInsensitiveMatch(folder, file);
            if (match.empty()) continue;
            dl = openModule(match, attachFailed);
            break;
        }
        if (dl == nullptr) {
            setLastError(attachFailed ? ERROR_DLL_INIT_FAILED : ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(gRegistryLock);
        ModuleRecord*& record = registry()[dl];
        if (record == nullptr) {
            record = new ModuleRecord;
            record->dl = dl;
        }
        ++record->refs;
        return record;
    } catch (const std::bad_alloc&) {
        if (dl != nullptr) ::dlclose(dl);
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

void* getProcAddress(ModuleHandle module, const char* symbol) {
    void* dl = nullptr;
    {
        std::lock_guard<std::mutex> lock(gRegistryLock);
        ModuleRecord* record = findRecord(module);
        if (record == nullptr) {
            setLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        dl = record->dl;
    }
    // Names below 64 Ki are export ordinals on Windows; modules here export
    // by name only, and such a "pointer" must not be read.
    if (reinterpret_cast<uintptr_t>(symbol) < 0x10000u) {
        setLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* address = ::dlsym(dl, symbol);
    if (address == nullptr) {
        setLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    // dlsym also searches the module's dependencies; an export is only what
    // the module itself defines.
    link_map* own = nullptr;
    link_map* found = nullptr;
    Dl_info info{};
    if (::dlinfo(dl, RTLD_DI_LINKMAP, &own) != 0 ||
        ::dladdr1(address, &info, reinterpret_cast<void**>(&found), RTLD_DL_LINKMAP) == 0 ||
        own != found) {
        setLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return address;
}

bool freeLibrary(ModuleHandle module) {
    void* dl = nullptr;
    {
        std::lock_guard<std::mutex> lock(gRegistryLock);
        ModuleRecord* record = findRecord(module);
        if (record == nullptr) {
            setLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        dl = record->dl;
        if (--record->refs == 0) {
            registry().erase(dl);
            delete record;
        }
    }
    // Each loadLibrary holds one dlopen reference; the last dlclose runs the
    // module's destructor, hence its detach, and unmaps it.
    ::dlclose(dl);
    return true;
}

void runModuleAttach(const char* moduleName, int* state, AttachFn attach) {
    if (*state != kNotAttached) return;
    bool ok = attach == nullptr || attach();
    if (ok) {
        *state = kAttached;
        return;
    }
    *state = kAttachFailed;
    if (tLoad != nullptr) {
        tLoad->attachFailed = true;
        return;
    }
    // Loaded at program start or by a plain dlopen: nobody can be told, and
    // the program must not run on without the module.
    std::fprintf(stderr, "%s: process attach failed\n", moduleName ? moduleName : "module");
    std::fflush(stderr);
    ::_exit(1);
}

void runModuleDetach(const char* /*moduleName*/, int* state, DetachFn detach) {
    if (*state != kAttached) return;
    *state = kDetached;
    if (detach != nullptr) detach();
}

}  // namespace kalvo::platform
