// A small WDM driver for the kernel tests: a device per board with a
// numbered name and link, PnP start/stop/removal with its board windows
// mapped, held requests with a cancel routine, and a few requests that
// exercise the system services. Its PnP and I/O events are kept in a log the
// tests read through KtestEvents.
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "tests/support/test_driver/test_driver_codes.h"

namespace {

std::mutex eventsMutex;
std::string events;

void event(const char* what, int index) {
    std::lock_guard lock(eventsMutex);
    char text[64];
    std::snprintf(text, sizeof text, "%s%s:%d", events.empty() ? "" : " ", what, index);
    events += text;
}

// Creates held inside the dispatch routine while the test says so, and a
// callback run inside the remove request: the tests see what the kernel lets
// reach a device whose removal has begun.
std::mutex createMutex;
std::condition_variable createChanged;
bool holdCreates = false;
bool createHeld = false;
void (*onRemove)(void*) = nullptr;
void* onRemoveContext = nullptr;

struct Extension {
    PDEVICE_OBJECT self;
    PDEVICE_OBJECT lower;
    int index;
    WCHAR name[32];
    WCHAR link[40];
    UNICODE_STRING linkName;
    volatile LONG opens;
    ULONG mode;
    PUCHAR registers;
    ULONG registersLength;
    PUCHAR window;
    ULONG windowLength;
    PHYSICAL_ADDRESS windowBus;
    LIST_ENTRY held;
};

UNICODE_STRING registryPath;
WCHAR registryPathBuffer[256];

void format(WCHAR* out, size_t size, const char* prefix, unsigned n) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%u", prefix, n);
    size_t i = 0;
    for (; text[i] && i + 1 < size; ++i) out[i] = WCHAR(text[i]);
    out[i] = 0;
}

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS onLowerDone(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    if (irp->PendingReturned) KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS forwardAndWait(Extension* ext, PIRP irp) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, onLowerDone, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(ext->lower, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    return irp->IoStatus.Status;
}

NTSTATUS forward(Extension* ext, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->lower, irp);
}

void unmapWindows(Extension* ext) {
    if (ext->registers) MmUnmapIoSpace(ext->registers, ext->registersLength);
    if (ext->window) MmUnmapIoSpace(ext->window, ext->windowLength);
    ext->registers = ext->window = nullptr;
}

NTSTATUS startDevice(Extension* ext, PCM_RESOURCE_LIST translated) {
    if (!translated || translated->Count < 1) return STATUS_INSUFFICIENT_RESOURCES;
    auto& list = translated->List[0].PartialResourceList;
    int memory = 0;
    for (ULONG i = 0; i < list.Count; ++i) {
        auto& d = list.PartialDescriptors[i];
        if (d.Type != CmResourceTypeMemory) continue;
        PUCHAR mapped =
            static_cast<PUCHAR>(MmMapIoSpace(d.u.Memory.Start, d.u.Memory.Length, MmNonCached));
        if (!mapped) {
            unmapWindows(ext);
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        if (memory == 0) {
            ext->registers = mapped;
            ext->registersLength = d.u.Memory.Length;
        } else if (memory == 1) {
            ext->window = mapped;
            ext->windowLength = d.u.Memory.Length;
            ext->windowBus = d.u.Memory.Start;
        } else {
            MmUnmapIoSpace(mapped, d.u.Memory.Length);
        }
        ++memory;
    }
    if (memory < 2) {
        unmapWindows(ext);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
}

void deleteDevice(Extension* ext) {
    IoDeleteSymbolicLink(&ext->linkName);
    if (ext->lower) IoDetachDevice(ext->lower);
    IoDeleteDevice(ext->self);
}

NTSTATUS dispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    auto* ext = static_cast<Extension*>(device->DeviceExtension);
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    switch (location->MinorFunction) {
        case IRP_MN_START_DEVICE: {
            event("start", ext->index);
            NTSTATUS status = forwardAndWait(ext, irp);
            if (NT_SUCCESS(status))
                status =
                    startDevice(ext, location->Parameters.StartDevice.AllocatedResourcesTranslated);
            return complete(irp, status);
        }
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_QUERY_REMOVE_DEVICE:
            event(
                location->MinorFunction == IRP_MN_QUERY_STOP_DEVICE ? "query-stop" : "query-remove",
                ext->index);
            if (ext->opens > 0) return complete(irp, STATUS_UNSUCCESSFUL);
            irp->IoStatus.Status = STATUS_SUCCESS;
            return forward(ext, irp);
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
            event(location->MinorFunction == IRP_MN_CANCEL_STOP_DEVICE ? "cancel-stop"
                                                                       : "cancel-remove",
                  ext->index);
            return complete(irp, forwardAndWait(ext, irp));
        case IRP_MN_STOP_DEVICE:
            event("stop", ext->index);
            unmapWindows(ext);
            irp->IoStatus.Status = STATUS_SUCCESS;
            return forward(ext, irp);
        case IRP_MN_SURPRISE_REMOVAL:
            event("surprise-removal", ext->index);
            irp->IoStatus.Status = STATUS_SUCCESS;
            return forward(ext, irp);
        case IRP_MN_REMOVE_DEVICE: {
            event("remove", ext->index);
            if (onRemove) onRemove(onRemoveContext);
            unmapWindows(ext);
            irp->IoStatus.Status = STATUS_SUCCESS;
            NTSTATUS status = forward(ext, irp);
            deleteDevice(ext);
            return status;
        }
        default:
            return forward(ext, irp);
    }
}

NTSTATUS dispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    auto* ext = static_cast<Extension*>(device->DeviceExtension);
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ext->lower, irp);
}

