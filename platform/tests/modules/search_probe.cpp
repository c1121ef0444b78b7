// Built twice under one file name into two directories; each copy tells
// which one it is, so a test sees which one the search found.
#include "platform/module.h"

extern "C" [[gnu::visibility("default")]] const char* KV_probeId() {
    return KALVO_PROBE_ID;
}
