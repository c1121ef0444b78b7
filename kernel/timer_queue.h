// The timer thread: keeps the pending KTIMERs ordered by expiry, sleeps
// until the earliest one is due (an absolute CLOCK_MONOTONIC wait, so a
// 10 ms timer re-armed from its DPC keeps its period within well under a
// millisecond on an idle machine), signals it and queues its DPC.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "kernel/wdm.h"

namespace kalvo::kernel {

class DpcQueue;

class TimerQueue {
  public:
    explicit TimerQueue(DpcQueue& dpcs);
    ~TimerQueue();  // pending timers are dropped
    TimerQueue(const TimerQueue&) = delete;
    TimerQueue& operator=(const TimerQueue&) = delete;

    // deadlineNs: monotonic. Returns true when the timer was pending (the
    // old expiry is replaced).
    bool set(PKTIMER timer, int64_t deadlineNs, LONG periodMs, PKDPC dpc);
    bool cancel(PKTIMER timer);

  private:
    void run();
    bool unlink(PKTIMER timer);  // with mutex_ held

    DpcQueue& dpcs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::set<std::pair<int64_t, PKTIMER>> pending_;
    bool stopping_ = false;
    std::thread thread_;
};

void initializeTimerHeader(PKTIMER timer, bool synchronization);
void signalDispatcherObject(DISPATCHER_HEADER* header);

}  // namespace kalvo::kernel
