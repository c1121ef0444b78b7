// CInterlockedQueue: the list of requests held while the device cannot
// serve them, with a spin lock of its own.
#pragma once

#include "kernel/wdm.h"

class CInterlockedQueue {
  public:
    CInterlockedQueue();

    void InsertTail(PIRP irp);
    PIRP RemoveHead();      // null when empty
    bool Remove(PIRP irp);  // false when the request is not queued
    bool IsEmpty();

  private:
    LIST_ENTRY head_;
    KSPIN_LOCK lock_;
};
