// Synchronisation and deferred work: IRQL, spin locks, interlocked
// operations, events, fast mutexes, DPCs, timers, system work items, pool.
//
// The host runs one DPC thread (at DISPATCH_LEVEL) that executes queued DPCs
// in order, one timer thread that fires expired timers, and one worker thread
// for work items. Dispatch routines run at PASSIVE_LEVEL in the thread of the
// transport connection that carries the request.
#pragma once

#include "kernel/wdm/base.h"

#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2

#define KernelMode 0
#define UserMode 1

typedef ULONG_PTR KSPIN_LOCK;
typedef KSPIN_LOCK* PKSPIN_LOCK;

// Dispatcher objects share this header; SignalState is the word that waiters
// sleep on.
typedef struct _DISPATCHER_HEADER {
    UCHAR Type;
    UCHAR Absolute;
    UCHAR Size;
    UCHAR Inserted;
    volatile LONG SignalState;
    LIST_ENTRY WaitListHead;
} DISPATCHER_HEADER;

typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;

typedef struct _KEVENT {
    DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

typedef enum _KWAIT_REASON { Executive = 0, UserRequest = 6, Suspended = 5 } KWAIT_REASON;

typedef LONG KPRIORITY;
#define IO_NO_INCREMENT 0
#define EVENT_INCREMENT 1

typedef struct _FAST_MUTEX {
    volatile LONG Count;
    PVOID Owner;
    ULONG Contention;
    KEVENT Event;
    ULONG OldIrql;
} FAST_MUTEX, *PFAST_MUTEX;

struct _KDPC;
typedef VOID KDEFERRED_ROUTINE(struct _KDPC* Dpc, PVOID DeferredContext, PVOID SystemArgument1,
                               PVOID SystemArgument2);
typedef KDEFERRED_ROUTINE* PKDEFERRED_ROUTINE;

typedef struct _KDPC {
    UCHAR Type;
    UCHAR Importance;
    volatile USHORT Number;
    LIST_ENTRY DpcListEntry;
    PKDEFERRED_ROUTINE DeferredRoutine;
    PVOID DeferredContext;
    PVOID SystemArgument1;
    PVOID SystemArgument2;
    volatile PVOID DpcData;  // non-null while queued
} KDPC, *PKDPC, *PRKDPC;

// A timer is a notification dispatcher object: signalled when it expires,
// reset when it is set again.
typedef struct _KTIMER {
    DISPATCHER_HEADER Header;
    ULARGE_INTEGER DueTime;  // host monotonic time of expiry, nanoseconds
    LIST_ENTRY TimerListEntry;
    struct _KDPC* Dpc;
    LONG Period;  // milliseconds; 0 for a one-shot timer
} KTIMER, *PKTIMER, *PRKTIMER;

typedef enum _TIMER_TYPE { NotificationTimer, SynchronizationTimer } TIMER_TYPE;

typedef VOID WORKER_THREAD_ROUTINE(PVOID Parameter);
typedef WORKER_THREAD_ROUTINE* PWORKER_THREAD_ROUTINE;

typedef struct _WORK_QUEUE_ITEM {
    LIST_ENTRY List;
    PWORKER_THREAD_ROUTINE WorkerRoutine;
    volatile PVOID Parameter;
} WORK_QUEUE_ITEM, *PWORK_QUEUE_ITEM;

typedef enum _WORK_QUEUE_TYPE {
    CriticalWorkQueue,
    DelayedWorkQueue,
    HyperCriticalWorkQueue
} WORK_QUEUE_TYPE;

#define ExInitializeWorkItem(Item, Routine, Context) \
    ((Item)->WorkerRoutine = (Routine), (Item)->Parameter = (Context), (Item)->List.Flink = nullptr)

typedef enum _POOL_TYPE {
    NonPagedPool = 0,
    NonPagedPoolExecute = 0,
    PagedPool = 1,
    NonPagedPoolMustSucceed = 2,
    NonPagedPoolCacheAligned = 4,
    PagedPoolCacheAligned = 5,
    NonPagedPoolNx = 512
} POOL_TYPE;

// Interlocked operations: full barriers, as on the original system.
inline LONG InterlockedIncrement(LONG volatile* target) {
    return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* target) {
    return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* target, LONG value) {
    return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}
inline LONG InterlockedOr(LONG volatile* target, LONG value) {
    return __atomic_fetch_or(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedAnd(LONG volatile* target, LONG value) {
    return __atomic_fetch_and(target, value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile* target, PVOID exchange,
                                               PVOID comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

extern "C" {

// IRQL of the calling thread: DISPATCH_LEVEL while it holds a spin lock and
// on the DPC and timer threads, PASSIVE_LEVEL otherwise.
KALVO_WDM_API KIRQL KeGetCurrentIrql(void);
KALVO_WDM_API VOID KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql);
KALVO_WDM_API VOID KeLowerIrql(KIRQL newIrql);

KALVO_WDM_API VOID KeInitializeSpinLock(PKSPIN_LOCK spinLock);
KALVO_WDM_API VOID KeAcquireSpinLock(PKSPIN_LOCK spinLock, PKIRQL oldIrql);
KALVO_WDM_API VOID KeReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql);
KALVO_WDM_API VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK spinLock);
KALVO_WDM_API VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK spinLock);

KALVO_WDM_API VOID KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state);
// Returns the previous signal state. Wait is accepted and ignored.
KALVO_WDM_API LONG KeSetEvent(PRKEVENT event, KPRIORITY increment, BOOLEAN wait);
KALVO_WDM_API VOID KeClearEvent(PRKEVENT event);
KALVO_WDM_API LONG KeResetEvent(PRKEVENT event);
KALVO_WDM_API LONG KeReadStateEvent(PRKEVENT event);
// Object: a KEVENT or a KTIMER. Timeout: null waits without limit; negative
// is relative in 100 ns units; positive is an absolute system time; zero
// tests the state. STATUS_SUCCESS (STATUS_WAIT_0) or STATUS_TIMEOUT. A
// synchronization event is reset by the wait that it satisfies.
KALVO_WDM_API NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON waitReason,
                                             KPROCESSOR_MODE waitMode, BOOLEAN alertable,
                                             PLARGE_INTEGER timeout);