NTSTATUS dispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
    auto* ext = static_cast<Extension*>(device->DeviceExtension);
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    // Share mode 0 asks for the device alone.
    if (location->Parameters.Create.ShareAccess == 0 && ext->opens > 0)
        return complete(irp, STATUS_SHARING_VIOLATION);
    {
        std::unique_lock lock(createMutex);
        if (holdCreates) {
            event("create-held", ext->index);
            createHeld = true;
            createChanged.notify_all();
            createChanged.wait(lock, [] { return !holdCreates; });
            event("create-refused", ext->index);
            return complete(irp, STATUS_UNSUCCESSFUL);
        }
    }
    InterlockedIncrement(&ext->opens);
    event("create", ext->index);
    return complete(irp, STATUS_SUCCESS);
}

NTSTATUS dispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
    event("cleanup", static_cast<Extension*>(device->DeviceExtension)->index);
    return complete(irp, STATUS_SUCCESS);
}

NTSTATUS dispatchClose(PDEVICE_OBJECT device, PIRP irp) {
    auto* ext = static_cast<Extension*>(device->DeviceExtension);
    InterlockedDecrement(&ext->opens);
    event("close", ext->index);
    return complete(irp, STATUS_SUCCESS);
}

VOID cancelHeld(PDEVICE_OBJECT, PIRP irp) {
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    complete(irp, STATUS_CANCELLED);
}

NTSTATUS hold(Extension* ext, PIRP irp) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    if (irp->Cancel) {
        IoReleaseCancelSpinLock(irql);
        return complete(irp, STATUS_CANCELLED);
    }
    IoMarkIrpPending(irp);
    InsertTailList(&ext->held, &irp->Tail.Overlay.ListEntry);
    IoSetCancelRoutine(irp, cancelHeld);
    IoReleaseCancelSpinLock(irql);
    return STATUS_PENDING;
}

ULONG release(Extension* ext) {
    ULONG count = 0;
    for (;;) {
        KIRQL irql;
        IoAcquireCancelSpinLock(&irql);
        if (IsListEmpty(&ext->held)) {
            IoReleaseCancelSpinLock(irql);
            return count;
        }
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(&ext->held), IRP, Tail.Overlay.ListEntry);
        IoSetCancelRoutine(irp, nullptr);
        IoReleaseCancelSpinLock(irql);
        complete(irp, STATUS_SUCCESS);
        ++count;
    }
}

