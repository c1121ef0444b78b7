#include "platform/ntstatus.h"

#include "platform/win_error.h"

namespace kalvo::platform {

uint32_t win32ErrorFromNtStatus(NTSTATUS status) noexcept {
    switch (status) {
        case STATUS_SUCCESS:
            return ERROR_SUCCESS;
        case STATUS_PENDING:
            return ERROR_IO_PENDING;
        case STATUS_UNSUCCESSFUL:
            return ERROR_GEN_FAILURE;
        case STATUS_NOT_IMPLEMENTED:
        case STATUS_INVALID_DEVICE_REQUEST:
            return 1;  // ERROR_INVALID_FUNCTION
        case STATUS_INVALID_HANDLE:
            return ERROR_INVALID_HANDLE;
        case STATUS_INVALID_PARAMETER:
            return ERROR_INVALID_PARAMETER;
        case STATUS_NO_SUCH_DEVICE:
        case STATUS_OBJECT_NAME_NOT_FOUND:
            return ERROR_FILE_NOT_FOUND;
        case STATUS_NO_MEMORY:
            return ERROR_NOT_ENOUGH_MEMORY;
        case STATUS_CONFLICTING_ADDRESSES:
        case STATUS_NOT_MAPPED_VIEW:
            return 487;  // ERROR_INVALID_ADDRESS
        case STATUS_ACCESS_DENIED:
        case STATUS_DELETE_PENDING:
            return ERROR_ACCESS_DENIED;
        case STATUS_BUFFER_TOO_SMALL:
            return ERROR_INSUFFICIENT_BUFFER;
        case STATUS_OBJECT_NAME_INVALID:
            return ERROR_INVALID_NAME;
        case STATUS_OBJECT_NAME_COLLISION:
            return ERROR_ALREADY_EXISTS;
        case STATUS_OBJECT_PATH_NOT_FOUND:
            return ERROR_PATH_NOT_FOUND;
        case STATUS_SHARING_VIOLATION:
            return ERROR_SHARING_VIOLATION;
        case STATUS_INSUFFICIENT_RESOURCES:
            return 1450;  // ERROR_NO_SYSTEM_RESOURCES
        case STATUS_DEVICE_NOT_READY:
            return ERROR_NOT_READY;
        case STATUS_NOT_SUPPORTED:
            return ERROR_NOT_SUPPORTED;
        case STATUS_DEVICE_DOES_NOT_EXIST:
            return 55;  // ERROR_DEV_NOT_EXIST
        case STATUS_CANCELLED:
            return ERROR_OPERATION_ABORTED;
        default:
            return 317;  // ERROR_MR_MID_NOT_FOUND
    }
}

}  // namespace kalvo::platform
