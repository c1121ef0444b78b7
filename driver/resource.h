// CResource: finds the board's memory windows in the resource list that the
// PnP manager hands over at start.
#pragma once

#include "driver/mapped_address.h"
#include "kernel/wdm.h"

class CResource {
  public:
    explicit CResource(PCM_RESOURCE_LIST list) : list_(list) {}

    // The index-th memory range (0 = first) of the first full descriptor,
    // skipping ports, interrupts and everything else. False when there is
    // no such range.
    bool GetMemoryResource(PORBEK_MAPPED_ADDRESS record, ULONG index) const;

  private:
    PCM_RESOURCE_LIST list_;
};
