#include "host/hot_plug.h"

namespace kalvo::kernel::host {

std::string rescanBoards(HardwareProvider& hardware, PnpManager& pnp) {
    hardware.rescan();
    // The PnP manager compares with what the hardware reports even when the
    // provider saw no change: a removal may wait for handles to close.
    PnpManager::RescanResult result = pnp.rescan();
    std::string text;
    for (const std::string& location : result.removed) text += "removed " + location + "\n";
    for (const std::string& location : result.added) text += "added " + location + "\n";
    return text;
}

HotPlugScanner::HotPlugScanner(HardwareProvider& hardware, PnpManager& pnp,
                               std::chrono::milliseconds period)
    : hardware_(hardware), pnp_(pnp), period_(period), thread_([this] { run(); }) {}

HotPlugScanner::~HotPlugScanner() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void HotPlugScanner::run() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, period_, [this] { return stopping_; })) {
        lock.unlock();
        rescanBoards(hardware_, pnp_);
        lock.lock();
    }
}

}  // namespace kalvo::kernel::host
