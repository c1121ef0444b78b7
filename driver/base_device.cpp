#include "driver/base_device.h"

void CBaseDevice::DeleteDevice(CBaseDevice* device) {
    if (!device) return;
    PDEVICE_OBJECT object = device->m_DeviceObject;
    device->~CBaseDevice();
    IoDeleteDevice(object);
}

CDevice::CDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, const CString& name)
    : CBaseDevice(device), m_DriverObject(driver), m_Name(name), m_DeviceName(u"\\Device\\") {
    m_DeviceName.Append(name);
    device->Flags |= DO_DIRECT_IO;
    KeInitializeSpinLock(&m_SpinLock);
}

CDevice::~CDevice() {
    DeleteWin32Name();
}

NTSTATUS CDevice::CreateWin32Name() {
    CString link(u"\\DosDevices\\");
    link.Append(m_Name);
    if (!link.IsValid() || !m_DeviceName.IsValid()) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = IoCreateSymbolicLink(link.Unicode(), m_DeviceName.Unicode());
    if (NT_SUCCESS(status)) m_LinkName = link;
    return status;
}

void CDevice::DeleteWin32Name() {
    if (m_LinkName.IsEmpty()) return;
    IoDeleteSymbolicLink(m_LinkName.Unicode());
    m_LinkName = CString();
}

NTSTATUS CDevice::MapIoAddress(PORBEK_MAPPED_ADDRESS window) {
    window->Mapped = 0;
    PHYSICAL_ADDRESS bus;
    bus.QuadPart = static_cast<LONGLONG>(BusAddressOf(*window));
    window->MappedAddress = MmMapIoSpace(bus, window->Length, MmNonCached);
    if (!window->MappedAddress) return STATUS_INSUFFICIENT_RESOURCES;
    window->Mapped = 1;
    return STATUS_SUCCESS;
}

void CDevice::UnmapIoAddress(PORBEK_MAPPED_ADDRESS window) {
    if (!window->Mapped) return;
    MmUnmapIoSpace(window->MappedAddress, window->Length);
    window->Mapped = 0;
}
