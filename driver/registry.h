// CRegistry: REG_DWORD values under one absolute key path (the service's
// "Parameters" key).
#pragma once

#include "driver/kstring.h"
#include "kernel/wdm.h"

class CRegistry {
  public:
    explicit CRegistry(const CString& keyPath) : path_(keyPath) {}

    // Leaves *value untouched when the key or the value is missing or is not
    // a REG_DWORD; returns the query's status.
    NTSTATUS QueryDword(const WCHAR* name, ULONG* value);

  private:
    CString path_;
};
