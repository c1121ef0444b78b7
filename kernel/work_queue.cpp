#include "kernel/work_queue.h"

#include "kernel/irql.h"
#include "kernel/kernel.h"

namespace kalvo::kernel {

WorkQueue::WorkQueue() {
    thread_ = std::thread([this] { run(); });
}

WorkQueue::~WorkQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void WorkQueue::queue(std::function<void()> item) {
    {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(item));
    }
    wake_.notify_one();
}

void WorkQueue::drain() {
    if (onWorkerThread()) return;
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return items_.empty() && !running_; });
}

bool WorkQueue::onWorkerThread() const noexcept {
    return std::this_thread::get_id() == thread_.get_id();
}

void WorkQueue::run() {
    IrqlScope irql(PASSIVE_LEVEL);
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !items_.empty(); });
        if (items_.empty()) return;
        auto item = std::move(items_.front());
        items_.pop_front();
        running_ = true;
        lock.unlock();
        item();
        item = nullptr;
        lock.lock();
        running_ = false;
        if (items_.empty()) idle_.notify_all();
    }
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
