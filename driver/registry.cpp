#include "driver/registry.h"

NTSTATUS CRegistry::QueryDword(const WCHAR* name, ULONG* value) {
    if (!path_.IsValid() || path_.IsEmpty()) return STATUS_OBJECT_NAME_NOT_FOUND;
    ULONG result = *value;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    // Only a REG_DWORD may land in the 4-byte result; a value of another type
    // is refused (STATUS_OBJECT_TYPE_MISMATCH) and leaves it as it was.
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK;
    table[0].Name = const_cast<PWSTR>(name);
    table[0].EntryContext = &result;
    // A missing value leaves result as it was.
    table[0].DefaultType = (REG_DWORD << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT) | REG_NONE;
    NTSTATUS status =
        RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, path_.Buffer(), table, nullptr, nullptr);
    if (NT_SUCCESS(status)) *value = result;
    return status;
}
