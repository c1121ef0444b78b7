// The host side of the admin channel: one thread that accepts requests and
// answers them from the PnP manager, the error log and the hardware.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kernel/transport/peer_access.h"

namespace kalvo::kernel {
class Kernel;
class PnpManager;
class HardwareProvider;
}  // namespace kalvo::kernel

namespace kalvo::kernel::host {

class AdminServer {
  public:
    AdminServer(Kernel& kernel, PnpManager& pnp, HardwareProvider& hardware,
                std::function<void()> requestShutdown);
    ~AdminServer();  // stop()
    AdminServer(const AdminServer&) = delete;
    AdminServer& operator=(const AdminServer&) = delete;

    // Requests whose first word is "sim" go to this handler with their
    // words; it returns the whole answer ("OK\n..." or "ERROR <reason>\n").
    // Set before start(). Without one they are refused. This keeps the
    // kernel side free of the simulation's types.
    using SimHandler = std::function<std::string(const std::vector<std::string>& words)>;
    void setSimHandler(SimHandler handler) { simHandler_ = std::move(handler); }
    // The "handles" request's answer after "OK": the device server's open
    // handles and views and the lines brought to their safe state. Set
    // before start().
    void setHandlesReport(std::function<std::string()> report) {
        handlesReport_ = std::move(report);
    }

    // The programs that hold devices, one text each ("pid 812 (kalvo-sample):
    // \\.\tolva0"): "shutdown" refuses while there are any, "shutdown
    // force" goes ahead. Set before start().
    void setHolders(std::function<std::vector<std::string>()> holders) {
        holders_ = std::move(holders);
    }
    // Who may ask, and who may change (admin_access.h); by default
    // AccessPolicy::forFolder of the folder start() is given. Set before
    // start().
    void setAccessPolicy(const transport::AccessPolicy& policy) { policy_ = policy; }

    // Listens on the admin socket in the folder (replacing a stale one).
    bool start(const std::string& directory, std::string* error);
    void stop();

    // The answer to one request line, asked by peer: a request it may not
    // make is refused with the reason.
    std::string handleFrom(const transport::Peer& peer, const std::string& request);
    // The answer to one request line (also used directly by tests).
    std::string handle(const std::string& request);

  private:
    friend struct AdminHandlers;  // one handler per request (admin_server.cpp)
    void run();

    Kernel& kernel_;
    PnpManager& pnp_;
    HardwareProvider& hardware_;
    std::function<void()> requestShutdown_;
    SimHandler simHandler_;
    std::function<std::string()> handlesReport_;
    std::function<std::vector<std::string>()> holders_;
    std::optional<transport::AccessPolicy> policy_;
    std::string path_;
    int listen_ = -1;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace kalvo::kernel::host
