// The eight device requests that the board library sends. Each makes
// exactly one synchronous DeviceIoControl on the board's handle and returns
// 0 when it succeeded and -1 when it failed; the device's status is then in
// the last error (for the caller's log line). Requests are never retried.
#pragma once

#include <cstdint>

#include "driver/requests/request_blocks.h"
#include "platform/device.h"

namespace kalvo::boardlib {

// IOCTL_TOLVA_STATUS: the device writes the 12-byte status block.
int32_t requestStatus(platform::HANDLE device, requests::StatusBlock* status);
// IOCTL_TOLVA_NAME: the block goes out and comes back (20 bytes each way).
int32_t requestName(platform::HANDLE device, requests::NameRequestBlock* block);
// IOCTL_TOLVA_CONNECT, _CONNECT_LF, _CONNECT_GMM: the 12-byte connect block.
int32_t requestConnect(platform::HANDLE device, const requests::ConnectRequestBlock* block);
int32_t requestConnectLF(platform::HANDLE device, const requests::ConnectRequestBlock* block);
int32_t requestConnectGMM(platform::HANDLE device, const requests::ConnectRequestBlock* block);
// IOCTL_TOLVA_DISCONNECT and IOCTL_TOLVA_RESET: nothing in, nothing out.
int32_t requestDisconnect(platform::HANDLE device);
int32_t requestReset(platform::HANDLE device);
// IOCTL_TOLVA_MAP_MEMORY with the board's map block, in and out: the 12-byte
// form of a 32-bit build or the 24-byte form of a 64-bit build.
int32_t requestMapMemory(platform::HANDLE device, requests::MapRequestBlock32* block);
int32_t requestMapMemory(platform::HANDLE device, requests::MapRequestBlock64* block);

}  // namespace kalvo::boardlib
