#include "driver/work_thread.h"

#include <new>

namespace {

struct WorkContext {
    PIO_WORKITEM item;
    CThread::Routine routine;
    PVOID context;
};

void WorkItemCallback(PDEVICE_OBJECT, PVOID context) {
    auto* work = static_cast<WorkContext*>(context);
    PIO_WORKITEM item = work->item;
    CThread::Routine routine = work->routine;
    PVOID routineContext = work->context;
    delete work;
    // The item is freed before the routine runs: the routine may delete the
    // device object that the item references.
    IoFreeWorkItem(item);
    routine(routineContext);
}

}  // namespace

bool CThread::Queue(PDEVICE_OBJECT device, Routine routine, PVOID context) {
    PIO_WORKITEM item = IoAllocateWorkItem(device);
    if (!item) return false;
    auto* work = new (std::nothrow) WorkContext{item, routine, context};
    if (!work) {
        IoFreeWorkItem(item);
        return false;
    }
    IoQueueWorkItem(item, WorkItemCallback, DelayedWorkQueue, work);
    return true;
}
