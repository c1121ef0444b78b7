// CWmi: the device takes no part in WMI; system-control requests go down the
// stack unchanged to the bus driver.
#pragma once

#include "kernel/wdm.h"

class CWmi {
  public:
    explicit CWmi(PDEVICE_OBJECT lower) : lower_(lower) {}
    NTSTATUS PassDown(PIRP irp) {
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(lower_, irp);
    }

  private:
    PDEVICE_OBJECT lower_;
};