NTSTATUS mapWindow(Extension* ext, PIRP irp, ULONG inLength, ULONG outLength) {
    if (inLength != 8 || outLength < 24) return complete(irp, STATUS_INVALID_PARAMETER);
    auto* buffer = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
    ULONG offset, length;
    std::memcpy(&offset, buffer, 4);
    std::memcpy(&length, buffer + 4, 4);
    UNICODE_STRING name = RTL_CONSTANT_STRING(u"\\Device\\PhysicalMemory");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE section;
    NTSTATUS status = ZwOpenSection(&section, SECTION_ALL_ACCESS, &attributes);
    if (!NT_SUCCESS(status)) return complete(irp, status);
    PHYSICAL_ADDRESS start;
    start.QuadPart = ext->windowBus.QuadPart + offset;
    PHYSICAL_ADDRESS sectionOffset = start;
    PVOID base = nullptr;
    SIZE_T viewSize = length;
    status = ZwMapViewOfSection(section, NtCurrentProcess(), &base, 0, length, &sectionOffset,
                                &viewSize, ViewShare, 0, PAGE_READWRITE | PAGE_NOCACHE);
    ZwClose(section);
    if (!NT_SUCCESS(status)) return complete(irp, status);
    ULONGLONG address =
        reinterpret_cast<ULONG_PTR>(base) + (start.QuadPart - sectionOffset.QuadPart);
    ULONGLONG reported = ULONGLONG(sectionOffset.QuadPart);
    ULONGLONG size = viewSize;
    std::memcpy(buffer, &address, 8);
    std::memcpy(buffer + 8, &reported, 8);
    std::memcpy(buffer + 16, &size, 8);
    return complete(irp, STATUS_SUCCESS, 24);
}

void logWindowError(Extension* ext) {
    WCHAR address[16], length[16];
    format(address, 16, "", ext->windowBus.LowPart);
    format(length, 16, "", ext->windowLength);
    const WCHAR* strings[] = {ext->name, address, length};
    size_t bytes = 0;
    for (auto* s : strings) bytes += (std::char_traits<char16_t>::length(s) + 1) * sizeof(WCHAR);
    size_t total = sizeof(IO_ERROR_LOG_PACKET) + bytes;
    auto* packet =
        static_cast<PIO_ERROR_LOG_PACKET>(IoAllocateErrorLogEntry(ext->self, UCHAR(total)));
    if (!packet) return;
    packet->ErrorCode = KTEST_WINDOW_ERROR;
    packet->NumberOfStrings = 3;
    packet->StringOffset = sizeof(IO_ERROR_LOG_PACKET);
    auto* out = reinterpret_cast<PUCHAR>(packet) + packet->StringOffset;
    for (auto* s : strings) {
        size_t n = (std::char_traits<char16_t>::length(s) + 1) * sizeof(WCHAR);
        std::memcpy(out, s, n);
        out += n;
    }
    IoWriteErrorLogEntry(packet);
}

