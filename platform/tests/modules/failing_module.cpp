// A module whose attach fails. Its detach must never run.
#include "platform/module.h"
#include "platform/tests/modules/event_log.h"

namespace {
bool attach() {
    logModuleEvent("FailingModule attach\n");
    return false;
}
void detach() {
    logModuleEvent("FailingModule detach\n");
}
}  // namespace

KALVO_MODULE_ENTRY("FailingModule", attach, detach)

extern "C" [[gnu::visibility("default")]] int KV_failing() {
    return 1;
}
