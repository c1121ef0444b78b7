#include "kernel/transport/socket_folder.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace kalvo::kernel::transport {
namespace {

bool fillAddress(const std::string& path, sockaddr_un* addr) {
    *addr = {};
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

std::string hostSocketDirectory() {
    const char* overridden = std::getenv("KALVO_DEVICE_DIR");
    if (overridden && *overridden) return overridden;
    if (::geteuid() == 0) return "/run/kalvo";
    return "/tmp/kalvo-" + std::to_string(::geteuid());
}

bool prepareSocketFolder(const std::string& directory) {
    std::error_code ec;
    std::filesystem::path dir(directory);
    if (dir.has_parent_path()) std::filesystem::create_directories(dir.parent_path(), ec);
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(directory.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        errno = EACCES;
        return false;
    }
    // Nobody but the host may create, remove or rename anything here: the
    // group keeps at most read and search (the service's 0750), others
    // nothing. Clients refuse a folder that others may write.
    const mode_t mode = st.st_mode & 0750;
    return (st.st_mode & 07777) == mode || ::chmod(directory.c_str(), mode) == 0;
}

int listenAt(const std::string& path) {
    sockaddr_un addr;
    if (!fillAddress(path, &addr)) return -1;
    int sock = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (sock < 0) return -1;
    if (::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EADDRINUSE) {
            int err = errno;
            ::close(sock);
            errno = err;
            return -1;
        }
        // A socket file is there: in use by a live host, or left by a dead one.
        int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        bool live =
            probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0) ::close(probe);
        if (live || ::unlink(path.c_str()) != 0 ||
            ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(sock);
            errno = EADDRINUSE;
            return -1;
        }
    }
    // Connecting takes write permission on the socket: the group may, when
    // the folder lets it in at all.
    if (::chmod(path.c_str(), 0660) != 0 || ::listen(sock, 64) != 0) {
        int err = errno;
        ::close(sock);
        ::unlink(path.c_str());
        errno = err;
        return -1;
    }
    return sock;
}

}  // namespace kalvo::kernel::transport
