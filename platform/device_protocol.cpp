#include "platform/device_protocol.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/host_folder.h"

namespace kalvo::platform::device_wire {
namespace {

constexpr const char* kServiceFolder = host_folder::kServiceFolder;

std::string userFolder(uid_t uid) {
    return "/tmp/kalvo-" + std::to_string(uid);
}

// Connecting to a Unix socket takes search permission on its folder and
// write permission on the socket file.
bool socketReachable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
           ::access(path.c_str(), W_OK) == 0;
}

}  // namespace

std::string clientSocketDirectory(const char* overridden, uid_t uid,
                                  const std::function<bool(const std::string&)>& reachable) {
    if (overridden && *overridden) return overridden;
    if (uid == 0) return kServiceFolder;
    if (reachable(std::string(kServiceFolder) + "/" + kSocketName)) return kServiceFolder;
    return userFolder(uid);
}

std::string clientSocketDirectory() {
    return clientSocketDirectory(std::getenv("KALVO_DEVICE_DIR"), ::geteuid(), socketReachable);
}

}  // namespace kalvo::platform::device_wire
