// Losing the device host.
//
// The host plays the kernel, but unlike a kernel it can die, be stopped or be
// restarted while programs hold its devices. Each handle is a connection to
// it, and the host's end closes with it. One thread per process watches the
// connections of the handles it is asked to watch and tells the handle's
// owner within a few milliseconds, with the reason; requests on such a
// handle fail from then on (the connection is gone), and nothing reconnects
// by itself: a program reopens its devices to reach a new host.
//
// The board memory a lost host mapped into this process stays mapped until
// the owner retires it: first with zeros of its own (nothing reaches the
// board any more, nothing faults), then, once no access can still be under
// way, with memory that faults on any access, so that a pointer kept into the
// old window cannot silently reach a board that a new host now serves. The
// addresses stay taken either way.
#pragma once

#include <cstdint>
#include <string>

#include "platform/device.h"
#include "platform/export.h"

namespace kalvo::platform {

// Runs once on the watch thread when the host has ended the connection of a
// watched handle; why says what became of the host ("the device host (pid
// 812) was stopped", "... ended without stopping its devices (killed or
// crashed)", "... was replaced by another host"). It must be short and must
// not close the handle.
using DeviceLossHandler = void (*)(void* context, const char* why);

// Watches the handle's connection. A connection that has already ended is
// reported at once. False (ERROR_INVALID_HANDLE) for a handle that is not
// open, or one already watched.
KALVO_PLATFORM_API bool watchDeviceLoss(HANDLE handle, DeviceLossHandler handler,
                                        void* context) noexcept;
// The reason of the last loss reported in this process; empty before any.
KALVO_PLATFORM_API std::string lastDeviceLoss();

// Ends the watch of the handle; returns once its handler no longer runs.
// closeHandle does this itself.
KALVO_PLATFORM_API void unwatchDeviceLoss(HANDLE handle) noexcept;

// Replaces the whole view of board memory that holds address with anonymous
// memory of this process: zeros that may be read and written (accessible),
// or no access at all. False when no view of this process holds address.
KALVO_PLATFORM_API bool retireDeviceView(const void* address, bool accessible) noexcept;

// The device host that serves now, as the socket a new handle would connect
// to shows it: the time it began serving (the socket's creation) and a
// number that differs for every start. False when no host socket is there.
struct DeviceHostStart {
    uint64_t identity = 0;
    int64_t startedNs = 0;  // CLOCK_REALTIME nanoseconds
    std::string socketPath;
};
KALVO_PLATFORM_API bool currentDeviceHost(DeviceHostStart* host) noexcept;

namespace device_loss {
// Inside the platform: device.cpp hands over the connection of a watched
// handle (its socket and the path it was reached by).
bool watch(HANDLE handle, int sock, const std::string& socketPath, DeviceLossHandler handler,
           void* context) noexcept;
void forget(HANDLE handle) noexcept;
}  // namespace device_loss

}  // namespace kalvo::platform
