// Device creation and naming: one numbered device object per board, with
// its symbolic link, its registry parameters and its error log.
#include "driver/requests/request_codes.h"

#include <cstring>
#include <new>

#include "driver/driver_object.h"
#include "driver/registry.h"
#include "driver/tolva.h"
#include "driver/variant.h"

namespace {

// A construction step that failed, carried out of the constructor with its
// status; the text says which step (it is not written anywhere).
struct StatusException {
    NTSTATUS status;
    const char* where;
};

[[noreturn]] void ThrowStatusExceptionFromConstructor(NTSTATUS status, const char* where) {
    throw StatusException{status, where};
}

}  // namespace

CTolva::CTolva(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, PDEVICE_OBJECT physical,
               const CString& name, PUNICODE_STRING registryPath)
    : CPnpDevice(driver, device, physical, name), m_EventLog(device) {
    // "<service key>\Parameters": the board's PCI identity, kept for
    // diagnosis only. A missing key or value leaves 0.
    CString key;
    if (registryPath && registryPath->Buffer) {
        key.Append(registryPath->Buffer, registryPath->Length / sizeof(WCHAR));
        if (!key.EndsWith(u'\\')) key.Append(u"\\");
        key.Append(u"Parameters");
        CRegistry registry(key);
        registry.QueryDword(u"VendorID", &m_VendorID);
        registry.QueryDword(u"DeviceID", &m_DeviceID);
    }

    NTSTATUS status = CreateWin32Name();
    if (!NT_SUCCESS(status))
        ThrowStatusExceptionFromConstructor(status, "TOLVA:CTolva::CTolva CreateWin32Name failed");
}

// A device deleted with its board still started (a driver unloaded without
// removing its devices) stops the sequence and releases the windows first:
// the timer must not fire into a freed object.
CTolva::~CTolva() {
    PnpFreeDeviceResources(FALSE);
}

namespace {

// What is left of a half-built device: the base parts' destructors already
// removed the link and detached; the device object goes last.
void CleanupFromCreateDevice(PDEVICE_OBJECT device) {
    if (device) IoDeleteDevice(device);
}

}  // namespace

NTSTATUS CreateDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physical, const CString& name,
                      DEVICE_TYPE type, PUNICODE_STRING registryPath, ULONG instance,
                      CTolva** tolva, PDEVICE_OBJECT* device) {
    (void)instance;  // the number is part of the name already
    *tolva = nullptr;
    *device = nullptr;
    PDEVICE_OBJECT object = nullptr;
    try {
        CString deviceName(u"\\Device\\");
        deviceName.Append(name);
        if (!deviceName.IsValid()) throw StatusException{STATUS_INSUFFICIENT_RESOURCES, nullptr};
        NTSTATUS status =
            IoCreateDevice(driver, sizeof(CTolva), deviceName.Unicode(), type, 0, FALSE, &object);
        if (!NT_SUCCESS(status)) throw StatusException{status, "IoCreateDevice"};
        std::memset(object->DeviceExtension, 0, sizeof(CTolva));
        *tolva = new (object->DeviceExtension) CTolva(driver, object, physical, name, registryPath);
        *device = object;
        return STATUS_SUCCESS;
    } catch (const StatusException& e) {
        CleanupFromCreateDevice(object);
        *tolva = nullptr;
        *device = nullptr;
        return e.status;
    }
}

NTSTATUS TolvaAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physical) {
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    for (int n = 0; n < tolva::kMaxInstances; ++n) {
        CString name(tolva::kVariant.deviceBaseName);
        name.AppendNumber(static_cast<ULONG>(n), 10);
        CTolva* tolva = nullptr;
        PDEVICE_OBJECT device = nullptr;
        status =
            CreateDevice(driver, physical, name, kalvo::requests::FILE_DEVICE_TOLVA,
                         GetDriverRegistryPath(driver), static_cast<ULONG>(n), &tolva, &device);
        if (NT_SUCCESS(status)) {
            device->Flags &= ~DO_DEVICE_INITIALIZING;
            return STATUS_SUCCESS;
        }
        if (tolva) CBaseDevice::DeleteDevice(tolva);
    }
    return status;
}
