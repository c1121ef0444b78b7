// Process attach and detach of libKalvo: run when the library is loaded and
// unloaded, by whatever loader.
#include "api/frame/api_library.h"
#include "platform/module.h"

namespace {

bool kalvoAttach() {
    return kalvo::api::attachLibrary();
}
void kalvoDetach() {
    kalvo::api::detachLibrary();
}

}  // namespace

KALVO_MODULE_ENTRY("Kalvo", kalvoAttach, kalvoDetach)
