#include "driver/interlocked_queue.h"

CInterlockedQueue::CInterlockedQueue() {
    InitializeListHead(&head_);
    KeInitializeSpinLock(&lock_);
}

void CInterlockedQueue::InsertTail(PIRP irp) {
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    InsertTailList(&head_, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&lock_, irql);
}

PIRP CInterlockedQueue::RemoveHead() {
    KIRQL irql;
    PIRP irp = nullptr;
    KeAcquireSpinLock(&lock_, &irql);
    if (!IsListEmpty(&head_)) {
        PLIST_ENTRY entry = RemoveHeadList(&head_);
        InitializeListHead(entry);
        irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&lock_, irql);
    return irp;
}

bool CInterlockedQueue::Remove(PIRP irp) {
    KIRQL irql;
    bool found = false;
    KeAcquireSpinLock(&lock_, &irql);
    for (PLIST_ENTRY e = head_.Flink; e != &head_; e = e->Flink) {
        if (e == &irp->Tail.Overlay.ListEntry) {
            RemoveEntryList(e);
            InitializeListHead(e);
            found = true;
            break;
        }
    }
    KeReleaseSpinLock(&lock_, irql);
    return found;
}

bool CInterlockedQueue::IsEmpty() {
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    bool empty = IsListEmpty(&head_);
    KeReleaseSpinLock(&lock_, irql);
    return empty;
}