// Interval: negative relative (100 ns units) or positive absolute.
KALVO_WDM_API NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE waitMode, BOOLEAN alertable,
                                              PLARGE_INTEGER interval);
KALVO_WDM_API VOID KeStallExecutionProcessor(ULONG microseconds);
// System time: 100 ns units since 1601-01-01 UTC.
KALVO_WDM_API VOID KeQuerySystemTime(PLARGE_INTEGER currentTime);
// 100 ns units since the host started.
KALVO_WDM_API ULONGLONG KeQueryInterruptTime(void);

KALVO_WDM_API VOID ExInitializeFastMutex(PFAST_MUTEX mutex);
KALVO_WDM_API VOID ExAcquireFastMutex(PFAST_MUTEX mutex);
KALVO_WDM_API VOID ExReleaseFastMutex(PFAST_MUTEX mutex);
KALVO_WDM_API BOOLEAN ExTryToAcquireFastMutex(PFAST_MUTEX mutex);

KALVO_WDM_API VOID KeInitializeDpc(PRKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context);
// FALSE when the DPC is already queued (it then runs once, with the
// arguments of the first insertion).
KALVO_WDM_API BOOLEAN KeInsertQueueDpc(PRKDPC dpc, PVOID systemArgument1, PVOID systemArgument2);
// TRUE when the DPC was queued and has been taken out before it ran.
KALVO_WDM_API BOOLEAN KeRemoveQueueDpc(PRKDPC dpc);
// Returns when every DPC queued before the call has run.
KALVO_WDM_API VOID KeFlushQueuedDpcs(void);

KALVO_WDM_API VOID KeInitializeTimer(PKTIMER timer);
KALVO_WDM_API VOID KeInitializeTimerEx(PKTIMER timer, TIMER_TYPE type);
// DueTime negative: relative, in 100 ns units; positive: absolute system
// time. Setting a timer that is pending replaces its expiry (and DPC); the
// result is TRUE then. On expiry the timer is signalled and the DPC, if any,
// is queued with the expiry time (low, high 32 bits) as its arguments.
KALVO_WDM_API BOOLEAN KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc);
// Period in milliseconds; 0 for one shot.
KALVO_WDM_API BOOLEAN KeSetTimerEx(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc);
// TRUE when the timer was pending. A DPC that the timer already queued is
// not taken back (remove it or flush the DPC queue).
KALVO_WDM_API BOOLEAN KeCancelTimer(PKTIMER timer);
KALVO_WDM_API BOOLEAN KeReadStateTimer(PKTIMER timer);

// System work items: run on the worker thread at PASSIVE_LEVEL in order.
KALVO_WDM_API VOID ExQueueWorkItem(PWORK_QUEUE_ITEM workItem, WORK_QUEUE_TYPE queueType);

// Pool memory: not zeroed. Null when the memory is not available.
KALVO_WDM_API PVOID ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag);
KALVO_WDM_API PVOID ExAllocatePool(POOL_TYPE poolType, SIZE_T numberOfBytes);
KALVO_WDM_API VOID ExFreePoolWithTag(PVOID p, ULONG tag);
KALVO_WDM_API VOID ExFreePool(PVOID p);

// List operations under a spin lock.
KALVO_WDM_API PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry,
                                                      PKSPIN_LOCK lock);
KALVO_WDM_API PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry,
                                                      PKSPIN_LOCK lock);
KALVO_WDM_API PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY head, PKSPIN_LOCK lock);

}  // extern "C"
