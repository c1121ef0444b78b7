// Names of the NTSTATUS values and Win32 error codes of the platform layer,
// for messages a person reads: "STATUS_DEVICE_NOT_READY (0xC00000A3)",
// "ERROR_INVALID_PARAMETER (87)".
#pragma once

#include <cstdint>
#include <string>

#include "platform/export.h"
#include "platform/ntstatus.h"

namespace kalvo::platform {

// The value's name, or null for one the platform layer does not define.
KALVO_PLATFORM_API const char* ntStatusName(NTSTATUS status) noexcept;
KALVO_PLATFORM_API const char* win32ErrorName(uint32_t error) noexcept;

// "NAME (0xC00000A3)" / "NAME (87)"; a value without a name gives
// "NTSTATUS 0x........" / "error 1234".
KALVO_PLATFORM_API std::string ntStatusText(NTSTATUS status);
KALVO_PLATFORM_API std::string win32ErrorText(uint32_t error);

}  // namespace kalvo::platform
