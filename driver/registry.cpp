#include "driver/registry.h"

NTSTATUS CRegistry::QueryDword(const WCHAR* name, ULONG* value) {
    if (!path_.IsValid() || path_.IsEmpty()) return STATUS_OBJECT_NAME_NOT_FOUND;
    ULONG result = *value;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
    table[0].Name = const_cast<PWSTR>(name);
    table[0].EntryContext = &result;
    table[0].DefaultType = REG_NONE;  // a missing value leaves result as it was
    NTSTATUS status =
        RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, path_.Buffer(), table, nullptr, nullptr);
    if (NT_SUCCESS(status)) *value = result;
    return status;
}
