#include "kernel/dpc_queue.h"

#include "kernel/irql.h"
#include "kernel/kernel.h"

namespace kalvo::kernel {

DpcQueue::DpcQueue() {
    InitializeListHead(&queue_);
    thread_ = std::thread([this] { run(); });
}

DpcQueue::~DpcQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool DpcQueue::insert(PRKDPC dpc, PVOID argument1, PVOID argument2) {
    {
        std::lock_guard lock(mutex_);
        if (dpc->DpcData) return false;
        dpc->SystemArgument1 = argument1;
        dpc->SystemArgument2 = argument2;
        dpc->DpcData = this;
        InsertTailList(&queue_, &dpc->DpcListEntry);
        sequence_[dpc] = ++queued_;
    }
    wake_.notify_one();
    return true;
}

bool DpcQueue::remove(PRKDPC dpc) {
    {
        std::lock_guard lock(mutex_);
        if (dpc->DpcData != this) return false;
        RemoveEntryList(&dpc->DpcListEntry);
        dpc->DpcData = nullptr;
        sequence_.erase(dpc);
    }
    progress_.notify_all();
    return true;
}

void DpcQueue::flush() {
    if (onDpcThread()) return;
    std::unique_lock lock(mutex_);
    uint64_t target = queued_;
    progress_.wait(lock, [&] {
        if (running_ != 0 && running_ <= target) return false;
        if (IsListEmpty(&queue_)) return true;
        auto* head = CONTAINING_RECORD(queue_.Flink, KDPC, DpcListEntry);
        return sequence_[head] > target;
    });
}

bool DpcQueue::onDpcThread() const noexcept {
    return std::this_thread::get_id() == thread_.get_id();
}

void DpcQueue::run() {
    IrqlScope irql(DISPATCH_LEVEL);
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !IsListEmpty(&queue_); });
        if (IsListEmpty(&queue_)) return;  // stopping with nothing left
        PLIST_ENTRY entry = RemoveHeadList(&queue_);
        auto* dpc = CONTAINING_RECORD(entry, KDPC, DpcListEntry);
        dpc->DpcData = nullptr;
        running_ = sequence_[dpc];
        sequence_.erase(dpc);
        PKDEFERRED_ROUTINE routine = dpc->DeferredRoutine;
        PVOID context = dpc->DeferredContext;
        PVOID argument1 = dpc->SystemArgument1;
        PVOID argument2 = dpc->SystemArgument2;
        lock.unlock();
        // The DPC may be queued again (or its memory released) by the
        // routine; everything it needs was copied out above.
        if (routine) routine(dpc, context, argument1, argument2);
        lock.lock();
        running_ = 0;
        progress_.notify_all();
    }
}

}  // namespace kalvo::kernel

using kalvo::kernel::Kernel;

extern "C" {

VOID KeInitializeDpc(PRKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context) {
    dpc->Type = 0x13;  // DpcObject
    dpc->Importance = 1;
    dpc->Number = 0;
    dpc->DpcListEntry.Flink = dpc->DpcListEntry.Blink = nullptr;
    dpc->DeferredRoutine = routine;
    dpc->DeferredContext = context;
    dpc->SystemArgument1 = dpc->SystemArgument2 = nullptr;
    dpc->DpcData = nullptr;
}

BOOLEAN KeInsertQueueDpc(PRKDPC dpc, PVOID systemArgument1, PVOID systemArgument2) {
    Kernel* kernel = Kernel::current();
    if (!kernel || !dpc) return FALSE;
    return kernel->dpcs().insert(dpc, systemArgument1, systemArgument2) ? TRUE : FALSE;
}

BOOLEAN KeRemoveQueueDpc(PRKDPC dpc) {
    Kernel* kernel = Kernel::current();
    if (!kernel || !dpc) return FALSE;
    return kernel->dpcs().remove(dpc) ? TRUE : FALSE;
}

VOID KeFlushQueuedDpcs(void) {
    if (Kernel* kernel = Kernel::current()) kernel->dpcs().flush();
}

}  // extern "C"
