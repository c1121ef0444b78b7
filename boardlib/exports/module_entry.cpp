// Load and unload of the shared library: the process attach opens the log
// (a log that cannot be opened refuses the load); the detach finishes and
// closes the open boards. Only the shared builds carry this file.
#include "boardlib/frame/library.h"
#include "platform/module.h"

namespace {
bool attach() {
    return kalvo::boardlib::libraryAttach();
}
void detach() {
    kalvo::boardlib::libraryDetach();
}
}  // namespace

KALVO_MODULE_ENTRY(kalvo::boardlib::kBuild.dllName, attach, detach)
