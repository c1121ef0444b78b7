// The one thread that steps every chip of a simulated machine. It keeps
// absolute deadlines (a late cycle does not shift the ones after it, and a
// cycle more than a whole period late is not made up in a burst: the
// schedule restarts from now), sleeps with a tight timer slack, and records
// how late each cycle started.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include <algorithm>

#include "sim/network/network.h"

namespace kalvo::sim {

class CycleThread {
  public:
    // Returns whether any line runs.
    using Step = std::function<bool()>;

    // Starts at once; step runs once per period on the thread while a line
    // runs, and once per idle period (the period, but at least 10 ms) while
    // none does: a stopped chip only watches for a start command, a reset
    // and mail requests to refuse, and an idle host should cost next to
    // nothing.
    CycleThread(uint32_t cycleMicros, Step step);
    ~CycleThread();  // stop()
    CycleThread(const CycleThread&) = delete;
    CycleThread& operator=(const CycleThread&) = delete;

    // Returns once the thread has ended; at most one sleep chunk (50 ms)
    // after the call. Idempotent.
    void stop();

    LineTiming timing() const;

  private:
    void run();

    const uint32_t cycleMicros_;
    const Step step_;
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> cycles_{0};
    std::atomic<uint64_t> worstLatenessNanos_{0};
    std::atomic<uint64_t> lateCycles_{0};
    std::thread thread_;
};

}  // namespace kalvo::sim
