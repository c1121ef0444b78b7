#include "kernel/transport/hangup_watcher.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace kalvo::kernel::transport {
namespace {

constexpr int kRetryPeriodMs = 10;
constexpr uint64_t kWakeKey = 0;  // connection ids start at 1

}  // namespace

HangupWatcher::~HangupWatcher() {
    stop();
}

bool HangupWatcher::start() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epoll_ < 0 || wakeFd_ < 0) {
        int err = errno;
        stop();
        errno = err;
        return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeKey;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &ev) != 0) {
        int err = errno;
        stop();
        errno = err;
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void HangupWatcher::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (thread_.joinable()) {
        wake();
        thread_.join();
    }
    if (epoll_ >= 0) ::close(epoll_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
    epoll_ = wakeFd_ = -1;
    std::lock_guard lock(mutex_);
    watched_.clear();
    retries_.clear();
}

void HangupWatcher::wake() {
    uint64_t one = 1;
    ssize_t n = ::write(wakeFd_, &one, sizeof one);
    (void)n;
}

void HangupWatcher::watch(const std::shared_ptr<ClientConnection>& connection) {
    {
        std::lock_guard lock(mutex_);
        watched_[connection->id()] = connection;
    }
    // Only the end of the client's side is of interest here; its requests
    // are read by the connection's own thread. One shot: a closed end stays
    // closed.
    epoll_event ev{};
    ev.events = EPOLLRDHUP | EPOLLONESHOT;
    ev.data.u64 = connection->id();
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, connection->socket(), &ev);
}

void HangupWatcher::forget(uint64_t connectionId) {
    std::lock_guard lock(mutex_);
    watched_.erase(connectionId);
}

void HangupWatcher::repeatCancel(const std::shared_ptr<ClientConnection>& connection,
                                 uint32_t seq) {
    {
        std::lock_guard lock(mutex_);
        retries_.push_back({connection, seq});
    }
    wake();
}

void HangupWatcher::run() {
    epoll_event events[32];
    for (;;) {
        int timeout;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            timeout = retries_.empty() ? -1 : kRetryPeriodMs;
        }
        int n = ::epoll_wait(epoll_, events, 32, timeout);
        if (n < 0 && errno != EINTR) return;
        std::vector<std::shared_ptr<ClientConnection>> hungUp;
        {
            std::lock_guard lock(mutex_);
            for (int i = 0; i < n; ++i) {
                // epoll_event is packed: copy the key out rather than bind a
                // reference to a misaligned field.
                const uint64_t key = events[i].data.u64;
                if (key == kWakeKey) {
                    uint64_t count;
                    while (::read(wakeFd_, &count, sizeof count) > 0) {
                    }
                    continue;
                }
                auto it = watched_.find(key);
                if (it == watched_.end()) continue;
                if (auto c = it->second.lock()) hungUp.push_back(std::move(c));
                watched_.erase(it);
            }
        }
        for (auto& c : hungUp) {
            c->hangUp();
            repeatCancel(c, 0);
        }
        std::vector<Retry> retries;
        {
            std::lock_guard lock(mutex_);
            retries.swap(retries_);
        }
        std::vector<Retry> keep;
        for (auto& r : retries) {
            auto c = r.connection.lock();
            if (c && c->cancelAgain(r.seq)) keep.push_back(std::move(r));
        }
        std::lock_guard lock(mutex_);
        retries_.insert(retries_.end(), keep.begin(), keep.end());
    }
}

}  // namespace kalvo::kernel::transport
