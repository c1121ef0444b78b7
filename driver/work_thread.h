// CThread: runs a routine once on a system worker thread (a work item on
// the delayed work queue), for jobs that must wait at passive level outside
// the dispatch routine that starts them.
#pragma once

#include "kernel/wdm.h"

class CThread {
  public:
    using Routine = void (*)(PVOID context);

    // Queues routine(context); the work item frees itself once the routine
    // has returned. False when no work item could be allocated.
    static bool Queue(PDEVICE_OBJECT device, Routine routine, PVOID context);
};
