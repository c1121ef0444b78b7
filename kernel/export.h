// Symbol visibility of the kernel runtime's host-side C++ API (the driver
// interface itself is marked KALVO_WDM_API).
#pragma once

#define KALVO_KERNEL_API [[gnu::visibility("default")]]
