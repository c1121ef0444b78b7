// The system worker thread: runs work items at PASSIVE_LEVEL in the order
// they were queued, one at a time. As on the system it plays, a queue whose
// worker is held up does not hold up the rest: an item that has waited
// kStall while the worker was busy gets a thread of its own (the system's
// dynamic worker threads), so a work item that waits for something (a
// removal waiting for handles, a replayed request waiting for its client)
// delays the others by at most that much.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace kalvo::kernel {

class WorkQueue {
  public:
    WorkQueue();
    ~WorkQueue();  // runs what is queued, then stops the threads
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    void queue(std::function<void()> item);
    // Waits until nothing is queued or running (not on a worker itself).
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

    static constexpr std::chrono::milliseconds kStall{1000};

  private:
    using Clock = std::chrono::steady_clock;
    struct Item {
        std::function<void()> run;
        Clock::time_point queued;
    };
    struct Helper {
        std::thread thread;
        bool done = false;  // guarded by mutex_
    };
    void run();
    // Gives an item stalled behind the busy worker a thread of its own.
    void balance();
    void runAlone(Helper* helper, std::function<void()> item);
    bool quietLocked() const { return items_.empty() && !running_ && helpersRunning_ == 0; }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::condition_variable balance_;
    std::deque<Item> items_;
    bool running_ = false;  // the worker runs an item
    int helpersRunning_ = 0;
    bool stopping_ = false;
    std::atomic<int> refusals_{0};
    std::list<Helper> helpers_;
    std::thread thread_;
    std::thread balancer_;
};

}  // namespace kalvo::kernel
