// Device handles: CreateFile, DeviceIoControl, CancelIo and CloseHandle on
// the devices that the device host serves ("\\.\tolva0" and the like).
//
// Each open handle is its own connection to the host. Requests on one handle
// are serialised, as on a synchronous Windows handle: a request that the
// driver holds blocks its caller until the driver completes it, and CancelIo
// from another thread cancels it. While a request runs, the driver may map or
// unmap views of the board memory in this process ("in the context of the
// calling process"); those views belong to the process, not to the handle, and
// stay valid after the handle is closed.
//
// Failures return INVALID_HANDLE_VALUE or false and leave a Win32 code in the
// calling thread's last error (the driver's NTSTATUS translated as Windows
// does; no host at all reads as ERROR_FILE_NOT_FOUND).
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace kalvo::platform {

using HANDLE = void*;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

inline constexpr uint32_t GENERIC_READ = 0x80000000u;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr uint32_t FILE_SHARE_READ = 0x00000001u;
inline constexpr uint32_t FILE_SHARE_WRITE = 0x00000002u;
inline constexpr uint32_t FILE_SHARE_DELETE = 0x00000004u;
inline constexpr uint32_t CREATE_NEW = 1;
inline constexpr uint32_t CREATE_ALWAYS = 2;
inline constexpr uint32_t OPEN_EXISTING = 3;
inline constexpr uint32_t OPEN_ALWAYS = 4;
inline constexpr uint32_t TRUNCATE_EXISTING = 5;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x00000080u;

// The word size (32 or 64) that createFile declares to the host when the
// caller gives none: a 32-bit caller's views are placed below 4 GiB so that
// its 12-byte map request block can hold their addresses. Defaults to this
// build's pointer width. Returns false for any other value.
KALVO_PLATFORM_API bool setDeviceCallerWordSize(int bits) noexcept;
KALVO_PLATFORM_API int deviceCallerWordSize() noexcept;

// CreateFileA on a device path. INVALID_HANDLE_VALUE on failure.
KALVO_PLATFORM_API HANDLE createFile(const char* path, uint32_t desiredAccess, uint32_t shareMode,
                                     uint32_t creationDisposition,
                                     uint32_t flagsAndAttributes) noexcept;
// The same for a library built in the 32-bit or 64-bit form (callerWordSize).
KALVO_PLATFORM_API HANDLE createFile(const char* path, uint32_t desiredAccess, uint32_t shareMode,
                                     uint32_t creationDisposition, uint32_t flagsAndAttributes,
                                     int callerWordSize) noexcept;

// DeviceIoControl, METHOD_BUFFERED, synchronous. Input and output are each
// at most 64 KiB. *bytesReturned (when given) gets the bytes written to
// output. True when the driver completed the request with success.
KALVO_PLATFORM_API bool deviceIoControl(HANDLE handle, uint32_t ioControlCode, const void* input,
                                        uint32_t inputLength, void* output, uint32_t outputLength,
                                        uint32_t* bytesReturned) noexcept;

// CancelIo: cancels the request that is in progress on the handle, from any
// thread (its DeviceIoControl then fails with ERROR_OPERATION_ABORTED).
// Returns once the driver has been asked; true also when nothing was running.
KALVO_PLATFORM_API bool cancelIo(HANDLE handle) noexcept;

// CloseHandle: the driver gets cleanup and close. A request still running on
// the handle in another thread fails. False with ERROR_INVALID_HANDLE for a
// handle that is not open.
KALVO_PLATFORM_API bool closeHandle(HANDLE handle) noexcept;

}  // namespace kalvo::platform
