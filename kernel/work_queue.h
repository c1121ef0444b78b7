// The system worker thread: runs work items at PASSIVE_LEVEL, one at a time,
// in the order they were queued.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kalvo::kernel {

class WorkQueue {
  public:
    WorkQueue();
    ~WorkQueue();  // runs what is queued, then stops the thread
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    void queue(std::function<void()> item);
    // Waits until nothing is queued or running (not on the worker itself).
    void drain();
    bool onWorkerThread() const noexcept;

    // For tests: the next count work items cannot be allocated
    // (IoAllocateWorkItem returns null), as when the system is out of memory.
    void refuseItems(int count) noexcept { refusals_.store(count); }
    // True (and one refusal fewer) while refusals are left.
    bool takeRefusal() noexcept {
        int n = refusals_.load();
        while (n > 0 && !refusals_.compare_exchange_weak(n, n - 1)) {
        }
        return n > 0;
    }

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> items_;
    bool running_ = false;
    bool stopping_ = false;
    std::atomic<int> refusals_{0};
    std::thread thread_;
};

}  // namespace kalvo::kernel
