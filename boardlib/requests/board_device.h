// The board library's handle on one board device ("\\.\tolva<n>",
// "\\.\KVMDRV<n>", "\\.\Cardmaster<n>").
#pragma once

#include <cstdint>

#include "platform/device.h"

namespace kalvo::boardlib {

// Opens the device for reading and writing, shared for reading and writing,
// existing device only, no overlapped operation. wordSize is the library
// build's (32 or 64): a 32-bit build's views are placed below 4 GiB. The
// result is what the caller stores, INVALID_HANDLE_VALUE included; the
// reason of a failure is in the last error.
platform::HANDLE openBoardDevice(const char* path, int wordSize);

// Closes a handle that is open, and leaves it INVALID_HANDLE_VALUE in every
// case.
void closeBoardDevice(platform::HANDLE& handle);

}  // namespace kalvo::boardlib
