#include "driver/event_log.h"

#include <cstddef>
#include <cstring>

void CEventLog::LogError(NTSTATUS errorCode, ULONG count, const WCHAR* const* strings) {
    size_t stringBytes = 0;
    for (ULONG i = 0; i < count; ++i) {
        size_t n = 0;
        while (strings[i][n]) ++n;
        stringBytes += (n + 1) * sizeof(WCHAR);
    }
    // The packet already holds one ULONG of dump data; strings follow it.
    const size_t header = offsetof(IO_ERROR_LOG_PACKET, DumpData) + sizeof(ULONG);
    const size_t total = header + stringBytes;
    if (total > ERROR_LOG_MAXIMUM_SIZE) return;

    auto* entry = static_cast<PIO_ERROR_LOG_PACKET>(
        IoAllocateErrorLogEntry(device_, static_cast<UCHAR>(total)));
    if (!entry) return;

    entry->MajorFunctionCode = 0;
    entry->RetryCount = 0;
    entry->DumpDataSize = 0;
    entry->NumberOfStrings = static_cast<USHORT>(count);
    entry->StringOffset = static_cast<USHORT>(header);
    entry->EventCategory = 0;
    entry->ErrorCode = errorCode;
    entry->UniqueErrorValue = 0;
    entry->FinalStatus = 0;
    entry->SequenceNumber = 0;
    entry->IoControlCode = 0;
    entry->DeviceOffset.QuadPart = 0;

    auto* out = reinterpret_cast<unsigned char*>(entry) + header;
    for (ULONG i = 0; i < count; ++i) {
        size_t n = 0;
        while (strings[i][n]) ++n;
        std::memcpy(out, strings[i], (n + 1) * sizeof(WCHAR));
        out += (n + 1) * sizeof(WCHAR);
    }
    IoWriteErrorLogEntry(entry);
}
