// The DPC thread: runs queued DPCs one at a time, in the order they were
// queued, at DISPATCH_LEVEL. The queue links the KDPC objects themselves.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "kernel/wdm.h"

namespace kalvo::kernel {

class DpcQueue {
  public:
    DpcQueue();
    ~DpcQueue();  // runs what is queued, then stops the thread
    DpcQueue(const DpcQueue&) = delete;
    DpcQueue& operator=(const DpcQueue&) = delete;

    bool insert(PRKDPC dpc, PVOID argument1, PVOID argument2);
    bool remove(PRKDPC dpc);
    // Waits until every DPC queued before the call has run. Does nothing on
    // the DPC thread itself (it would wait for itself).
    void flush();
    bool onDpcThread() const noexcept;

  private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable progress_;
    LIST_ENTRY queue_;
    std::unordered_map<PRKDPC, uint64_t> sequence_;  // of each queued DPC
    uint64_t queued_ = 0;                            // insertions so far
    uint64_t running_ = 0;                           // sequence of the running DPC, 0: none
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kalvo::kernel
