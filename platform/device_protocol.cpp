#include "platform/device_protocol.h"

#include <unistd.h>

#include <cstdlib>

namespace kalvo::platform::device_wire {

std::vector<std::string> socketDirectories() {
    const char* overridden = std::getenv("KALVO_DEVICE_DIR");
    if (overridden && *overridden) return {overridden};
    return {"/run/kalvo", "/tmp/kalvo-" + std::to_string(::geteuid())};
}

}  // namespace kalvo::platform::device_wire
