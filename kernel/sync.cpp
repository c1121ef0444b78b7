// IRQL, spin locks, events, fast mutexes, waits and the interlocked lists.
//
// Dispatcher objects keep their state in DISPATCHER_HEADER::SignalState and
// waiters sleep on that word with a futex, so an event needs no allocation
// and no destructor, exactly as a KEVENT embedded in a device extension
// expects.
#include <sched.h>

#include <atomic>
#include <cstdlib>
#include <ctime>

#include "kernel/irql.h"
#include "kernel/kernel_time.h"
#include "kernel/wdm.h"

namespace kalvo::kernel {

namespace {
thread_local KIRQL tlsIrql = PASSIVE_LEVEL;
}

KIRQL currentIrql() noexcept {
    return tlsIrql;
}
void setCurrentIrql(KIRQL irql) noexcept {
    tlsIrql = irql;
}

}  // namespace kalvo::kernel

using namespace kalvo::kernel;

namespace {

// Dispatcher object types, as the kernel numbers them.
constexpr UCHAR kEventNotification = 0;
constexpr UCHAR kEventSynchronization = 1;
constexpr UCHAR kTimerNotification = 8;
constexpr UCHAR kTimerSynchronization = 9;

volatile int32_t* signalWord(DISPATCHER_HEADER* header) {
    return reinterpret_cast<volatile int32_t*>(&header->SignalState);
}

void spinAcquire(PKSPIN_LOCK lock) {
    unsigned spins = 0;
    while (__atomic_exchange_n(lock, ULONG_PTR(1), __ATOMIC_ACQUIRE) != 0) {
        while (__atomic_load_n(lock, __ATOMIC_RELAXED) != 0) {
            // Holders may be preempted (there are more threads than cores):
            // give the processor away instead of burning the time slice.
            if (++spins > 64) sched_yield();
        }
    }
}

void spinRelease(PKSPIN_LOCK lock) {
    __atomic_store_n(lock, ULONG_PTR(0), __ATOMIC_RELEASE);
}

bool autoReset(UCHAR type) {
    return type == kEventSynchronization || type == kTimerSynchronization;
}

// Takes the signal if the object is signalled (and resets an auto-reset
// object); false otherwise.
bool trySatisfy(DISPATCHER_HEADER* header) {
    if (autoReset(header->Type)) {
        LONG expected = 1;
        return __atomic_compare_exchange_n(&header->SignalState, &expected, 0, false,
                                           __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
    }
    return __atomic_load_n(&header->SignalState, __ATOMIC_ACQUIRE) != 0;
}

}  // namespace

extern "C" {

KIRQL KeGetCurrentIrql(void) {
    return currentIrql();
}

VOID KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql) {
    if (oldIrql) *oldIrql = currentIrql();
    setCurrentIrql(newIrql);
}

VOID KeLowerIrql(KIRQL newIrql) {
    setCurrentIrql(newIrql);
}

VOID KeInitializeSpinLock(PKSPIN_LOCK spinLock) {
    __atomic_store_n(spinLock, 0, __ATOMIC_RELEASE);
}

VOID KeAcquireSpinLock(PKSPIN_LOCK spinLock, PKIRQL oldIrql) {
    KIRQL previous = currentIrql();
    setCurrentIrql(DISPATCH_LEVEL);
    spinAcquire(spinLock);
    if (oldIrql) *oldIrql = previous;
}

VOID KeReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql) {
    spinRelease(spinLock);
    setCurrentIrql(newIrql);
}

VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK spinLock) {
    spinAcquire(spinLock);
}
VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK spinLock) {
    spinRelease(spinLock);
}

VOID KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state) {
    event->Header.Type = type == SynchronizationEvent ? kEventSynchronization : kEventNotification;
    event->Header.Absolute = 0;
    event->Header.Size = sizeof(KEVENT) / sizeof(LONG);
    event->Header.Inserted = 0;
    InitializeListHead(&event->Header.WaitListHead);
    __atomic_store_n(&event->Header.SignalState, state ? 1 : 0, __ATOMIC_RELEASE);
}

LONG KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN) {
    LONG previous = __atomic_exchange_n(&event->Header.SignalState, 1, __ATOMIC_ACQ_REL);
    futexWakeAll(signalWord(&event->Header));
    return previous;
}

VOID KeClearEvent(PRKEVENT event) {
    __atomic_store_n(&event->Header.SignalState, 0, __ATOMIC_RELEASE);
}

LONG KeResetEvent(PRKEVENT event) {
    return __atomic_exchange_n(&event->Header.SignalState, 0, __ATOMIC_ACQ_REL);
}

LONG KeReadStateEvent(PRKEVENT event) {
    return __atomic_load_n(&event->Header.SignalState, __ATOMIC_ACQUIRE);
}

NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               PLARGE_INTEGER timeout) {
    if (!object) return STATUS_INVALID_PARAMETER;
    auto* header = static_cast<DISPATCHER_HEADER*>(object);
    int64_t deadline = -1;
    if (timeout) {
        if (timeout->QuadPart == 0) return trySatisfy(header) ? STATUS_SUCCESS : STATUS_TIMEOUT;
        deadline = deadlineFromDueTime(timeout->QuadPart);
    }
    for (;;) {
        if (trySatisfy(header)) return STATUS_SUCCESS;
        if (deadline >= 0 && monotonicNs() >= deadline) return STATUS_TIMEOUT;
        futexWait(signalWord(header), 0, deadline);
    }
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval) {
    if (!interval) return STATUS_INVALID_PARAMETER;
    int64_t deadline = deadlineFromDueTime(interval->QuadPart);
    timespec ts{};
    ts.tv_sec = deadline / 1000000000LL;
    ts.tv_nsec = deadline % 1000000000LL;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
    return STATUS_SUCCESS;
}

