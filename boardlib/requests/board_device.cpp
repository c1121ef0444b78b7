#include "boardlib/requests/board_device.h"

namespace kalvo::boardlib {

using namespace platform;

HANDLE openBoardDevice(const char* path, int wordSize) {
    return createFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      OPEN_EXISTING, 0, wordSize);
}

void closeBoardDevice(HANDLE& handle) {
    if (handle != INVALID_HANDLE_VALUE) closeHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

}  // namespace kalvo::boardlib
