// The system worker thread: runs work items at PASSIVE_LEVEL, one at a time,
// in the order they were queued.
#pragma once

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

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> items_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kalvo::kernel
