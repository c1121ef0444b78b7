// The board library's way to its board devices: open and close a device and
// send the eight requests, through the request wrappers. A unit test can put
// a DevicePort in their place to serve scripted devices (and windows) from
// memory and record which requests were sent.
#pragma once

#include <cstdint>
#include <type_traits>

#include "boardlib/frame/build_parameters.h"
#include "driver/requests/request_blocks.h"
#include "platform/device.h"

namespace kalvo::boardlib {

// The map request block of this build's word size (12 or 24 bytes).
using MapBlock = std::conditional_t<kBuild.wordSize == 64, requests::MapRequestBlock64,
                                    requests::MapRequestBlock32>;

enum class ConnectMode { Normal, LongFrame, Gmm };

class DevicePort {
  public:
    virtual ~DevicePort() = default;
    // INVALID_HANDLE_VALUE (with the reason in the last error) on failure.
    virtual platform::HANDLE open(const char* path) = 0;
    virtual void close(platform::HANDLE handle) = 0;
    // Each 0 on success, -1 on failure, as the request wrappers answer.
    virtual int32_t status(platform::HANDLE device, requests::StatusBlock* status) = 0;
    virtual int32_t name(platform::HANDLE device, requests::NameRequestBlock* block) = 0;
    virtual int32_t connect(platform::HANDLE device, ConnectMode mode,
                            const requests::ConnectRequestBlock* block) = 0;
    virtual int32_t disconnect(platform::HANDLE device) = 0;
    virtual int32_t reset(platform::HANDLE device) = 0;
    virtual int32_t map(platform::HANDLE device, MapBlock* block) = 0;
};

namespace device {

// Tests only: null restores the real devices.
void setPort(DevicePort* port) noexcept;

platform::HANDLE open(const char* path);
// Closes an open handle and leaves it INVALID_HANDLE_VALUE in every case.
void close(platform::HANDLE& handle);
int32_t status(platform::HANDLE device, requests::StatusBlock* status);
int32_t name(platform::HANDLE device, requests::NameRequestBlock* block);
int32_t connect(platform::HANDLE device, ConnectMode mode,
                const requests::ConnectRequestBlock* block);
int32_t disconnect(platform::HANDLE device);
int32_t reset(platform::HANDLE device);
int32_t map(platform::HANDLE device, MapBlock* block);

}  // namespace device
}  // namespace kalvo::boardlib
