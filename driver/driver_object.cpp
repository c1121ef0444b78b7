#include "driver/driver_object.h"

#include <cstring>

#include "driver/base_device.h"
#include "driver/pnp_device.h"
#include "driver/pool_tag.h"

namespace {

// The key the driver object extension is filed under.
PVOID const kExtensionId = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(0xFAFA));

NTSTATUS DefaultDispatch(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

}  // namespace

CDriver::CDriver(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) : driver_(driver) {
    driver->MajorFunction[IRP_MJ_CREATE] = DefaultDispatch;
    driver->MajorFunction[IRP_MJ_CLOSE] = DefaultDispatch;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DefaultDispatch;
    driver->DriverUnload = DriverUnload;

    PVOID extension = nullptr;
    NTSTATUS status =
        IoAllocateDriverObjectExtension(driver, kExtensionId, sizeof(UNICODE_STRING), &extension);
    if (!NT_SUCCESS(status) || !extension) return;
    auto* path = static_cast<PUNICODE_STRING>(extension);
    USHORT length = registryPath ? registryPath->Length : 0;
    path->Length = length;
    path->MaximumLength = static_cast<USHORT>(length + sizeof(WCHAR));
    path->Buffer = static_cast<PWSTR>(
        ExAllocatePoolWithTag(NonPagedPool, path->MaximumLength, kTagRegistryPath));
    if (!path->Buffer) {
        path->Length = path->MaximumLength = 0;
        return;
    }
    std::memset(path->Buffer, 0, path->MaximumLength);
    if (length) std::memcpy(path->Buffer, registryPath->Buffer, length);
    valid_ = true;
}

void CDriver::SetCallback(UCHAR majorFunction, PDRIVER_DISPATCH routine) {
    driver_->MajorFunction[majorFunction] = routine;
}

void CDriver::SetAddDevice(PDRIVER_ADD_DEVICE routine) {
    driver_->DriverExtension->AddDevice = routine;
}

CPnpDriver::CPnpDriver(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
    : CDriver(driver, registryPath) {
    SetCallback(IRP_MJ_CREATE, CPnpDevice::PnpCreateFile);
    SetCallback(IRP_MJ_CLOSE, CPnpDevice::PnpCloseHandle);
    SetCallback(IRP_MJ_CLEANUP, CPnpDevice::OrbekPnpCleanup);
    SetCallback(IRP_MJ_PNP, CPnpDevice::PnpDispatch);
    SetCallback(IRP_MJ_POWER, CPnpDevice::PowerDispatch);
    SetCallback(IRP_MJ_SYSTEM_CONTROL, CPnpDevice::SystemControlDispatch);
}

PUNICODE_STRING GetDriverRegistryPath(PDRIVER_OBJECT driver) {
    return static_cast<PUNICODE_STRING>(IoGetDriverObjectExtension(driver, kExtensionId));
}

void DriverUnload(PDRIVER_OBJECT driver) {
    PDEVICE_OBJECT device = driver->DeviceObject;
    while (device) {
        PDEVICE_OBJECT next = device->NextDevice;
        auto* object = DeviceFromObject<CBaseDevice>(device);
        // A device whose removal waits in a work item is deleted there; a
        // second delete here would free it twice.
        if (!object->LeaveToRemoveWorkItem()) CBaseDevice::DeleteDevice(object);
        device = next;
    }
    PUNICODE_STRING path = GetDriverRegistryPath(driver);
    if (path && path->Buffer) {
        ExFreePoolWithTag(path->Buffer, kTagRegistryPath);
        path->Buffer = nullptr;
        path->Length = path->MaximumLength = 0;
    }
}
