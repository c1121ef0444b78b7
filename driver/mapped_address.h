// One of the board's memory windows: where the resource list put it on the
// bus and where it is mapped in system space.
#pragma once

#include "kernel/wdm.h"

typedef struct _ORBEK_MAPPED_ADDRESS {
    PVOID MappedAddress;  // system-space address once mapped
    ULONG Length;         // bytes, from the resource descriptor
    ULONG BusAddressLow;  // start in the translated resource list
    ULONG BusAddressHigh;
    UCHAR Mapped;  // mapped by this driver: must be unmapped (once)
    ULONG Flags;   // the descriptor's 16-bit flags
} ORBEK_MAPPED_ADDRESS, *PORBEK_MAPPED_ADDRESS;

inline ULONGLONG BusAddressOf(const ORBEK_MAPPED_ADDRESS& window) {
    return (ULONGLONG(window.BusAddressHigh) << 32) | window.BusAddressLow;
}
