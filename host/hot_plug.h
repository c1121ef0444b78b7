// Boards plugged in and pulled while the host runs. The hardware is looked
// at again (the provider's rescan), then the PnP manager turns a board that
// went into a surprise removal and a new one into a device start. A
// scanner does this periodically for hardware that can change; the admin
// request "rescan" does it at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "kernel/hardware_provider.h"
#include "kernel/pnp_manager.h"

namespace kalvo::kernel::host {

// One rescan; the text lists what changed, a line "removed <location>" or
// "added <location>" each.
std::string rescanBoards(HardwareProvider& hardware, PnpManager& pnp);

class HotPlugScanner {
  public:
    HotPlugScanner(HardwareProvider& hardware, PnpManager& pnp, std::chrono::milliseconds period);
    ~HotPlugScanner();  // stops the thread; a scan under way ends first
    HotPlugScanner(const HotPlugScanner&) = delete;
    HotPlugScanner& operator=(const HotPlugScanner&) = delete;

  private:
    void run();

    HardwareProvider& hardware_;
    PnpManager& pnp_;
    const std::chrono::milliseconds period_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kalvo::kernel::host
