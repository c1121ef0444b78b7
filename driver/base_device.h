// CBaseDevice and CDevice: the device object and what every device of the
// driver has (names, open count, the device spin lock, window mapping).
// The device objects' extensions hold exactly one object of the most
// derived class; deleting the object deletes its device object.
#pragma once

#include "driver/kstring.h"
#include "driver/mapped_address.h"
#include "kernel/wdm.h"

class CBaseDevice {
  public:
    explicit CBaseDevice(PDEVICE_OBJECT device) : m_DeviceObject(device) {}
    virtual ~CBaseDevice() = default;
    CBaseDevice(const CBaseDevice&) = delete;
    CBaseDevice& operator=(const CBaseDevice&) = delete;

    PDEVICE_OBJECT DeviceObject() const { return m_DeviceObject; }
    // At unload: true when someone else (a waiting removal) deletes it.
    virtual bool LeaveToRemoveWorkItem() { return false; }

    // Runs the destructor of the object living in the extension, then
    // deletes the device object (which frees the extension).
    static void DeleteDevice(CBaseDevice* device);

  protected:
    PDEVICE_OBJECT m_DeviceObject;
};

class CDevice : public CBaseDevice {
  public:
    CDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, const CString& name);
    ~CDevice() override;

    const CString& Name() const { return m_Name; }  // "Tolva3"

    // Creates "\DosDevices\<name>" for "\Device\<name>" and keeps the link
    // name for deletion.
    NTSTATUS CreateWin32Name();
    void DeleteWin32Name();

    // MmMapIoSpace of one window (non-cached); the mapped flag tells the
    // unmap whether there is something to undo.
    NTSTATUS MapIoAddress(PORBEK_MAPPED_ADDRESS window);
    void UnmapIoAddress(PORBEK_MAPPED_ADDRESS window);

  protected:
    mutable volatile LONG m_OpenCount = 0;
    UCHAR m_Exclusive = 0;
    PDRIVER_OBJECT m_DriverObject;
    CString m_Name;
    CString m_DeviceName;  // "\Device\<name>"
    CString m_LinkName;    // "\DosDevices\<name>", empty until the link exists
    KSPIN_LOCK m_SpinLock;
};

// The device object's extension holds the object: find it.
template <class T>
T* DeviceFromObject(PDEVICE_OBJECT device) {
    return static_cast<T*>(static_cast<CBaseDevice*>(device->DeviceExtension));
}
