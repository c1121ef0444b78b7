#include "kernel/transport/admin_client.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/host_folder.h"

namespace kalvo::kernel::transport {

std::string adminSocketPath(const std::string& directory) {
    return directory + "/" + adminSocketName();
}

bool adminRequest(const std::string& directory, const std::string& request, std::string* response,
                  std::string* error) {
    // The same checks as a device handle's: a server in the folder that is
    // not the host never sees the request.
    platform::host_folder::Connection host =
        platform::host_folder::connectChecked(directory, adminSocketName(), SOCK_STREAM);
    if (host.outcome != platform::host_folder::Outcome::Connected) {
        *error = host.problem;
        return false;
    }
    const int sock = host.sock;
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
