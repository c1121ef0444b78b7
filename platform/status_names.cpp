#include "platform/status_names.h"

#include <cstdio>

#include "platform/win_error.h"

namespace kalvo::platform {

const char* ntStatusName(NTSTATUS status) noexcept {
    switch (status) {
        case STATUS_SUCCESS:
            return "STATUS_SUCCESS";
        case STATUS_PENDING:
            return "STATUS_PENDING";
        case STATUS_UNSUCCESSFUL:
            return "STATUS_UNSUCCESSFUL";
        case STATUS_NOT_IMPLEMENTED:
            return "STATUS_NOT_IMPLEMENTED";
        case STATUS_INVALID_HANDLE:
            return "STATUS_INVALID_HANDLE";
        case STATUS_INVALID_PARAMETER:
            return "STATUS_INVALID_PARAMETER";
        case STATUS_NO_SUCH_DEVICE:
            return "STATUS_NO_SUCH_DEVICE";
        case STATUS_INVALID_DEVICE_REQUEST:
            return "STATUS_INVALID_DEVICE_REQUEST";
        case STATUS_NO_MEMORY:
            return "STATUS_NO_MEMORY";
        case STATUS_CONFLICTING_ADDRESSES:
            return "STATUS_CONFLICTING_ADDRESSES";
        case STATUS_NOT_MAPPED_VIEW:
            return "STATUS_NOT_MAPPED_VIEW";
        case STATUS_ACCESS_DENIED:
            return "STATUS_ACCESS_DENIED";
        case STATUS_BUFFER_TOO_SMALL:
            return "STATUS_BUFFER_TOO_SMALL";
        case STATUS_OBJECT_NAME_INVALID:
            return "STATUS_OBJECT_NAME_INVALID";
        case STATUS_OBJECT_NAME_NOT_FOUND:
            return "STATUS_OBJECT_NAME_NOT_FOUND";
        case STATUS_OBJECT_NAME_COLLISION:
            return "STATUS_OBJECT_NAME_COLLISION";
        case STATUS_OBJECT_PATH_NOT_FOUND:
            return "STATUS_OBJECT_PATH_NOT_FOUND";
        case STATUS_SHARING_VIOLATION:
            return "STATUS_SHARING_VIOLATION";
        case STATUS_DELETE_PENDING:
            return "STATUS_DELETE_PENDING";
        case STATUS_INSUFFICIENT_RESOURCES:
            return "STATUS_INSUFFICIENT_RESOURCES";
        case STATUS_DEVICE_NOT_READY:
            return "STATUS_DEVICE_NOT_READY";
        case STATUS_NOT_SUPPORTED:
            return "STATUS_NOT_SUPPORTED";
        case STATUS_DEVICE_DOES_NOT_EXIST:
            return "STATUS_DEVICE_DOES_NOT_EXIST";
        case STATUS_CANCELLED:
            return "STATUS_CANCELLED";
        default:
            return nullptr;
    }
}

const char* win32ErrorName(uint32_t error) noexcept {
    switch (error) {
        case ERROR_SUCCESS:
            return "ERROR_SUCCESS";
        case ERROR_FILE_NOT_FOUND:
            return "ERROR_FILE_NOT_FOUND";
        case ERROR_PATH_NOT_FOUND:
            return "ERROR_PATH_NOT_FOUND";
        case ERROR_TOO_MANY_OPEN_FILES:
            return "ERROR_TOO_MANY_OPEN_FILES";
        case ERROR_ACCESS_DENIED:
            return "ERROR_ACCESS_DENIED";
        case ERROR_INVALID_HANDLE:
            return "ERROR_INVALID_HANDLE";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "ERROR_NOT_ENOUGH_MEMORY";
        case ERROR_NOT_READY:
            return "ERROR_NOT_READY";
        case ERROR_GEN_FAILURE:
            return "ERROR_GEN_FAILURE";
        case ERROR_SHARING_VIOLATION:
            return "ERROR_SHARING_VIOLATION";
        case ERROR_NOT_SUPPORTED:
            return "ERROR_NOT_SUPPORTED";
        case ERROR_FILE_EXISTS:
            return "ERROR_FILE_EXISTS";
        case ERROR_INVALID_PARAMETER:
            return "ERROR_INVALID_PARAMETER";
        case ERROR_BUFFER_OVERFLOW:
            return "ERROR_BUFFER_OVERFLOW";
        case ERROR_INSUFFICIENT_BUFFER:
            return "ERROR_INSUFFICIENT_BUFFER";
        case ERROR_INVALID_NAME:
            return "ERROR_INVALID_NAME";
        case ERROR_MOD_NOT_FOUND:
            return "ERROR_MOD_NOT_FOUND";
        case ERROR_PROC_NOT_FOUND:
            return "ERROR_PROC_NOT_FOUND";
        case ERROR_ALREADY_EXISTS:
            return "ERROR_ALREADY_EXISTS";
        case ERROR_FILENAME_EXCED_RANGE:
            return "ERROR_FILENAME_EXCED_RANGE";
        case ERROR_TOO_MANY_POSTS:
            return "ERROR_TOO_MANY_POSTS";
        case ERROR_OPERATION_ABORTED:
            return "ERROR_OPERATION_ABORTED";
        case ERROR_IO_PENDING:
            return "ERROR_IO_PENDING";
        case ERROR_DLL_INIT_FAILED:
            return "ERROR_DLL_INIT_FAILED";
        case ERROR_NOT_OWNER:
            return "ERROR_NOT_OWNER";
        case ERROR_TIMEOUT:
            return "ERROR_TIMEOUT";
        default:
            return nullptr;
    }
}

std::string ntStatusText(NTSTATUS status) {
    char text[64];
    const char* name = ntStatusName(status);
    if (name)
        std::snprintf(text, sizeof text, "%s (0x%08X)", name, static_cast<unsigned>(status));
    else
        std::snprintf(text, sizeof text, "NTSTATUS 0x%08X", static_cast<unsigned>(status));
    return text;
}

std::string win32ErrorText(uint32_t error) {
    char text[64];
    const char* name = win32ErrorName(error);
    if (name)
        std::snprintf(text, sizeof text, "%s (%u)", name, error);
    else
        std::snprintf(text, sizeof text, "error %u", error);
    return text;
}

}  // namespace kalvo::platform
