#include "kernel/transport/device_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <vector>

#include "kernel/transport/socket_folder.h"
#include "platform/host_folder.h"

namespace kalvo::kernel::transport {
namespace {

namespace wire = platform::device_wire;
using namespace platform;

// Open handles of all clients together; one thread each.
constexpr size_t kMaxClients = 1024;
// A client sends its first frame as soon as it connects; a connection that
// stays silent only holds a thread.
constexpr int kFirstFrameMs = 5000;

uint64_t randomToken() {
    uint64_t token = 0;
    if (::getrandom(&token, sizeof token, 0) != sizeof token)
        token = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return token;
}

// The answer to a connection that will not be served: the status, and the
// reason in words after the record for the client to show.
bool sendRefusal(int sock, NTSTATUS status, const std::string& why, int flags = 0) {
    auto reply = wire::makeFrame<wire::OpenReplyFrame>(wire::FrameType::OpenReply, why.size());
    reply.status = status;
    iovec parts[2] = {{&reply, sizeof reply}, {const_cast<char*>(why.data()), why.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = why.empty() ? 1 : 2;
    return ::sendmsg(sock, &message, flags | MSG_NOSIGNAL) >= 0;
}

// Answers a connection that will not be served, without ever blocking on it.
void refuse(int sock, NTSTATUS status, const std::string& why = {}) {
    sendRefusal(sock, status, why, MSG_DONTWAIT);
    ::close(sock);
}

}  // namespace

DeviceServer::DeviceServer(DeviceBackend& backend) : backend_(backend) {}

DeviceServer::~DeviceServer() {
    stop();
}

bool DeviceServer::start(const std::string& directory) {
    if (listen_ >= 0) {
        errno = EBUSY;
        return false;
    }
    if (!prepareSocketFolder(directory)) return false;
    if (!policy_) policy_ = AccessPolicy::forFolder(directory);
    std::string path = directory + "/" + wire::kSocketName;
    int sock = listenAt(path);
    if (sock < 0) return false;
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0 || !watcher_.start()) {
        int err = errno;
        ::close(sock);
        if (wakeFd_ >= 0) ::close(wakeFd_);
        wakeFd_ = -1;
        ::unlink(path.c_str());
        errno = err;
        return false;
    }
    listen_ = sock;
    socketPath_ = path;
    stopping_ = false;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void DeviceServer::stop() {
    if (listen_ < 0) return;
    stopping_ = true;
    uint64_t one = 1;
    ssize_t n = ::write(wakeFd_, &one, sizeof one);
    (void)n;
    if (acceptThread_.joinable()) acceptThread_.join();
    ::close(listen_);
    listen_ = -1;
    ::close(wakeFd_);
    wakeFd_ = -1;
    ::unlink(socketPath_.c_str());

    // Every client's end is shut: idle connections see the end at once,
    // requests in the driver are cancelled until they give way.
    std::vector<std::shared_ptr<ClientConnection>> connections;
    {
        std::lock_guard lock(mutex_);
        for (Worker& w : workers_) {
            if (w.connection) w.connection->dropByServer();
            if (w.sock >= 0) ::shutdown(w.sock, SHUT_RDWR);
            if (w.connection) connections.push_back(w.connection);
        }
    }
    for (auto& c : connections) c->hangUp();
    for (;;) {
        bool allDone = true;
        {
            std::lock_guard lock(mutex_);
            for (Worker& w : workers_) allDone = allDone && w.done;
        }
        if (allDone) break;
        for (auto& c : connections) c->cancelAgain(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::list<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
        open_.clear();
    }
    for (Worker& w : workers) w.thread.join();
    watcher_.stop();
}

DeviceServer::Counts DeviceServer::counts() {
    Counts counts;
    std::lock_guard lock(mutex_);
    for (auto& [id, handle] : open_) {
        if (auto connection = handle.connection.lock()) {
            ++counts.handles;
            counts.views += connection->views();
        }
    }
    return counts;
}

std::vector<DeviceServer::HandleInfo> DeviceServer::handles() {
    std::vector<HandleInfo> list;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, handle] : open_) {
            if (auto connection = handle.connection.lock())
                list.push_back({handle.pid, {}, handle.path, connection->views()});
        }
    }
    for (HandleInfo& h : list) {
        std::ifstream comm("/proc/" + std::to_string(h.pid) + "/comm");
        if (!std::getline(comm, h.program) || h.program.empty()) h.program = "?";
    }
    return list;
}

void DeviceServer::acceptLoop() {
    while (!stopping_) {
        pollfd p[2] = {{listen_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        int rc = ::poll(p, 2, -1);
        if (rc < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (stopping_) return;
        if (!(p[0].revents & POLLIN)) continue;
        int sock = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (sock < 0) {
            // Out of descriptors or a client that gave up: try again shortly.
            if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        Peer peer;
        if (!readPeer(sock, &peer)) {
            ::close(sock);
            continue;
        }
        reapFinished();
        std::lock_guard lock(mutex_);
        if (workers_.size() >= kMaxClients) {
            refuse(sock, STATUS_INSUFFICIENT_RESOURCES,
                   "the device host serves " + std::to_string(kMaxClients) +
                       " connections already, the most it can");
            continue;
        }
        size_t held = 0;
        for (const Worker& w : workers_) held += !w.done && w.uid == peer.uid;
        if (peer.uid != 0 && held >= maxPerUser_) {
            refuse(sock, STATUS_INSUFFICIENT_RESOURCES,
                   "user " + platform::host_folder::userName(peer.uid) + " holds " +
                       std::to_string(held) +
                       " connections to the device host, the most one user may "
                       "(kalvo-devhost --max-user-connections); close handles first");
            continue;
        }
        Worker& w = workers_.emplace_back();
        w.sock = sock;
        w.uid = peer.uid;
        try {
            w.thread = std::thread(
                [this, worker = &w, peer = std::move(peer)] { serveClient(worker, peer); });
        } catch (...) {
            workers_.pop_back();
            refuse(sock, STATUS_INSUFFICIENT_RESOURCES);
        }
    }
}

void DeviceServer::reapFinished() {
    std::list<Worker> finished;
    {
        std::lock_guard lock(mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            auto next = std::next(it);
            if (it->done) finished.splice(finished.end(), workers_, it);
            it = next;
        }
    }
    for (Worker& w : finished) w.thread.join();
}

void DeviceServer::serveClient(Worker* worker, const Peer& who) {
    const int sock = worker->sock;
    std::vector<uint8_t> buffer;
    size_t length = 0;
    pollfd first{sock, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&first, 1, kFirstFrameMs);
    } while (ready < 0 && errno == EINTR);
    // The first frame is read before a stranger is refused: closing a socket
    // with unread data would reset the connection and lose the answer.
    bool framed =
        ready == 1 && wire::receiveFrame(sock, buffer, &length) == wire::ReceiveResult::Frame;
    const ucred peer{who.pid, who.uid, who.gid};
    if (framed && !policy_->mayUse(who)) {
        sendRefusal(sock, STATUS_ACCESS_DENIED, policy_->useRefusal(who));
    } else if (framed) {
        wire::OpenFrame open;
        wire::CancelFrame cancel;
        if (wire::parseFrame(buffer, length, wire::FrameType::Open, &open)) {
            if (open.pathLength <= wire::kMaxPathLength &&
                open.pathLength == length - sizeof open) {
                std::string path(reinterpret_cast<const char*>(buffer.data() + sizeof open),
                                 open.pathLength);
                std::shared_ptr<ClientConnection> connection;
                {
                    std::lock_guard lock(mutex_);
                    uint64_t id = nextId_++;
                    connection =
                        std::make_shared<ClientConnection>(sock, peer, backend_, id, randomToken());
                    worker->connection = connection;
                    open_[id] = {connection, path, static_cast<uint32_t>(peer.pid)};
                }
                // Watched from before the open: a create that the driver
                // holds is cancelled when its client hangs up.
                watcher_.watch(connection);
                if (connection->open(open, std::move(path))) connection->serve();
                watcher_.forget(connection->id());
                std::lock_guard lock(mutex_);
                open_.erase(connection->id());
            }
        } else if (wire::parseFrame(buffer, length, wire::FrameType::Cancel, &cancel)) {
            serveCancel(sock, cancel);
        }
    }
    std::lock_guard lock(mutex_);
    ::close(sock);
    worker->sock = -1;
    worker->connection.reset();
    worker->done = true;
}

void DeviceServer::serveCancel(int sock, const wire::CancelFrame& frame) {
    std::shared_ptr<ClientConnection> target;
    {
        std::lock_guard lock(mutex_);
        auto it = open_.find(frame.connectionId);
        if (it != open_.end()) target = it->second.connection.lock();
    }
    auto ack = wire::makeFrame<wire::CancelAckFrame>(wire::FrameType::CancelAck);
    if (!target || target->token() != frame.token) {
        ack.status = STATUS_INVALID_HANDLE;
    } else {
        target->cancel(frame.seq);
        watcher_.repeatCancel(target, frame.seq);
        ack.status = STATUS_SUCCESS;
    }
    wire::sendFrame(sock, &ack, sizeof ack);
}

}  // namespace kalvo::kernel::transport
