#include "boardlib/requests/request_wrappers.h"

#include "driver/requests/request_codes.h"

namespace kalvo::boardlib {
namespace {

using platform::HANDLE;

int32_t sendRequest(HANDLE device, uint32_t code, const void* input, uint32_t inputLength,
                    void* output, uint32_t outputLength) {
    uint32_t bytesReturned = 0;  // not used: each request's answer has a fixed size
    return platform::deviceIoControl(device, code, input, inputLength, output, outputLength,
                                     &bytesReturned)
               ? 0
               : -1;
}

}  // namespace

int32_t requestStatus(HANDLE device, requests::StatusBlock* status) {
    return sendRequest(device, requests::IOCTL_TOLVA_STATUS, nullptr, 0, status, sizeof *status);
}

int32_t requestName(HANDLE device, requests::NameRequestBlock* block) {
    return sendRequest(device, requests::IOCTL_TOLVA_NAME, block, sizeof *block, block,
                       sizeof *block);
}

int32_t requestConnect(HANDLE device, const requests::ConnectRequestBlock* block) {
    return sendRequest(device, requests::IOCTL_TOLVA_CONNECT, block, sizeof *block, nullptr, 0);
}

int32_t requestConnectLF(HANDLE device, const requests::ConnectRequestBlock* block) {
    return sendRequest(device, requests::IOCTL_TOLVA_CONNECT_LF, block, sizeof *block, nullptr, 0);
}

int32_t requestConnectGMM(HANDLE device, const requests::ConnectRequestBlock* block) {
    return sendRequest(device, requests::IOCTL_TOLVA_CONNECT_GMM, block, sizeof *block, nullptr, 0);
}

int32_t requestDisconnect(HANDLE device) {
    return sendRequest(device, requests::IOCTL_TOLVA_DISCONNECT, nullptr, 0, nullptr, 0);
}

int32_t requestReset(HANDLE device) {
    return sendRequest(device, requests::IOCTL_TOLVA_RESET, nullptr, 0, nullptr, 0);
}

int32_t requestMapMemory(HANDLE device, requests::MapRequestBlock32* block) {
    return sendRequest(device, requests::IOCTL_TOLVA_MAP_MEMORY, block, sizeof *block, block,
                       sizeof *block);
}

int32_t requestMapMemory(HANDLE device, requests::MapRequestBlock64* block) {
    return sendRequest(device, requests::IOCTL_TOLVA_MAP_MEMORY, block, sizeof *block, block,
                       sizeof *block);
}

}  // namespace kalvo::boardlib
