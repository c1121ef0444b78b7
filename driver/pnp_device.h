// CPnpDevice: the part of a board device that takes part in plug and play
// and power management. It keeps the PnP state, decides for every request
// whether it is served now, held or refused, holds requests while the device
// is about to stop, stopped or about to be removed and replays them
// afterwards, applies the open and close rules, and deletes the device only
// when no request is inside the driver and no handle is open.
//
// The board work at start, stop and removal is the derived class's
// (PnpSetupDeviceResources, PnpFreeDeviceResources).
#pragma once

#include "driver/base_device.h"
#include "driver/interlocked_queue.h"
#include "driver/wmi.h"
#include "kernel/wdm.h"

// PnP states, in the numbering that the host tool shows.
enum PNP_STATE : LONG {
    PnpStateAdded = 0,  // added, not started
    PnpStateStarted = 1,
    PnpStateStopPending = 2,
    PnpStateStopped = 3,
    PnpStateRemovePending = 4,
    PnpStateRemoved = 5,
    PnpStateSurpriseRemoved = 6,
    PnpStateStartFailed = 7,
};

class CPnpDevice : public CDevice {
  public:
    CPnpDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, PDEVICE_OBJECT physical,
               const CString& name);
    ~CPnpDevice() override;

    // Completes the request with status and no priority boost and gives
    // back its outstanding count.
    virtual void CompleteIrp(PIRP irp, NTSTATUS status, CCHAR boost = IO_NO_INCREMENT);

    // Board resources, provided by the board class.
    virtual NTSTATUS PnpSetupDeviceResources(PCM_RESOURCE_LIST raw,
                                             PCM_RESOURCE_LIST translated) = 0;
    virtual NTSTATUS PnpFreeDeviceResources(BOOLEAN surprise) = 0;

    virtual NTSTATUS SavePowerRegisters() { return STATUS_SUCCESS; }
    virtual DEVICE_POWER_STATE GetDevicePowerState() const;
    // Requests a device power state for this device's own stack and waits
    // for it; the status when the request could not be made.
    virtual NTSTATUS SendSetPowerIrpToDevice(DEVICE_POWER_STATE state);
    virtual NTSTATUS RestorePowerRegisters() { return STATUS_SUCCESS; }
    // S0 (or unspecified) keeps the device in D0; any sleeping state is D3.
    virtual DEVICE_POWER_STATE GetDevicePowerStateFromSystemPowerState(
        SYSTEM_POWER_STATE state) const;

    virtual NTSTATUS OnPowerPowerSequence(PIRP irp);
    virtual NTSTATUS OnPowerQueryPower(PIRP irp);
    virtual NTSTATUS OnPowerSetPower(PIRP irp);

    virtual NTSTATUS OnPnpStartDevice(PIRP irp);
    virtual NTSTATUS OnPnpQueryRemoveDevice(PIRP irp);
    virtual NTSTATUS OnPnpCancelRemoveDevice(PIRP irp);
    virtual NTSTATUS OnPnpSurpriseRemoval(PIRP irp);
    // *deleteNow: the caller deletes the object once this returns.
    virtual NTSTATUS OnPnpRemoveDevice(PIRP irp, bool* deleteNow);
    virtual NTSTATUS OnPnpQueryStopDevice(PIRP irp);
    virtual NTSTATUS OnPnpCancelStopDevice(PIRP irp);
    virtual NTSTATUS OnPnpStopDevice(PIRP irp);
    virtual NTSTATUS OnPnpQueryCapabilities(PIRP irp);  // and every other minor code

    // Completes every request still held with STATUS_DELETE_PENDING.
    virtual void CleanupQueue();
    // Completes every request still held with status.
    void CompleteHeldIrps(NTSTATUS status);
    // Admission: true when the caller is to serve the request; false when
    // it was held or refused, *status then being what to return.
    virtual bool IrpPrologue(PIRP irp, NTSTATUS* status);
    virtual NTSTATUS PassIrpDownStack(PIRP irp, bool wait = false, PDEVICE_OBJECT target = nullptr);
    virtual bool IrpsInHoldState() const;
    virtual void RestartStalledIrps();
    virtual bool AcceptIrps(PIRP irp, NTSTATUS* status);

    void IrpCountIncrement();
    void IrpCountDecrement();

    // Dispatch routines installed by the driver class; each finds its
    // object in the device extension.
    static NTSTATUS PnpCreateFile(PDEVICE_OBJECT device, PIRP irp);
    static NTSTATUS PnpCloseHandle(PDEVICE_OBJECT device, PIRP irp);
    static NTSTATUS OrbekPnpCleanup(PDEVICE_OBJECT device, PIRP irp);
    static NTSTATUS PnpDispatch(PDEVICE_OBJECT device, PIRP irp);
    static NTSTATUS PowerDispatch(PDEVICE_OBJECT device, PIRP irp);
    static NTSTATUS SystemControlDispatch(PDEVICE_OBJECT device, PIRP irp);

    LONG PnpState() const { return InterlockedCompareExchange(&m_PnpState, 0, 0); }
    bool ResourcesReleased() const {
        return InterlockedCompareExchange(&m_ResourcesReleased, 0, 0) != 0;
    }
    bool Attached() const { return m_Attached != 0; }
    LONG OpenCount() const { return InterlockedCompareExchange(&m_OpenCount, 0, 0); }
    bool HoldingNewRequests() const {
        return InterlockedCompareExchange(&m_HoldNewRequests, 0, 0) != 0;
    }

    // At unload: true when a removal work item waits to delete this device
    // (it is then let go and deletes it); false when the caller deletes it.
    bool LeaveToRemoveWorkItem() override;

  protected:
    NTSTATUS CreateFile(PIRP irp);
    NTSTATUS CloseHandle(PIRP irp);
    NTSTATUS Cleanup(PIRP irp);
    NTSTATUS Pnp(PIRP irp);
    NTSTATUS Power(PIRP irp);
    NTSTATUS SystemControl(PIRP irp);

    // State changes that end holding take the cancel spin lock, as
    // admission does when it decides and queues.
    void SetPnpState(LONG state);
    LONG ExchangePnpState(LONG state);
    bool ClearHoldFlag();  // true when it was set
    void SetResourcesReleased(bool released) {
        InterlockedExchange(&m_ResourcesReleased, released ? 1 : 0);
    }
    // Copies the stack location down, calls the lower driver and waits for
    // it to complete; the request stays ours. The lower driver's status.
    NTSTATUS ForwardAndWait(PIRP irp);
    void HoldIrpLocked(PIRP irp, NTSTATUS* status, KIRQL irql);
    template <class Each>
    void TakeHeldIrps(Each&& each);
    static void ReplayWorkItemCallback(PVOID context);
    // Query stop and query remove: the state set unless an open is counted.
    bool SetStateUnlessOpen(volatile LONG* refuseCount, LONG state);
    void ReleaseRefuseCounts();
    void LockPowerPolicy();
    void UnlockPowerPolicy();
    // Power queries: holds new requests when no handle is open; false when
    // one is.
    bool HoldUnlessOpen();
    NTSTATUS PassPowerDown(PIRP irp);
    NTSTATUS PassPowerDownReportingSuccess(PIRP irp);
    static NTSTATUS PowerUpCompletionRoutine(PDEVICE_OBJECT device, PIRP irp, PVOID context);
    static void StalledIrpCancelRoutine(PDEVICE_OBJECT device, PIRP irp);
    static void RemoveWorkItemCallback(PVOID context);

    PDEVICE_OBJECT m_PhysicalDeviceObject;
    PDEVICE_OBJECT m_LowerDeviceObject = nullptr;
    UCHAR m_Attached = 0;
    mutable volatile LONG m_PnpState = PnpStateAdded;
    KEVENT m_RemoveEvent;
    KSPIN_LOCK m_CountLock;  // the outstanding count and the remove event together
    // Held (a synchronization event, at passive level) across an open's or a
    // close's count and its power request, and a power query's look at the
    // count.
    KEVENT m_PowerPolicyLock;
    volatile LONG m_OutstandingIo = 1;
    mutable volatile LONG m_ResourcesReleased = 1;
    volatile LONG m_RefuseStop = 0;
    volatile LONG m_RefuseRemove = 0;
    CWmi* m_Wmi = nullptr;
    CInterlockedQueue m_HeldIrps;
    mutable volatile LONG m_DevicePowerState = PowerDeviceD0;
    SYSTEM_POWER_STATE m_SystemPowerState = PowerSystemWorking;
    DEVICE_POWER_STATE m_PowerDownThreshold = PowerDeviceD3;
    UCHAR m_RefusePowerDownWhileOpen = 1;
    mutable volatile LONG m_HoldNewRequests = 0;
    volatile LONG m_RegistersSaved = 0;
    UCHAR m_PowerManaged = 1;
    UCHAR m_FollowSystemPower = 1;
    PVOID volatile m_RemoveWorkItem = nullptr;
};
