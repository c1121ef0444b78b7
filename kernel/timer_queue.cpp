#include "kernel/timer_queue.h"

#include <chrono>

#include "kernel/dpc_queue.h"
#include "kernel/irql.h"
#include "kernel/kernel.h"
#include "kernel/kernel_time.h"

namespace kalvo::kernel {

TimerQueue::TimerQueue(DpcQueue& dpcs) : dpcs_(dpcs) {
    thread_ = std::thread([this] { run(); });
}

TimerQueue::~TimerQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& [due, timer] : pending_) timer->Header.Inserted = 0;
        pending_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

bool TimerQueue::unlink(PKTIMER timer) {
    if (!timer->Header.Inserted) return false;
    pending_.erase({int64_t(timer->DueTime.QuadPart), timer});
    timer->Header.Inserted = 0;
    return true;
}

bool TimerQueue::set(PKTIMER timer, int64_t deadlineNs, LONG periodMs, PKDPC dpc) {
    bool wasPending;
    bool wakeThread;
    {
        std::lock_guard lock(mutex_);
        wasPending = unlink(timer);
        __atomic_store_n(&timer->Header.SignalState, 0, __ATOMIC_RELEASE);
        timer->DueTime.QuadPart = ULONGLONG(deadlineNs);
        timer->Period = periodMs > 0 ? periodMs : 0;
        timer->Dpc = dpc;
        timer->Header.Inserted = 1;
        pending_.insert({deadlineNs, timer});
        wakeThread = pending_.begin()->second == timer;
    }
    if (wakeThread) wake_.notify_one();
    return wasPending;
}

bool TimerQueue::cancel(PKTIMER timer) {
    std::lock_guard lock(mutex_);
    return unlink(timer);
}

void TimerQueue::run() {
    IrqlScope irql(DISPATCH_LEVEL);
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (pending_.empty()) {
            wake_.wait(lock);
            continue;
        }
        int64_t due = pending_.begin()->first;
        if (monotonicNs() < due) {
            using namespace std::chrono;
            wake_.wait_until(lock, steady_clock::time_point(nanoseconds(due)));
            continue;
        }
        PKTIMER timer = pending_.begin()->second;
        pending_.erase(pending_.begin());
        timer->Header.Inserted = 0;
        PKDPC dpc = timer->Dpc;
        if (timer->Period > 0) {
            // A periodic timer keeps its phase: the next expiry is counted
            // from this one, not from when it was noticed.
            int64_t next = due + int64_t(timer->Period) * 1000000;
            timer->DueTime.QuadPart = ULONGLONG(next);
            timer->Header.Inserted = 1;
            pending_.insert({next, timer});
        }
        signalDispatcherObject(&timer->Header);
        if (dpc) {
            LARGE_INTEGER now;
            KeQuerySystemTime(&now);
            dpcs_.insert(dpc, reinterpret_cast<PVOID>(ULONG_PTR(now.LowPart)),
                         reinterpret_cast<PVOID>(ULONG_PTR(ULONG(now.HighPart))));
        }
    }
}

}  // namespace kalvo::kernel

using kalvo::kernel::Kernel;

extern "C" {

VOID KeInitializeTimer(PKTIMER timer) {
    KeInitializeTimerEx(timer, NotificationTimer);
}

VOID KeInitializeTimerEx(PKTIMER timer, TIMER_TYPE type) {
    kalvo::kernel::initializeTimerHeader(timer, type == SynchronizationTimer);
    timer->DueTime.QuadPart = 0;
    timer->TimerListEntry.Flink = timer->TimerListEntry.Blink = nullptr;
    timer->Dpc = nullptr;
    timer->Period = 0;
}

BOOLEAN KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc) {
    return KeSetTimerEx(timer, dueTime, 0, dpc);
}

BOOLEAN KeSetTimerEx(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc) {
    Kernel* kernel = Kernel::current();
    if (!kernel || !timer) return FALSE;
    int64_t deadline = kalvo::kernel::deadlineFromDueTime(dueTime.QuadPart);
    return kernel->timers().set(timer, deadline, period, dpc) ? TRUE : FALSE;
}

BOOLEAN KeCancelTimer(PKTIMER timer) {
    Kernel* kernel = Kernel::current();
    if (!kernel || !timer) return FALSE;
    return kernel->timers().cancel(timer) ? TRUE : FALSE;
}

BOOLEAN KeReadStateTimer(PKTIMER timer) {
    return __atomic_load_n(&timer->Header.SignalState, __ATOMIC_ACQUIRE) != 0 ? TRUE : FALSE;
}

}  // extern "C"
