// Modules: shared objects with Windows load semantics.
//
// A library declares its process attach and detach with KALVO_MODULE_ENTRY.
// Attach runs when the shared object is loaded by whatever loader (an ELF
// constructor): through loadLibrary, a direct dlopen, or linking at build
// time. Detach runs exactly once, on freeLibrary of the last reference or at
// process exit, and only after a successful attach.
//
// loadLibrary of a module whose attach fails unloads it again and returns
// null (ERROR_DLL_INIT_FAILED). A library linked at build time, or dlopen'ed
// directly, whose attach fails stops the process with a message on stderr and
// exit status 1: there is nobody to return the failure to.
#pragma once

#include "platform/export.h"

namespace kalvo::platform {

using ModuleHandle = struct ModuleRecord*;
using AttachFn = bool (*)();
using DetachFn = void (*)();

// LoadLibrary: a name without extension gets ".so"; a bare name is looked up
// in the directory of the calling library, then the current directory, then
// the system search path; a name with a '/' is used as it is. Null with the
// last error (ERROR_MOD_NOT_FOUND, ERROR_DLL_INIT_FAILED) on failure.
// Loading a loaded module adds a reference.
KALVO_PLATFORM_API ModuleHandle loadLibrary(const char* name);
// GetProcAddress: an exported symbol of the module itself; null with
// ERROR_PROC_NOT_FOUND when it has none of that name.
KALVO_PLATFORM_API void* getProcAddress(ModuleHandle module, const char* symbol);
// FreeLibrary: drops one reference; the last one runs detach and unloads.
KALVO_PLATFORM_API bool freeLibrary(ModuleHandle module);

// Called by KALVO_MODULE_ENTRY; not for direct use.
KALVO_PLATFORM_API void runModuleAttach(const char* moduleName, int* state, AttachFn attach);
KALVO_PLATFORM_API void runModuleDetach(const char* moduleName, int* state, DetachFn detach);

}  // namespace kalvo::platform

// Declares the module's process attach and detach. Use once per shared object.
#define KALVO_MODULE_ENTRY(moduleName, attachFn, detachFn)                           \
    namespace {                                                                      \
    int kalvoModuleState = 0;                                                        \
    [[gnu::constructor]] void kalvoModuleConstructor() {                             \
        ::kalvo::platform::runModuleAttach(moduleName, &kalvoModuleState, attachFn); \
    }                                                                                \
    [[gnu::destructor]] void kalvoModuleDestructor() {                               \
        ::kalvo::platform::runModuleDetach(moduleName, &kalvoModuleState, detachFn); \
    }                                                                                \
    }
