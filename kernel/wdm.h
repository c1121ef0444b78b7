// The kernel interface that driver modules are written against: a subset of
// the Windows Driver Model with its names, types and semantics, so that a
// driver written for that system compiles here with few changes (wide text
// is char16_t: write names as u"..."; see kernel/wdm/base.h).
//
// A driver module is a shared object that exports DriverEntry; the device
// host loads it, calls DriverEntry once with its driver object and the
// service's registry path
// "\Registry\Machine\System\CurrentControlSet\Services\<name>", then AddDevice for each board of
// its kind, and sends it PnP, power and I/O requests.
#pragma once

#include "kernel/wdm/base.h"
#include "kernel/wdm/io.h"
#include "kernel/wdm/resources.h"
#include "kernel/wdm/services.h"
#include "kernel/wdm/sync.h"

extern "C" [[gnu::visibility("default")]] NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject,
                                                               PUNICODE_STRING RegistryPath);
