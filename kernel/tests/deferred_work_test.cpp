// DPCs, timers, work items and events on the kernel's own threads.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/wdm.h"

namespace kalvo::kernel {
namespace {

struct Recorder {
    std::mutex mutex;
    std::vector<std::string> calls;
    KEVENT done;
    void add(std::string s) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(s));
    }
    std::vector<std::string> get() {
        std::lock_guard lock(mutex);
        return calls;
    }
};

LARGE_INTEGER relativeMs(int ms) {
    LARGE_INTEGER t;
    t.QuadPart = -LONGLONG(ms) * 10000;
    return t;
}

struct Tagged {
    Recorder* recorder;
    const char* tag;
};

VOID recordDpc(PKDPC, PVOID context, PVOID, PVOID) {
    auto* t = static_cast<Tagged*>(context);
    t->recorder->add(std::string(t->tag) + (KeGetCurrentIrql() == DISPATCH_LEVEL ? "@dpc" : "@?"));
    KeSetEvent(&t->recorder->done, IO_NO_INCREMENT, FALSE);
}

class DeferredWorkTest : public ::testing::Test {
  protected:
    void SetUp() override { KeInitializeEvent(&recorder.done, SynchronizationEvent, FALSE); }
    bool waitDone(int ms = 10000) {
        LARGE_INTEGER t = relativeMs(ms);
        return KeWaitForSingleObject(&recorder.done, Executive, KernelMode, FALSE, &t) ==
               STATUS_SUCCESS;
    }
    Kernel kernel{KernelOptions{}};
    Recorder recorder;
};

TEST_F(DeferredWorkTest, DpcsRunInOrderOnceEachAtDispatchLevel) {
    Tagged a{&recorder, "a"}, b{&recorder, "b"}, c{&recorder, "c"};
    KDPC da, db, dc;
    KeInitializeDpc(&da, recordDpc, &a);
    KeInitializeDpc(&db, recordDpc, &b);
    KeInitializeDpc(&dc, recordDpc, &c);
    // Hold the DPC thread in a first DPC so the rest queue up behind it.
    KEVENT gate;
    KeInitializeEvent(&gate, NotificationEvent, FALSE);
    KDPC blocker;
    KeInitializeDpc(
        &blocker,
        [](PKDPC, PVOID g, PVOID, PVOID) {
            KeWaitForSingleObject(g, Executive, KernelMode, FALSE, nullptr);
        },
        &gate);
    EXPECT_TRUE(KeInsertQueueDpc(&blocker, nullptr, nullptr));
    EXPECT_TRUE(KeInsertQueueDpc(&da, nullptr, nullptr));
    EXPECT_TRUE(KeInsertQueueDpc(&db, nullptr, nullptr));
    EXPECT_FALSE(KeInsertQueueDpc(&da, nullptr, nullptr));  // already queued
    EXPECT_TRUE(KeInsertQueueDpc(&dc, nullptr, nullptr));
    EXPECT_TRUE(KeRemoveQueueDpc(&db));
    EXPECT_FALSE(KeRemoveQueueDpc(&db));
    KeSetEvent(&gate, IO_NO_INCREMENT, FALSE);
    KeFlushQueuedDpcs();
    EXPECT_EQ(recorder.get(), (std::vector<std::string>{"a@dpc", "c@dpc"}));
}

