#include "kernel/transport/admin_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kalvo::kernel::transport {

std::string adminSocketPath(const std::string& directory) {
    return directory + "/admin.sock";
}

bool adminRequest(const std::string& directory, const std::string& request, std::string* response,
                  std::string* error) {
    std::string path = adminSocketPath(directory);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        *error = "socket path too long: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        *error = std::strerror(errno);
        return false;
    }
    if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        *error = "no device host at " + directory + ": " + std::strerror(errno);
        close(sock);
        return false;
    }
    std::string line = request + "\n";
    for (size_t sent = 0; sent < line.size();) {
        ssize_t n = send(sock, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = std::strerror(errno);
            close(sock);
            return false;
        }
        sent += size_t(n);
    }
    shutdown(sock, SHUT_WR);
    response->clear();
    char buffer[4096];
    for (;;) {
        ssize_t n = recv(sock, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        response->append(buffer, size_t(n));
    }
    close(sock);
    if (response->empty()) {
        *error = "the device host closed the connection without an answer";
        return false;
    }
    return true;
}

}  // namespace kalvo::kernel::transport
