// CEventLog: error-log entries for one device object. The entries carry
// only an error code and insertion strings; their texts live in the message
// table of the system's event viewer.
#pragma once

#include "kernel/wdm.h"

class CEventLog {
  public:
    explicit CEventLog(PDEVICE_OBJECT device) : device_(device) {}

    void LogError(NTSTATUS errorCode) { LogError(errorCode, 0, nullptr); }
    // count NUL-terminated wide strings, in order. An entry that cannot be
    // allocated (or would not fit the maximum entry size) is dropped.
    void LogError(NTSTATUS errorCode, ULONG count, const WCHAR* const* strings);

  private:
    PDEVICE_OBJECT device_;
};

// The driver's error codes (message table entries).
inline constexpr NTSTATUS TOLVA_ERROR_MAP_FAILED = static_cast<NTSTATUS>(0xC0070004);
inline constexpr NTSTATUS TOLVA_ERROR_INIT_FAILED = static_cast<NTSTATUS>(0xC0070003);