TEST_F(DeferredWorkTest, OneShotTimerFiresOnceAndQueuesItsDpc) {
    Tagged t{&recorder, "t"};
    KDPC dpc;
    KTIMER timer;
    KeInitializeDpc(&dpc, recordDpc, &t);
    KeInitializeTimer(&timer);
    EXPECT_FALSE(KeSetTimer(&timer, relativeMs(5), &dpc));
    ASSERT_TRUE(waitDone());
    EXPECT_TRUE(KeReadStateTimer(&timer));
    // A timer is a notification object: waiting on it after expiry returns.
    EXPECT_EQ(KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    LARGE_INTEGER shortWait = relativeMs(30);
    EXPECT_EQ(KeWaitForSingleObject(&recorder.done, Executive, KernelMode, FALSE, &shortWait),
              STATUS_TIMEOUT);
    EXPECT_EQ(recorder.get(), std::vector<std::string>{"t@dpc"});
    EXPECT_FALSE(KeCancelTimer(&timer));  // no longer pending
}

TEST_F(DeferredWorkTest, RearmingReplacesThePendingExpiryAndCancelStopsIt) {
    Tagged first{&recorder, "first"}, second{&recorder, "second"};
    KDPC d1, d2;
    KTIMER timer;
    KeInitializeDpc(&d1, recordDpc, &first);
    KeInitializeDpc(&d2, recordDpc, &second);
    KeInitializeTimer(&timer);
    EXPECT_FALSE(KeSetTimer(&timer, relativeMs(60000), &d1));
    EXPECT_TRUE(KeSetTimer(&timer, relativeMs(5), &d2));  // replaces: was pending
    ASSERT_TRUE(waitDone());
    EXPECT_EQ(recorder.get(), std::vector<std::string>{"second@dpc"});

    KeSetTimer(&timer, relativeMs(20), &d1);
    EXPECT_TRUE(KeCancelTimer(&timer));
    EXPECT_FALSE(KeCancelTimer(&timer));
    LARGE_INTEGER wait = relativeMs(60);
    EXPECT_EQ(KeWaitForSingleObject(&recorder.done, Executive, KernelMode, FALSE, &wait),
              STATUS_TIMEOUT);
    EXPECT_EQ(recorder.get().size(), 1u);
}

// The connect sequence's pattern: a DPC that re-arms its own one-shot timer.
struct Chain {
    KTIMER timer;
    KDPC dpc;
    std::atomic<int> ticks{0};
    KEVENT done;
};

VOID chainStep(PKDPC, PVOID context, PVOID, PVOID) {
    auto* chain = static_cast<Chain*>(context);
    if (++chain->ticks < 5) {
        LARGE_INTEGER due = relativeMs(2);
        KeSetTimer(&chain->timer, due, &chain->dpc);
    } else {
        KeSetEvent(&chain->done, IO_NO_INCREMENT, FALSE);
    }
}

TEST_F(DeferredWorkTest, DpcReArmsItsOwnTimer) {
    Chain chain;
    KeInitializeTimer(&chain.timer);
    KeInitializeDpc(&chain.dpc, chainStep, &chain);
    KeInitializeEvent(&chain.done, NotificationEvent, FALSE);
    KeInsertQueueDpc(&chain.dpc, nullptr, nullptr);
    LARGE_INTEGER limit = relativeMs(10000);
    ASSERT_EQ(KeWaitForSingleObject(&chain.done, Executive, KernelMode, FALSE, &limit),
              STATUS_SUCCESS);
    EXPECT_EQ(chain.ticks.load(), 5);
}

TEST_F(DeferredWorkTest, WorkItemsRunInOrderAtPassiveLevelAndHoldTheirDevice) {
    PDRIVER_OBJECT driver = kernel.createDriver(
        [](PDRIVER_OBJECT, PUNICODE_STRING) -> NTSTATUS { return STATUS_SUCCESS; }, "Work",
        nullptr);
    ASSERT_NE(driver, nullptr);
    PDEVICE_OBJECT device;
    ASSERT_EQ(IoCreateDevice(driver, 0, nullptr, 0, 0, FALSE, &device), STATUS_SUCCESS);
    struct Context {
        Recorder* recorder;
        PIO_WORKITEM item;
        const char* tag;
    };
    auto routine = [](PDEVICE_OBJECT d, PVOID c) {
        auto* context = static_cast<Context*>(c);
        context->recorder->add(std::string(context->tag) +
                               (KeGetCurrentIrql() == PASSIVE_LEVEL ? "@passive" : "@?"));
        // The routine may delete the device and free its own item.
        if (std::string(context->tag) == "second") IoDeleteDevice(d);
        IoFreeWorkItem(context->item);
    };
    Context a{&recorder, IoAllocateWorkItem(device), "first"};
    Context b{&recorder, IoAllocateWorkItem(device), "second"};
    IoQueueWorkItem(a.item, routine, DelayedWorkQueue, &a);
    IoQueueWorkItem(b.item, routine, DelayedWorkQueue, &b);
    kernel.drainDeferredWork();
    EXPECT_EQ(recorder.get(), (std::vector<std::string>{"first@passive", "second@passive"}));
    EXPECT_EQ(driver->DeviceObject, nullptr);
}

TEST_F(DeferredWorkTest, EventsWakeWaitersAcrossThreads) {
    KEVENT notification, synchronization;
    KeInitializeEvent(&notification, NotificationEvent, FALSE);
    KeInitializeEvent(&synchronization, SynchronizationEvent, FALSE);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, nullptr);
            ++woken;
        });
    EXPECT_EQ(KeSetEvent(&notification, IO_NO_INCREMENT, FALSE), 0);
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woken.load(), 3);
    EXPECT_EQ(KeReadStateEvent(&notification), 1);  // stays signalled

    // A synchronization event lets exactly one waiter through per set.
    KeSetEvent(&synchronization, IO_NO_INCREMENT, FALSE);
    LARGE_INTEGER poll;
    poll.QuadPart = 0;
    EXPECT_EQ(KeWaitForSingleObject(&synchronization, Executive, KernelMode, FALSE, &poll),
              STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&synchronization, Executive, KernelMode, FALSE, &poll),
              STATUS_TIMEOUT);

    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    long counter = 0;
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i)
        workers.emplace_back([&] {
            for (int k = 0; k < 1000; ++k) {
                ExAcquireFastMutex(&mutex);
                ++counter;
                ExReleaseFastMutex(&mutex);
            }
        });
    for (auto& t : workers) t.join();
    EXPECT_EQ(counter, 4000);

    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    long spun = 0;
    std::vector<std::thread> spinners;
    for (int i = 0; i < 4; ++i)
        spinners.emplace_back([&] {
            for (int k = 0; k < 1000; ++k) {
                KIRQL irql;
                KeAcquireSpinLock(&lock, &irql);
                EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
                ++spun;
                KeReleaseSpinLock(&lock, irql);
            }
        });
    for (auto& t : spinners) t.join();
    EXPECT_EQ(spun, 4000);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

}  // namespace
}  // namespace kalvo::kernel
