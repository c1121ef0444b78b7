#include "kernel/wdm_device_backend.h"

#include <chrono>

#include "kernel/completion_record.h"
#include "kernel/current_process.h"
#include "kernel/hardware_provider.h"
#include "kernel/irp_block.h"
#include "kernel/irql.h"
#include "kernel/kernel.h"
#include "kernel/object_namespace.h"
#include "kernel/object_records.h"

namespace kalvo::kernel {

namespace {

// CreateFile's creation disposition as the create options' high byte.
ULONG ntDisposition(uint32_t win32) {
    switch (win32) {
        case 1:
            return 2;  // CREATE_NEW -> FILE_CREATE
        case 2:
            return 5;  // CREATE_ALWAYS -> FILE_OVERWRITE_IF
        case 3:
            return 1;  // OPEN_EXISTING -> FILE_OPEN
        case 4:
            return 3;  // OPEN_ALWAYS -> FILE_OPEN_IF
        case 5:
            return 4;  // TRUNCATE_EXISTING -> FILE_OVERWRITE
        default:
            return 1;
    }
}

constexpr uint32_t kFileFlagOverlapped = 0x40000000;
constexpr ULONG kFileSynchronousIoNonalert = 0x20;
constexpr ULONG kFileNonDirectoryFile = 0x40;

PIRP fileIrp(PDEVICE_OBJECT top, PFILE_OBJECT file, UCHAR major) {
    PIRP irp = allocateIrp(top->StackSize, IrpOrigin::Synchronous);
    if (!irp) return nullptr;
    irp->RequestorMode = UserMode;
    irp->Tail.Overlay.OriginalFileObject = file;
    irp->IoStatus.Status = STATUS_SUCCESS;
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    location->MajorFunction = major;
    location->FileObject = file;
    return irp;
}

}  // namespace

WdmDeviceBackend::~WdmDeviceBackend() {
    closeAll();
}

std::shared_ptr<WdmDeviceBackend::File> WdmDeviceBackend::find(FileId id) const {
    std::lock_guard lock(mutex_);
    auto it = files_.find(id);
    return it == files_.end() ? nullptr : it->second;
}

// Sends an IRP for a file to the top of its device's stack and waits for it
// to complete; while it is pending it can be cancelled through the file.
NTSTATUS WdmDeviceBackend::sendFileIrp(File& file, PIRP irp, CallerProcess* caller,
                                       std::shared_lock<std::shared_mutex>* gate) {
    {
        std::lock_guard lock(file.mutex);
        file.pending.insert(irp);
    }
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(file.device);
    {
        // Dispatch routines run at PASSIVE_LEVEL in the caller's context.
        IrqlScope irql(PASSIVE_LEVEL);
        CallerScope scope(caller);
        // A client's request goes in the host's completion record.
        if (caller) recordClientRequest(irp, file.device, caller->processId());
        recordDispatchReturned(irp, IofCallDriver(top, irp));
    }
    // The driver has the request now (done, or held and counted by it): a
    // removal may go ahead. One already done keeps the gate until its caller
    // has counted its outcome: a failed open still counted as a handle would
    // make the removal wait for a handle that never was.
    if (gate && !KeReadStateEvent(&headerOf(irp)->doneEvent)) gate->unlock();
    KeWaitForSingleObject(&headerOf(irp)->doneEvent, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(top);
    {
        // The canceller looks at pending IRPs under this lock, so the IRP
        // stays valid for it until it is taken out here.
        std::lock_guard lock(file.mutex);
        file.pending.erase(irp);
    }
    file.idle.notify_all();
    return irp->IoStatus.Status;
}

NTSTATUS WdmDeviceBackend::open(const OpenRequest& request, CallerProcess& caller, FileId* id) {
    if (!id) return STATUS_INVALID_PARAMETER;
    *id = 0;
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = kernel_.names().openDevice(request.path, &device);
    if (!NT_SUCCESS(status)) return status;
    DeviceRecord* record = recordOf(device);
    std::shared_lock gate(record->removalGate);
    if (record->deleted || record->removing) {
        gate.unlock();
        releaseDevice(device);
        return STATUS_DELETE_PENDING;
    }
    if (device->Flags & DO_DEVICE_INITIALIZING) {
        gate.unlock();
        releaseDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    if ((device->Flags & DO_EXCLUSIVE) && record->openFiles.load() > 0) {
        gate.unlock();
        releaseDevice(device);
        return STATUS_ACCESS_DENIED;
    }

    auto file = std::make_shared<File>();
    file->device = device;
    auto* object = new FILE_OBJECT{};
    object->Type = kTypeFile;
    object->Size = sizeof(FILE_OBJECT);
    object->DeviceObject = device;
    object->ReadAccess = (request.desiredAccess & (GENERIC_READ | FILE_READ_DATA)) ? TRUE : FALSE;
    object->WriteAccess =
        (request.desiredAccess & (GENERIC_WRITE | FILE_WRITE_DATA)) ? TRUE : FALSE;
    object->DeleteAccess = (request.desiredAccess & DELETE) ? TRUE : FALSE;
    object->SharedRead = (request.shareMode & FILE_SHARE_READ) ? TRUE : FALSE;
    object->SharedWrite = (request.shareMode & FILE_SHARE_WRITE) ? TRUE : FALSE;
    object->SharedDelete = (request.shareMode & FILE_SHARE_DELETE) ? TRUE : FALSE;
    file->object = object;

    PDEVICE_OBJECT top = IoGetAttachedDevice(device);
    PIRP irp = fileIrp(top, object, IRP_MJ_CREATE);
    if (!irp) {
        delete object;
        gate.unlock();
        releaseDevice(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IrpHeader* header = headerOf(irp);
    header->callerWordSize = caller.wordSize();
    header->caller = &caller;
    header->security.DesiredAccess = request.desiredAccess;
    ULONG options =
        kFileNonDirectoryFile |
        ((request.flagsAndAttributes & kFileFlagOverlapped) ? 0 : kFileSynchronousIoNonalert);
    header->security.FullCreateOptions = options;
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    location->Parameters.Create.SecurityContext = &header->security;
    location->Parameters.Create.Options =
        (ntDisposition(request.creationDisposition) << 24) | options;
    location->Parameters.Create.ShareAccess = USHORT(request.shareMode & 7);
    location->Parameters.Create.FileAttributes = USHORT(request.flagsAndAttributes & 0x7FFF);
    record->openFiles.fetch_add(1);
    {
        std::lock_guard lock(mutex_);
        opening_[&caller] = file;
    }
    status = sendFileIrp(*file, irp, &caller, &gate);
    {
        std::lock_guard lock(mutex_);
        opening_.erase(&caller);
    }
    freeIrp(irp);
    if (!NT_SUCCESS(status)) {
        record->openFiles.fetch_sub(1);
        if (gate.owns_lock()) gate.unlock();
        delete object;
        releaseDevice(device);
        return status;
    }
    std::lock_guard lock(mutex_);
    *id = nextId_++;
    files_[*id] = std::move(file);
    return STATUS_SUCCESS;
}

IoResult WdmDeviceBackend::deviceControl(FileId id, uint32_t code, std::span<const uint8_t> input,
                                         uint32_t outputLength, CallerProcess& caller) {
    IoResult result;
    auto file = find(id);
    if (!file) {
        result.status = STATUS_INVALID_HANDLE;
        return result;
    }
    {
        std::lock_guard lock(file->mutex);
        if (file->closing) {
            result.status = STATUS_INVALID_HANDLE;
            return result;
        }
        ++file->active;
    }
    PDEVICE_OBJECT top = IoGetAttachedDevice(file->device);
    PIRP irp = fileIrp(top, file->object, IRP_MJ_DEVICE_CONTROL);
    if (!irp) {
        result.status = STATUS_INSUFFICIENT_RESOURCES;
    } else {
        IrpHeader* header = headerOf(irp);
        header->callerWordSize = caller.wordSize();
        header->caller = &caller;
        // METHOD_BUFFERED: one system buffer of the larger length holds the
        // input on entry and the output on return. It starts zeroed, so no
        // stale memory reaches the caller.
        size_t size = input.size() > outputLength ? input.size() : outputLength;
        header->systemBuffer.assign(size, 0);
        if (!input.empty()) std::memcpy(header->systemBuffer.data(), input.data(), input.size());
        irp->AssociatedIrp.SystemBuffer = size ? header->systemBuffer.data() : nullptr;
        PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
        location->Parameters.DeviceIoControl.IoControlCode = code;
        location->Parameters.DeviceIoControl.InputBufferLength = ULONG(input.size());
        location->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
        result.status = sendFileIrp(*file, irp, &caller);
        if (!NT_ERROR(result.status)) {
            // The bytes the driver reports, never more than the caller's
            // buffer holds.
            size_t n = irp->IoStatus.Information;
            if (n > outputLength) n = outputLength;
            result.output.assign(header->systemBuffer.begin(), header->systemBuffer.begin() + n);
        }
        freeIrp(irp);
    }
    {
        std::lock_guard lock(file->mutex);
        --file->active;
    }
    file->idle.notify_all();
    return result;
}

void WdmDeviceBackend::cancelOpen(CallerProcess& caller) {
    std::lock_guard lock(mutex_);
    auto it = opening_.find(&caller);
    if (it == opening_.end()) return;
    std::lock_guard fileLock(it->second->mutex);
    for (PIRP irp : it->second->pending) IoCancelIrp(irp);
}

void WdmDeviceBackend::cancel(FileId id) {
    auto file = find(id);
    if (!file) return;
    std::lock_guard lock(file->mutex);
    for (PIRP irp : file->pending) IoCancelIrp(irp);
}

void WdmDeviceBackend::close(FileId id) {
    std::shared_ptr<File> file;
    {
        std::lock_guard lock(mutex_);
        auto it = files_.find(id);
        if (it == files_.end()) return;
        file = it->second;
        files_.erase(it);
    }
    {
        // Requests still under way are cancelled; one that the driver keeps
        // without a cancel routine is asked again now and then (the driver
        // may set one later) until it ends.
        std::unique_lock lock(file->mutex);
        file->closing = true;
        while (file->active > 0) {
            for (PIRP irp : file->pending) IoCancelIrp(irp);
            file->idle.wait_for(lock, std::chrono::milliseconds(100));
        }
    }
    PDEVICE_OBJECT top = IoGetAttachedDevice(file->device);
    for (UCHAR major : {UCHAR(IRP_MJ_CLEANUP), UCHAR(IRP_MJ_CLOSE)}) {
        if (PIRP irp = fileIrp(top, file->object, major)) {
            sendFileIrp(*file, irp, nullptr);
            freeIrp(irp);
        }
    }
    if (auto* record = recordOf(file->device)) record->openFiles.fetch_sub(1);
    delete file->object;
    releaseDevice(file->device);
}

size_t WdmDeviceBackend::openFiles() const {
    std::lock_guard lock(mutex_);
    return files_.size();
}

void WdmDeviceBackend::closeAll() {
    std::vector<FileId> ids;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, file] : files_) ids.push_back(id);
    }
    for (FileId id : ids) close(id);
}

}  // namespace kalvo::kernel
