// The map request: a view of the board's memory window in the calling
// process, so that the library reaches the chip with plain loads and stores.
// It is served in the caller's own thread because the view is made in the
// current process.
#include "driver/requests/request_blocks.h"

#include <cstring>

#include "driver/tolva.h"
#include "driver/variant.h"

using namespace tolva;
namespace rq = kalvo::requests;

namespace {

// The block form this caller uses: 32 or 64 (its pointer width in bits).
int CallerBlockWordSize(PIRP irp) {
    if (kVariant.mapForms == MapBlockForms::ThirtyTwoBitOnly) return 32;
    return IoIs32bitProcess(irp) ? 32 : 64;
}

}  // namespace

NTSTATUS CTolva::TolvaIoctlGm(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                              ULONG_PTR* information) {
    const int wordSize = CallerBlockWordSize(irp);
    const ULONG blockSize = static_cast<ULONG>(rq::mapRequestSize(wordSize));
    if (inLength != blockSize || !buffer) return STATUS_INVALID_PARAMETER;
    auto request = rq::decodeMapRequest(
        std::span<const uint8_t>(static_cast<const uint8_t*>(buffer), inLength), wordSize);
    if (!request) return STATUS_INVALID_PARAMETER;

    if (request->isUnmap()) {
        // Views belong to the process, not to the device: an unmap works
        // whatever state the board is in.
        return ZwUnmapViewOfSection(
            NtCurrentProcess(), reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(request->address)));
    }

    if (outLength < blockSize) return STATUS_BUFFER_TOO_SMALL;
    ULONGLONG address = 0;
    NTSTATUS status = MapView(request->address, request->length, &address);
    if (!NT_SUCCESS(status)) return status;

    if (wordSize == 32) {
        if (address > 0xFFFFFFFFull) {
            // The 12-byte block cannot carry this address: undo the view
            // rather than hand back a truncated pointer.
            ZwUnmapViewOfSection(NtCurrentProcess(),
                                 reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(address)));
            return STATUS_CONFLICTING_ADDRESSES;
        }
        const uint32_t out = static_cast<uint32_t>(address);
        std::memcpy(static_cast<PUCHAR>(buffer) + offsetof(rq::MapRequestBlock32, address), &out,
                    sizeof(out));
    } else {
        const uint64_t out = address;
        std::memcpy(static_cast<PUCHAR>(buffer) + offsetof(rq::MapRequestBlock64, address), &out,
                    sizeof(out));
    }
    *information = blockSize;
    return STATUS_SUCCESS;
}

NTSTATUS CTolva::MapView(ULONGLONG offset, ULONG length, ULONGLONG* address) {
    KIRQL irql;
    KeAcquireSpinLock(&m_SpinLock, &irql);
    const bool ready = m_BoardReady;
    const ULONGLONG base = BusAddressOf(m_MemoryWindow);
    const ULONG windowLength = m_MemoryWindow.Length;
    KeReleaseSpinLock(&m_SpinLock, irql);
    if (!ready) return STATUS_DEVICE_NOT_READY;
    // Only the board's own memory window may be mapped.
    if (length == 0 || offset > windowLength || length > windowLength - offset)
        return STATUS_INVALID_PARAMETER;

    const ULONGLONG physical = base + offset;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\PhysicalMemory");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE section = nullptr;
    NTSTATUS status = ZwOpenSection(&section, SECTION_ALL_ACCESS, &attributes);
    if (!NT_SUCCESS(status)) return status;

    PVOID view = nullptr;
    SIZE_T viewSize = length;
    LARGE_INTEGER sectionOffset;
    sectionOffset.QuadPart = static_cast<LONGLONG>(physical);
    status = ZwMapViewOfSection(section, NtCurrentProcess(), &view, 0, length, &sectionOffset,
                                &viewSize, ViewShare, 0, PAGE_READWRITE | PAGE_NOCACHE);
    ZwClose(section);
    if (!NT_SUCCESS(status)) return status;
    // The view starts at the offset moved down to the allocation
    // granularity; the requested byte lies that far into it.
    *address = reinterpret_cast<ULONG_PTR>(view) +
               (physical - static_cast<ULONGLONG>(sectionOffset.QuadPart));
    return STATUS_SUCCESS;
}