NTSTATUS dispatchControl(PDEVICE_OBJECT device, PIRP irp) {
    auto* ext = static_cast<Extension*>(device->DeviceExtension);
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    ULONG inLength = location->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outLength = location->Parameters.DeviceIoControl.OutputBufferLength;
    auto* buffer = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
    switch (location->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_KTEST_ECHO:
            return complete(irp, STATUS_SUCCESS, inLength < outLength ? inLength : outLength);
        case IOCTL_KTEST_HOLD:
            return hold(ext, irp);
        case IOCTL_KTEST_RELEASE: {
            ULONG count = release(ext);
            if (outLength < 4) return complete(irp, STATUS_SUCCESS);
            std::memcpy(buffer, &count, 4);
            return complete(irp, STATUS_SUCCESS, 4);
        }
        case IOCTL_KTEST_WRITE_REGISTER: {
            if (inLength != 8 || !ext->window) return complete(irp, STATUS_INVALID_PARAMETER);
            ULONG offset, value;
            std::memcpy(&offset, buffer, 4);
            std::memcpy(&value, buffer + 4, 4);
            if (offset > ext->windowLength - 4) return complete(irp, STATUS_INVALID_PARAMETER);
            WRITE_REGISTER_ULONG(reinterpret_cast<volatile ULONG*>(ext->window + offset), value);
            return complete(irp, STATUS_SUCCESS);
        }
        case IOCTL_KTEST_MAP:
            return mapWindow(ext, irp, inLength, outLength);
        case IOCTL_KTEST_UNMAP: {
            if (inLength != 8) return complete(irp, STATUS_INVALID_PARAMETER);
            ULONGLONG address;
            std::memcpy(&address, buffer, 8);
            return complete(irp, ZwUnmapViewOfSection(NtCurrentProcess(),
                                                      reinterpret_cast<PVOID>(ULONG_PTR(address))));
        }
        case IOCTL_KTEST_LOG_ERROR:
            logWindowError(ext);
            return complete(irp, STATUS_SUCCESS);
        case IOCTL_KTEST_OVERSTATE:
            return complete(irp, STATUS_SUCCESS, ULONG_PTR(outLength) + 100);
        case IOCTL_KTEST_INFO: {
            if (outLength < 8) return complete(irp, STATUS_BUFFER_TOO_SMALL);
            ULONG words = IoIs32bitProcess(irp) ? 32 : 64;
            std::memcpy(buffer, &ext->mode, 4);
            std::memcpy(buffer + 4, &words, 4);
            return complete(irp, STATUS_SUCCESS, 8);
        }
        default:
            return complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS addDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    for (int n = 0; n < 10; ++n) {
        WCHAR name[40];
        format(name, 40, "\\Device\\KTest", unsigned(n));
        UNICODE_STRING deviceName;
        RtlInitUnicodeString(&deviceName, name);
        PDEVICE_OBJECT device;
        status =
            IoCreateDevice(driver, sizeof(Extension), &deviceName, KTEST_DEVICE, 0, FALSE, &device);
        if (!NT_SUCCESS(status)) continue;
        auto* ext = static_cast<Extension*>(device->DeviceExtension);
        ext->self = device;
        ext->index = n;
        InitializeListHead(&ext->held);
        format(ext->name, 32, "KTest", unsigned(n));
        format(ext->link, 40, "\\DosDevices\\ktest", unsigned(n));
        RtlInitUnicodeString(&ext->linkName, ext->link);
        status = IoCreateSymbolicLink(&ext->linkName, &deviceName);
        if (!NT_SUCCESS(status)) {
            IoDeleteDevice(device);
            continue;
        }
        // Parameters\Mode, 0 when missing.
        WCHAR key[300];
        size_t k = 0;
        for (USHORT i = 0; i < registryPath.Length / 2; ++i) key[k++] = registryPath.Buffer[i];
        for (const char* p = "\\Parameters"; *p; ++p) key[k++] = WCHAR(*p);
        key[k] = 0;
        RTL_QUERY_REGISTRY_TABLE table[2] = {};
        table[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
        table[0].Name = const_cast<PWSTR>(u"Mode");
        table[0].EntryContext = &ext->mode;
        RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, key, table, nullptr, nullptr);

        ext->lower = IoAttachDeviceToDeviceStack(device, pdo);
        device->Flags |= DO_POWER_PAGABLE | DO_DIRECT_IO;
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        event("add", n);
        return STATUS_SUCCESS;
    }
    return status;
}

VOID unload(PDRIVER_OBJECT) {
    event("unload", 0);
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING path) {
    {
        std::lock_guard lock(eventsMutex);
        events.clear();
    }
    registryPath.Buffer = registryPathBuffer;
    registryPath.MaximumLength = sizeof registryPathBuffer;
    RtlCopyUnicodeString(&registryPath, path);
    driver->MajorFunction[IRP_MJ_CREATE] = dispatchCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatchCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchControl;
    driver->MajorFunction[IRP_MJ_PNP] = dispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = dispatchPower;
    driver->DriverExtension->AddDevice = addDevice;
    driver->DriverUnload = unload;
    return STATUS_SUCCESS;
}

// The event log: "add:0 start:0 create:0 ..." (copied into out, NUL-
// terminated); returns its full length.
extern "C" [[gnu::visibility("default")]] size_t KtestEvents(char* out, size_t size) {
    std::lock_guard lock(eventsMutex);
    if (size) std::snprintf(out, size, "%s", events.c_str());
    return events.size();
}

// While hold is nonzero, creates wait inside the dispatch routine and then
// fail with STATUS_UNSUCCESSFUL.
extern "C" [[gnu::visibility("default")]] void KtestHoldCreates(int hold) {
    std::lock_guard lock(createMutex);
    holdCreates = hold != 0;
    if (hold) createHeld = false;
    createChanged.notify_all();
}

// Returns once a create waits inside the dispatch routine.
extern "C" [[gnu::visibility("default")]] void KtestWaitForHeldCreate() {
    std::unique_lock lock(createMutex);
    createChanged.wait(lock, [] { return createHeld; });
}

// fn(context) runs inside each remove request (null: nothing).
extern "C" [[gnu::visibility("default")]] void KtestOnRemove(void (*fn)(void*), void* context) {
    onRemove = fn;
    onRemoveContext = context;
}
