// The device host's side of CreateFile / DeviceIoControl / CancelIo /
// CloseHandle: a socket server in front of the kernel (a DeviceBackend).
//
// Every client connection is one open handle and has its own thread, which
// sends the handle's requests into the kernel one at a time and forwards the
// kernel's view requests to the client. Clients must run as root, as the
// host's user or, when the folder admits it, in its group (peer_access.h);
// a connection that sends nothing for 5 s is dropped, and one user holds at
// most a set number of connections, so that nobody locks the others out. A client that closes or
// dies gets cleanup and close for its handle; one killed in the middle of a request has that
// request cancelled, and every other client goes on being served.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kernel/device_backend.h"
#include "kernel/transport/client_connection.h"
#include "kernel/transport/hangup_watcher.h"
#include "kernel/transport/peer_access.h"

namespace kalvo::kernel::transport {

class DeviceServer {
  public:
    explicit DeviceServer(DeviceBackend& backend);
    ~DeviceServer();  // stop()
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    // Who may connect; by default AccessPolicy::forFolder of the folder
    // start() is given. Set before start().
    void setAccessPolicy(const AccessPolicy& policy) { policy_ = policy; }
    // The most connections one user may hold at once (256 by default).
    void setMaxConnectionsPerUser(size_t count) { maxPerUser_ = count; }

    // Creates the folder (socket_folder.h) and listens on
    // "<directory>/devices.sock". False with errno (EADDRINUSE: another host
    // serves that folder).
    bool start(const std::string& directory);
    // Stops accepting, drops every client (their files get cleanup and
    // close) and joins all threads. The socket file is removed.
    void stop();

    const std::string& socketPath() const { return socketPath_; }

    // Open handles of clients and the views they hold for them.
    struct Counts {
        size_t handles = 0;
        size_t views = 0;
    };
    Counts counts();

    // Each open handle: the client process (pid and program name, from
    // /proc; "?" once it is gone), the device path it opened, its views.
    struct HandleInfo {
        uint32_t pid = 0;
        std::string program;
        std::string path;
        size_t views = 0;
    };
    std::vector<HandleInfo> handles();

  private:
    struct Worker {
        std::thread thread;
        int sock = -1;  // guarded by mutex_; -1 once the thread closed it
        bool done = false;
        uid_t uid = 0;
        std::shared_ptr<ClientConnection> connection;
    };

    void acceptLoop();
    void serveClient(Worker* worker, const Peer& peer);
    void serveCancel(int sock, const platform::device_wire::CancelFrame& frame);
    void reapFinished();

    DeviceBackend& backend_;
    HangupWatcher watcher_;
    std::optional<AccessPolicy> policy_;
    size_t maxPerUser_ = 256;
    std::string socketPath_;
    int listen_ = -1;
    int wakeFd_ = -1;
    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};

    std::mutex mutex_;
    std::list<Worker> workers_;
    struct OpenHandle {
        std::weak_ptr<ClientConnection> connection;
        std::string path;
        uint32_t pid = 0;
    };
    std::map<uint64_t, OpenHandle> open_;  // by connection id
    uint64_t nextId_ = 1;
};

}  // namespace kalvo::kernel::transport
