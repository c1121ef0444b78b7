// The device host's admin channel: a stream socket "admin.sock" beside the
// device socket, in the same folder. A request is one text line; the
// answer is "OK" or "ERROR <reason>" on its first line, then any text, and
// the host closes the connection. Requests:
//   ping | list | log | shutdown
//   start <location> [one-memory-range | fail-map] | stop <location>
//   remove <location> | surprise <location> | power <S0..S5>
//   read <location> <window> <offset> <length>
//   write <location> <window> <offset> <hex bytes>
//   sim <request...>  (the simulated network; sim_usage.h)
#pragma once

#include <string>

namespace kalvo::kernel::host {

inline const char* adminSocketName() {
    return "admin.sock";
}
std::string adminSocketPath(const std::string& directory);

// Sends one request, after the checks of platform/host_folder.h; false with
// a reason when the host cannot be reached or is not to be trusted.
bool adminRequest(const std::string& directory, const std::string& request, std::string* response,
                  std::string* error);

}  // namespace kalvo::kernel::host
