// Requests of the small test driver that the kernel tests load.
#pragma once

#include "kernel/wdm.h"

#define KTEST_DEVICE 0x8001
#define KTEST_CODE(n) CTL_CODE(KTEST_DEVICE, 0x800 + (n), METHOD_BUFFERED, FILE_ANY_ACCESS)

// Input copied to the output.
#define IOCTL_KTEST_ECHO KTEST_CODE(0)
// Held until IOCTL_KTEST_RELEASE or cancelled.
#define IOCTL_KTEST_HOLD KTEST_CODE(1)
// Completes every held request with STATUS_SUCCESS; output: ULONG count.
#define IOCTL_KTEST_RELEASE KTEST_CODE(2)
// Input: ULONG offset, ULONG value: a register write in the second window.
#define IOCTL_KTEST_WRITE_REGISTER KTEST_CODE(3)
// Input: ULONG offset, ULONG length; output: ULONG64 address (adjusted for
// the granularity), ULONG64 section offset reported back, ULONG64 view size.
#define IOCTL_KTEST_MAP KTEST_CODE(4)
// Input: ULONG64 address.
#define IOCTL_KTEST_UNMAP KTEST_CODE(5)
// Writes an error log entry: code 0xC0070004 with the device name and the
// window's bus address and length in decimal.
#define IOCTL_KTEST_LOG_ERROR KTEST_CODE(6)
// Reports more bytes than the output buffer holds.
#define IOCTL_KTEST_OVERSTATE KTEST_CODE(7)
// Output: ULONG "Mode" registry value read at AddDevice, ULONG word size.
#define IOCTL_KTEST_INFO KTEST_CODE(8)

#define KTEST_WINDOW_ERROR static_cast<NTSTATUS>(0xC0070004)
