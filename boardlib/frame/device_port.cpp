#include "boardlib/frame/device_port.h"

#include <atomic>

#include "boardlib/requests/board_device.h"
#include "boardlib/requests/request_wrappers.h"

namespace kalvo::boardlib::device {

using platform::HANDLE;
using platform::INVALID_HANDLE_VALUE;

namespace {
std::atomic<DevicePort*> gPort{nullptr};

DevicePort* port() noexcept {
    return gPort.load(std::memory_order_acquire);
}
}  // namespace

void setPort(DevicePort* p) noexcept {
    gPort.store(p, std::memory_order_release);
}

HANDLE open(const char* path) {
    if (DevicePort* p = port()) return p->open(path);
    return openBoardDevice(path, kBuild.wordSize);
}

void close(HANDLE& handle) {
    if (DevicePort* p = port()) {
        if (handle != INVALID_HANDLE_VALUE) p->close(handle);
        handle = INVALID_HANDLE_VALUE;
        return;
    }
    closeBoardDevice(handle);
}

int32_t status(HANDLE device, requests::StatusBlock* status) {
    if (DevicePort* p = port()) return p->status(device, status);
    return requestStatus(device, status);
}

int32_t name(HANDLE device, requests::NameRequestBlock* block) {
    if (DevicePort* p = port()) return p->name(device, block);
    return requestName(device, block);
}

int32_t connect(HANDLE device, ConnectMode mode, const requests::ConnectRequestBlock* block) {
    if (DevicePort* p = port()) return p->connect(device, mode, block);
    switch (mode) {
        case ConnectMode::Normal:
            return requestConnect(device, block);
        case ConnectMode::LongFrame:
            return requestConnectLF(device, block);
        case ConnectMode::Gmm:
            break;
    }
    return requestConnectGMM(device, block);
}

int32_t disconnect(HANDLE device) {
    if (DevicePort* p = port()) return p->disconnect(device);
    return requestDisconnect(device);
}

int32_t reset(HANDLE device) {
    if (DevicePort* p = port()) return p->reset(device);
    return requestReset(device);
}

int32_t map(HANDLE device, MapBlock* block) {
    if (DevicePort* p = port()) return p->map(device, block);
    return requestMapMemory(device, block);
}

}  // namespace kalvo::boardlib::device
