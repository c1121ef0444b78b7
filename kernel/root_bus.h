// The host's bus driver: it owns the PDO of every board and answers the PnP
// and power requests that reach the bottom of a board's stack, as a PCI bus
// driver does for its children.
#pragma once

#include "kernel/wdm.h"

namespace kalvo::kernel {

DRIVER_INITIALIZE RootBusDriverEntry;

// A PDO for a board (no name; the stack is found through the PnP manager).
NTSTATUS createBoardPdo(PDRIVER_OBJECT bus, PDEVICE_OBJECT* pdo);

}  // namespace kalvo::kernel
