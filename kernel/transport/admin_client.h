// The client side of the device host's admin channel (host/admin_server.h):
// one request line, the whole answer ("OK" or "ERROR <reason>" first). Used
// by kalvo-devctl and by kalvo, which asks the host what it serves.
#pragma once

#include <string>

namespace kalvo::kernel::transport {

inline const char* adminSocketName() {
    return "admin.sock";
}
std::string adminSocketPath(const std::string& directory);

// Sends one request, after the checks of platform/host_folder.h; false with
// a reason when the host cannot be reached or is not to be trusted.
bool adminRequest(const std::string& directory, const std::string& request, std::string* response,
                  std::string* error);

}  // namespace kalvo::kernel::transport
