// Watches every open handle's connection for the client's end closing while
// its serving thread is busy in the driver (a client killed in the middle of
// a held request), and repeats cancels until the cancelled request ends.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "kernel/transport/client_connection.h"

namespace kalvo::kernel::transport {

class HangupWatcher {
  public:
    HangupWatcher() = default;
    ~HangupWatcher();
    HangupWatcher(const HangupWatcher&) = delete;
    HangupWatcher& operator=(const HangupWatcher&) = delete;

    bool start();  // false with errno
    void stop();

    void watch(const std::shared_ptr<ClientConnection>& connection);
    void forget(uint64_t connectionId);
    // Repeats the cancel of request seq (0: whatever runs) every few
    // milliseconds until it has ended.
    void repeatCancel(const std::shared_ptr<ClientConnection>& connection, uint32_t seq);

  private:
    void run();
    void wake();

    int epoll_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    bool stopping_ = false;
    std::map<uint64_t, std::weak_ptr<ClientConnection>> watched_;
    struct Retry {
        std::weak_ptr<ClientConnection> connection;
        uint32_t seq;
    };
    std::vector<Retry> retries_;
};

}  // namespace kalvo::kernel::transport
