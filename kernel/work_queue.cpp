#include "kernel/work_queue.h"

#include "kernel/irql.h"
#include "kernel/kernel.h"

namespace kalvo::kernel {

namespace {

// The queue whose worker (or helper) this thread is.
thread_local const WorkQueue* tWorkerOf = nullptr;

}  // namespace

WorkQueue::WorkQueue() {
    thread_ = std::thread([this] { run(); });
    balancer_ = std::thread([this] { balance(); });
}

WorkQueue::~WorkQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    balance_.notify_all();
    balancer_.join();
    thread_.join();
    for (Helper& helper : helpers_) helper.thread.join();
}

void WorkQueue::queue(std::function<void()> item) {
    {
        std::lock_guard lock(mutex_);
        items_.push_back({std::move(item), Clock::now()});
    }
    wake_.notify_one();
    balance_.notify_one();
}

void WorkQueue::drain() {
    if (onWorkerThread()) return;
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return quietLocked(); });
}

bool WorkQueue::onWorkerThread() const noexcept {
    return tWorkerOf == this;
}

void WorkQueue::run() {
    IrqlScope irql(PASSIVE_LEVEL);
    tWorkerOf = this;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !items_.empty(); });
        if (items_.empty()) return;
        auto item = std::move(items_.front().run);
        items_.pop_front();
        running_ = true;
        // What waits behind this item is now timed.
        if (!items_.empty()) balance_.notify_one();
        lock.unlock();
        item();
        item = nullptr;
        lock.lock();
        running_ = false;
        if (quietLocked()) idle_.notify_all();
    }
}

void WorkQueue::balance() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (items_.empty() || !running_) {
            balance_.wait(lock);
            continue;
        }
        const Clock::time_point due = items_.front().queued + kStall;
        if (Clock::now() < due) {
            balance_.wait_until(lock, due);
            continue;
        }
        // Helpers whose item has run are gone; their threads are joined here.
        for (auto it = helpers_.begin(); it != helpers_.end();) {
            if (!it->done) {
                ++it;
                continue;
            }
            it->thread.join();
            it = helpers_.erase(it);
        }
        auto item = std::move(items_.front().run);
        items_.pop_front();
        ++helpersRunning_;
        Helper& helper = helpers_.emplace_back();
        helper.thread = std::thread([this, h = &helper, item = std::move(item)]() mutable {
            runAlone(h, std::move(item));
        });
    }
}

void WorkQueue::runAlone(Helper* helper, std::function<void()> item) {
    IrqlScope irql(PASSIVE_LEVEL);
    tWorkerOf = this;
    item();
    item = nullptr;
    std::lock_guard lock(mutex_);
    helper->done = true;
    --helpersRunning_;
    if (quietLocked()) idle_.notify_all();
}

}  // namespace kalvo::kernel

extern "C" VOID ExQueueWorkItem(PWORK_QUEUE_ITEM workItem, WORK_QUEUE_TYPE) {
    auto* kernel = kalvo::kernel::Kernel::current();
    if (!kernel || !workItem) return;
    PWORKER_THREAD_ROUTINE routine = workItem->WorkerRoutine;
    PVOID parameter = workItem->Parameter;
    kernel->work().queue([routine, parameter] {
        if (routine) routine(parameter);
    });
}