VOID KeStallExecutionProcessor(ULONG microseconds) {
    int64_t end = monotonicNs() + int64_t(microseconds) * 1000;
    while (monotonicNs() < end) {
    }
}

VOID KeQuerySystemTime(PLARGE_INTEGER currentTime) {
    if (currentTime) currentTime->QuadPart = systemTime100ns();
}

ULONGLONG KeQueryInterruptTime(void) {
    return ULONGLONG(monotonicNs() / 100);
}

// Fast mutex: Count 0 free, 1 held, 2 held with sleepers.
VOID ExInitializeFastMutex(PFAST_MUTEX mutex) {
    __atomic_store_n(&mutex->Count, 0, __ATOMIC_RELEASE);
    mutex->Owner = nullptr;
    mutex->Contention = 0;
    KeInitializeEvent(&mutex->Event, SynchronizationEvent, FALSE);
    mutex->OldIrql = PASSIVE_LEVEL;
}

BOOLEAN ExTryToAcquireFastMutex(PFAST_MUTEX mutex) {
    LONG expected = 0;
    if (!__atomic_compare_exchange_n(&mutex->Count, &expected, 1, false, __ATOMIC_ACQUIRE,
                                     __ATOMIC_RELAXED))
        return FALSE;
    mutex->OldIrql = currentIrql();
    setCurrentIrql(APC_LEVEL);
    return TRUE;
}

VOID ExAcquireFastMutex(PFAST_MUTEX mutex) {
    auto* word = reinterpret_cast<volatile int32_t*>(&mutex->Count);
    LONG expected = 0;
    if (!__atomic_compare_exchange_n(&mutex->Count, &expected, 1, false, __ATOMIC_ACQUIRE,
                                     __ATOMIC_RELAXED)) {
        if (expected != 2) expected = __atomic_exchange_n(&mutex->Count, 2, __ATOMIC_ACQUIRE);
        while (expected != 0) {
            __atomic_add_fetch(&mutex->Contention, 1, __ATOMIC_RELAXED);
            futexWait(word, 2, -1);
            expected = __atomic_exchange_n(&mutex->Count, 2, __ATOMIC_ACQUIRE);
        }
    }
    mutex->OldIrql = currentIrql();
    setCurrentIrql(APC_LEVEL);
}

VOID ExReleaseFastMutex(PFAST_MUTEX mutex) {
    setCurrentIrql(KIRQL(mutex->OldIrql));
    if (__atomic_exchange_n(&mutex->Count, 0, __ATOMIC_RELEASE) == 2)
        futexWakeAll(reinterpret_cast<volatile int32_t*>(&mutex->Count));
}

PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock) {
    KIRQL irql;
    KeAcquireSpinLock(lock, &irql);
    PLIST_ENTRY previous = IsListEmpty(head) ? nullptr : head->Blink;
    InsertTailList(head, entry);
    KeReleaseSpinLock(lock, irql);
    return previous;
}

PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock) {
    KIRQL irql;
    KeAcquireSpinLock(lock, &irql);
    PLIST_ENTRY previous = IsListEmpty(head) ? nullptr : head->Flink;
    InsertHeadList(head, entry);
    KeReleaseSpinLock(lock, irql);
    return previous;
}

PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY head, PKSPIN_LOCK lock) {
    KIRQL irql;
    KeAcquireSpinLock(lock, &irql);
    PLIST_ENTRY entry = IsListEmpty(head) ? nullptr : RemoveHeadList(head);
    KeReleaseSpinLock(lock, irql);
    return entry;
}

// Pool: plain heap memory. Tags are not kept; allocations are aligned for
// any kernel structure.
PVOID ExAllocatePoolWithTag(POOL_TYPE, SIZE_T numberOfBytes, ULONG) {
    return std::malloc(numberOfBytes ? numberOfBytes : 1);
}
PVOID ExAllocatePool(POOL_TYPE poolType, SIZE_T numberOfBytes) {
    return ExAllocatePoolWithTag(poolType, numberOfBytes, 0);
}
VOID ExFreePoolWithTag(PVOID p, ULONG) {
    std::free(p);
}
VOID ExFreePool(PVOID p) {
    std::free(p);
}

}  // extern "C"

namespace kalvo::kernel {
// Used by the timer queue: a timer is a dispatcher object too.
void initializeTimerHeader(PKTIMER timer, bool synchronization) {
    timer->Header.Type = synchronization ? kTimerSynchronization : kTimerNotification;
    timer->Header.Absolute = 0;
    timer->Header.Size = sizeof(KTIMER) / sizeof(LONG);
    timer->Header.Inserted = 0;
    InitializeListHead(&timer->Header.WaitListHead);
    __atomic_store_n(&timer->Header.SignalState, 0, __ATOMIC_RELEASE);
}
void signalDispatcherObject(DISPATCHER_HEADER* header) {
    __atomic_store_n(&header->SignalState, 1, __ATOMIC_RELEASE);
    futexWakeAll(signalWord(header));
}
}  // namespace kalvo::kernel
