#include "platform/device_loss.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "platform/device_protocol.h"
#include "platform/device_views.h"
#include "platform/host_folder.h"

namespace kalvo::platform {
namespace {

constexpr uint64_t kWakeKey = 0;  // handle values are never 0

// The socket file's identity: a new host binds a new socket.
bool socketIdentity(const std::string& path, uint64_t* identity, int64_t* startedNs) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
    const int64_t ns = int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
    // FNV-1a over device, inode and time.
    uint64_t h = 1469598103934665603ull;
    for (uint64_t part : {uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(ns)}) {
        for (int i = 0; i < 8; ++i) {
            h ^= (part >> (8 * i)) & 0xFF;
            h *= 1099511628211ull;
        }
    }
    *identity = h;
    if (startedNs) *startedNs = ns;
    return true;
}

struct Watch {
    int sock = -1;
    std::string socketPath;
    uint64_t hostIdentity = 0;  // of the socket when the watch began
    pid_t hostPid = 0;
    DeviceLossHandler handler = nullptr;
    void* context = nullptr;
};

class Watcher {
  public:
    bool watch(HANDLE handle, int sock, const std::string& socketPath, DeviceLossHandler handler,
               void* context) {
        std::unique_lock lock(mutex_);
        if (!startLocked()) return false;
        const uint64_t key = reinterpret_cast<uintptr_t>(handle);
        if (watches_.count(key)) return false;
        Watch w;
        w.sock = sock;
        w.socketPath = socketPath;
        socketIdentity(socketPath, &w.hostIdentity, nullptr);
        ucred peer{};
        socklen_t length = sizeof peer;
        if (::getsockopt(sock, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
            length == sizeof peer)
            w.hostPid = peer.pid;
        w.handler = handler;
        w.context = context;
        // The end of the host's side only; the requests are read by their
        // callers. Once: an ended connection stays ended.
        epoll_event ev{};
        ev.events = EPOLLRDHUP | EPOLLONESHOT;
        ev.data.u64 = key;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, sock, &ev) != 0) return false;
        watches_[key] = std::move(w);
        return true;
    }

    void forget(HANDLE handle) {
        const uint64_t key = reinterpret_cast<uintptr_t>(handle);
        std::unique_lock lock(mutex_);
        auto it = watches_.find(key);
        if (it != watches_.end()) {
            ::epoll_ctl(epoll_, EPOLL_CTL_DEL, it->second.sock, nullptr);
            watches_.erase(it);
        }
        // A handler of this handle that already runs finishes first: its
        // context may go right after.
        idle_.wait(lock, [&] { return firing_ != key; });
    }

    std::string lastLoss() {
        std::lock_guard lock(mutex_);
        return lastLoss_;
    }

    // Ends the thread (the library unloads, or the process exits).
    void stop() {
        std::thread thread;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            if (owner_ == ::getpid()) thread.swap(thread_);
        }
        if (thread.joinable()) {
            uint64_t one = 1;
            ssize_t n = ::write(wakeFd_, &one, sizeof one);
            (void)n;
            thread.join();
        }
    }

  private:
    bool startLocked() {
        if (stopping_) return false;
        if (owner_ != ::getpid()) {
            // A child forked from a process that watched: the thread, and the
            // watches, stayed in the parent, and the epoll set is the
            // parent's. Start afresh with sets of its own.
            if (thread_.joinable()) new (&thread_) std::thread;  // forgotten, not joined
            for (int* fd : {&epoll_, &wakeFd_}) {
                if (*fd >= 0) ::close(*fd);
                *fd = -1;
            }
            watches_.clear();
            owner_ = ::getpid();
        }
        if (thread_.joinable()) return true;
        if (epoll_ < 0) epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (wakeFd_ < 0) wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (epoll_ < 0 || wakeFd_ < 0) return false;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kWakeKey;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &ev) != 0 && errno != EEXIST) return false;
        try {
            thread_ = std::thread([this] { run(); });
        } catch (...) {
            return false;
        }
        return true;
    }

    static std::string reason(const Watch& w) {
        std::string host = "the device host";
        if (w.hostPid > 0) host += " (pid " + std::to_string(w.hostPid) + ")";
        uint64_t now = 0;
        // An orderly stop removes the socket before it lets its clients go;
        // a killed host leaves it behind; a new host binds a new one.
        if (!socketIdentity(w.socketPath, &now, nullptr)) return host + " was stopped";
        if (now != w.hostIdentity) return host + " was replaced by another host";
        return host + " ended without stopping its devices (killed or crashed)";
    }

    void run() {
        epoll_event events[16];
        for (;;) {
            const int n = ::epoll_wait(epoll_, events, 16, -1);
            if (n < 0 && errno != EINTR) return;
            for (int i = 0; i < n; ++i) {
                const uint64_t key = events[i].data.u64;  // copied out of the packed event
                if (key == kWakeKey) {
                    uint64_t count;
                    while (::read(wakeFd_, &count, sizeof count) > 0) {
                    }
                    continue;
                }
                Watch w;
                {
                    std::lock_guard lock(mutex_);
                    auto it = watches_.find(key);
                    if (it == watches_.end()) continue;
                    w = std::move(it->second);
                    watches_.erase(it);
                    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, w.sock, nullptr);
                    firing_ = key;
                }
                const std::string why = reason(w);
                {
                    std::lock_guard lock(mutex_);
                    lastLoss_ = why;
                }
                w.handler(w.context, why.c_str());
                {
                    std::lock_guard lock(mutex_);
                    firing_ = 0;
                }
                idle_.notify_all();
            }
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
    }

    std::mutex mutex_;
    std::condition_variable idle_;
    std::map<uint64_t, Watch> watches_;
    uint64_t firing_ = 0;  // the handle whose handler runs
    std::string lastLoss_;
    bool stopping_ = false;
    int epoll_ = -1;
    int wakeFd_ = -1;
    pid_t owner_ = 0;  // the process the thread and the sets belong to
    std::thread thread_;
};

// Never freed: handles may be closed during exit, after static destructors.
Watcher& watcher() {
    static Watcher* w = new Watcher;
    return *w;
}

// The thread's code lives in this library: it ends before the library goes.
struct StopAtUnload {
    ~StopAtUnload() { watcher().stop(); }
} gStopAtUnload;

}  // namespace

namespace device_loss {

bool watch(HANDLE handle, int sock, const std::string& socketPath, DeviceLossHandler handler,
           void* context) noexcept {
    try {
        return watcher().watch(handle, sock, socketPath, handler, context);
    } catch (...) {
        return false;
    }
}

void forget(HANDLE handle) noexcept {
    try {
        watcher().forget(handle);
    } catch (...) {
    }
}

}  // namespace device_loss

std::string lastDeviceLoss() {
    return watcher().lastLoss();
}

void unwatchDeviceLoss(HANDLE handle) noexcept {
    device_loss::forget(handle);
}

bool retireDeviceView(const void* address, bool accessible) noexcept {
    return NT_SUCCESS(device_views::retire(reinterpret_cast<uintptr_t>(address), accessible));
}

bool currentDeviceHost(DeviceHostStart* host) noexcept {
    try {
        for (const std::string& dir : host_folder::candidateFolders()) {
            const std::string path = dir + "/" + device_wire::kSocketName;
            if (socketIdentity(path, &host->identity, &host->startedNs)) {
                host->socketPath = path;
                return true;
            }
        }
    } catch (...) {
    }
    return false;
}

}  // namespace kalvo::platform
