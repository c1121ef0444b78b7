// A module whose attach succeeds; it logs attach and detach.
#include "platform/module.h"
#include "platform/tests/modules/event_log.h"

namespace {
bool attach() {
    logModuleEvent("CountingModule attach\n");
    return true;
}
void detach() {
    logModuleEvent("CountingModule detach\n");
}
}  // namespace

KALVO_MODULE_ENTRY("CountingModule", attach, detach)

extern "C" [[gnu::visibility("default")]] int KV_answer() {
    return 42;
}
