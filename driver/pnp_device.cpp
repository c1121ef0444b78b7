#include "driver/pnp_device.h"

#include <new>

#include "driver/work_thread.h"

namespace {

NTSTATUS SignalOnCompletion(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    // Keep the request: the waiting dispatch routine completes it.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

CPnpDevice::CPnpDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, PDEVICE_OBJECT physical,
                       const CString& name)
    : CDevice(driver, device, name), m_PhysicalDeviceObject(physical) {
    KeInitializeEvent(&m_RemoveEvent, SynchronizationEvent, TRUE);
    if (physical) {
        m_LowerDeviceObject = IoAttachDeviceToDeviceStack(device, physical);
        if (m_LowerDeviceObject) {
            m_Attached = 1;
            m_Wmi = new (std::nothrow) CWmi(m_LowerDeviceObject);
        }
    }
    device->Flags |= DO_POWER_PAGABLE;
}

CPnpDevice::~CPnpDevice() {
    delete m_Wmi;
    m_Wmi = nullptr;
    if (m_Attached) {
        IoDetachDevice(m_LowerDeviceObject);
        m_Attached = 0;
    }
}

void CPnpDevice::IrpCountIncrement() {
    if (InterlockedIncrement(&m_OutstandingIo) == 2) KeClearEvent(&m_RemoveEvent);
}

void CPnpDevice::IrpCountDecrement() {
    if (InterlockedDecrement(&m_OutstandingIo) == 1)
        KeSetEvent(&m_RemoveEvent, IO_NO_INCREMENT, FALSE);
}

void CPnpDevice::CompleteIrp(PIRP irp, NTSTATUS status, CCHAR boost) {
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, boost);
    IrpCountDecrement();
}

DEVICE_POWER_STATE CPnpDevice::GetDevicePowerStateFromSystemPowerState(
    SYSTEM_POWER_STATE state) const {
    return state <= PowerSystemWorking ? PowerDeviceD0 : PowerDeviceD3;
}

// ---- admission and held requests ---------------------------------------------

bool CPnpDevice::IrpPrologue(PIRP irp, NTSTATUS* status) {
    IrpCountIncrement();
    UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    if (major == IRP_MJ_PNP || major == IRP_MJ_POWER) return true;
    return AcceptIrps(irp, status);
}

bool CPnpDevice::IrpsInHoldState() const {
    LONG state = PnpState();
    return state == PnpStateStopPending || state == PnpStateStopped;
}

bool CPnpDevice::AcceptIrps(PIRP irp, NTSTATUS* status) {
    switch (PnpState()) {
        case PnpStateRemoved:
        case PnpStateSurpriseRemoved:
            *status = STATUS_DELETE_PENDING;
            irp->IoStatus.Information = 0;
            CompleteIrp(irp, *status);
            return false;
        case PnpStateStopPending:
        case PnpStateStopped:
        case PnpStateRemovePending:
            HoldIrp(irp, status);
            return false;
        default:
            if (InterlockedCompareExchange(&m_HoldNewRequests, 0, 0)) {
                HoldIrp(irp, status);
                return false;
            }
            return true;
    }
}

void CPnpDevice::HoldIrp(PIRP irp, NTSTATUS* status) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    if (irp->Cancel) {
        IoReleaseCancelSpinLock(irql);
        irp->IoStatus.Information = 0;
        *status = STATUS_CANCELLED;
        CompleteIrp(irp, STATUS_CANCELLED);
        return;
    }
    IoMarkIrpPending(irp);
    irp->IoStatus.Status = STATUS_PENDING;
    m_HeldIrps.InsertTail(irp);
    IoSetCancelRoutine(irp, StalledIrpCancelRoutine);
    *status = STATUS_PENDING;
    // A cancel that came between the check and the routine found no routine
    // to call: end the request here, or it would wait for ever.
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        m_HeldIrps.Remove(irp);
        IoReleaseCancelSpinLock(irql);
        irp->IoStatus.Information = 0;
        CompleteIrp(irp, STATUS_CANCELLED);
        return;
    }
    IoReleaseCancelSpinLock(irql);
}

// Called with the cancel spin lock held.
void CPnpDevice::StalledIrpCancelRoutine(PDEVICE_OBJECT device, PIRP irp) {
    auto* self = DeviceFromObject<CPnpDevice>(device);
    bool found = self->m_HeldIrps.Remove(irp);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    if (!found) return;  // taken for a replay meanwhile: the replay owns it
    irp->IoStatus.Information = 0;
    self->CompleteIrp(irp, STATUS_CANCELLED);
}

void CPnpDevice::RestartStalledIrps() {
    for (;;) {
        KIRQL irql;
        IoAcquireCancelSpinLock(&irql);
        PIRP irp = m_HeldIrps.RemoveHead();
        if (!irp) {
            IoReleaseCancelSpinLock(irql);
            return;
        }
        IoSetCancelRoutine(irp, nullptr);
        IoReleaseCancelSpinLock(irql);
        // The replay passes the admission step again, which counts anew.
        IrpCountDecrement();
        UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
        m_DriverObject->MajorFunction[major](m_DeviceObject, irp);
    }
}

void CPnpDevice::CleanupQueue() {
    for (;;) {
        KIRQL irql;
        IoAcquireCancelSpinLock(&irql);
        PIRP irp = m_HeldIrps.RemoveHead();
        if (!irp) {
            IoReleaseCancelSpinLock(irql);
            return;
        }
        IoSetCancelRoutine(irp, nullptr);
        IoReleaseCancelSpinLock(irql);
        irp->IoStatus.Information = 0;
        CompleteIrp(irp, STATUS_DELETE_PENDING);
    }
}

// ---- passing requests down -----------------------------------------------------

NTSTATUS CPnpDevice::PassIrpDownStack(PIRP irp, bool wait, PDEVICE_OBJECT target) {
    if (!target) target = m_LowerDeviceObject;
    if (wait) return ForwardAndWait(irp);
    if (!target) {
        // Nothing below (a device without a bus driver): the request ends here.
        NTSTATUS status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(target, irp);
}

NTSTATUS CPnpDevice::ForwardAndWait(PIRP irp) {
    if (!m_LowerDeviceObject) return STATUS_SUCCESS;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalOnCompletion, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(m_LowerDeviceObject, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
    }
    return status;
}

// ---- open, close, cleanup -----------------------------------------------------

NTSTATUS CPnpDevice::CreateFile(PIRP irp) {
    NTSTATUS status = STATUS_SUCCESS;
    bool admitted = false;
    if (ResourcesReleased()) {
        if (!IrpPrologue(irp, &status)) return status;
        admitted = true;
    }
    // Power: the first open powers the device up (handled with the power
    // management of the device class; a device in D0 needs nothing).
    if (!admitted && !IrpPrologue(irp, &status)) return status;

    InterlockedIncrement(&m_RefuseStop);
    InterlockedIncrement(&m_RefuseRemove);
    irp->IoStatus.Information = 0;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    status = STATUS_SUCCESS;
    KIRQL irql;
    KeAcquireSpinLock(&m_SpinLock, &irql);
    if (m_Exclusive) {
        status = STATUS_SHARING_VIOLATION;
    } else {
        ++m_OpenCount;
        if (stack->Parameters.Create.ShareAccess == 0) {
            if (m_OpenCount == 1) {
                m_Exclusive = 1;
            } else {
                status = STATUS_SHARING_VIOLATION;
                --m_OpenCount;
            }
        }
    }
    KeReleaseSpinLock(&m_SpinLock, irql);
    if (NT_SUCCESS(status)) {
        IrpCountIncrement();  // the handle's count, given back at its close
    } else {
        InterlockedDecrement(&m_RefuseStop);
        InterlockedDecrement(&m_RefuseRemove);
    }
    CompleteIrp(irp, status);
    return status;
}

NTSTATUS CPnpDevice::CloseHandle(PIRP irp) {
    IrpCountIncrement();
    irp->IoStatus.Information = 0;
    KIRQL irql;
    KeAcquireSpinLock(&m_SpinLock, &irql);
    m_Exclusive = 0;
    --m_OpenCount;
    KeReleaseSpinLock(&m_SpinLock, irql);
    InterlockedDecrement(&m_RefuseStop);
    InterlockedDecrement(&m_RefuseRemove);
    CompleteIrp(irp, STATUS_SUCCESS);
    IrpCountDecrement();  // the handle's count
    return STATUS_SUCCESS;
}

NTSTATUS CPnpDevice::Cleanup(PIRP irp) {
    // No packets are queued by this device, so there is nothing of the
    // closing file object to flush.
    IrpCountIncrement();
    irp->IoStatus.Information = 0;
    CompleteIrp(irp, STATUS_SUCCESS);
    return STATUS_SUCCESS;
}

// ---- plug and play ---------------------------------------------------------------

NTSTATUS CPnpDevice::Pnp(PIRP irp) {
    NTSTATUS status = STATUS_SUCCESS;
    if (!IrpPrologue(irp, &status)) return status;
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
        case IRP_MN_START_DEVICE:
            return OnPnpStartDevice(irp);
        case IRP_MN_QUERY_REMOVE_DEVICE:
            return OnPnpQueryRemoveDevice(irp);
        case IRP_MN_REMOVE_DEVICE: {
            bool deleteNow = false;
            status = OnPnpRemoveDevice(irp, &deleteNow);
            if (deleteNow) DeleteDevice(this);
            return status;
        }
        case IRP_MN_CANCEL_REMOVE_DEVICE:
            return OnPnpCancelRemoveDevice(irp);
        case IRP_MN_STOP_DEVICE:
            return OnPnpStopDevice(irp);
        case IRP_MN_QUERY_STOP_DEVICE:
            return OnPnpQueryStopDevice(irp);
        case IRP_MN_CANCEL_STOP_DEVICE:
            return OnPnpCancelStopDevice(irp);
        case IRP_MN_SURPRISE_REMOVAL:
            return OnPnpSurpriseRemoval(irp);
        default:
            return OnPnpQueryCapabilities(irp);
    }
}

NTSTATUS CPnpDevice::OnPnpStartDevice(PIRP irp) {
    POWER_STATE power;
    power.DeviceState = m_DevicePowerState;
    PoSetPowerState(m_DeviceObject, DevicePowerState, power);
    NTSTATUS status = ForwardAndWait(irp);
    if (NT_SUCCESS(status)) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        SetResourcesReleased(false);
        status =
            PnpSetupDeviceResources(stack->Parameters.StartDevice.AllocatedResources,
                                    stack->Parameters.StartDevice.AllocatedResourcesTranslated);
        if (NT_SUCCESS(status)) {
            SetPnpState(PnpStateStarted);
            RestartStalledIrps();
        } else {
            SetResourcesReleased(true);
            SetPnpState(PnpStateStartFailed);
        }
    }
    CompleteIrp(irp, status);
    return status;
}

NTSTATUS CPnpDevice::OnPnpQueryRemoveDevice(PIRP irp) {
    if (InterlockedCompareExchange(&m_RefuseRemove, 0, 0) != 0) {
        CompleteIrp(irp, STATUS_UNSUCCESSFUL);
        return STATUS_UNSUCCESSFUL;
    }
    SetPnpState(PnpStateRemovePending);
    irp->IoStatus.Status = STATUS_SUCCESS;
    NTSTATUS status = PassIrpDownStack(irp);
    IrpCountDecrement();
    return status;
}

NTSTATUS CPnpDevice::OnPnpCancelRemoveDevice(PIRP irp) {
    NTSTATUS status = ForwardAndWait(irp);
    SetPnpState(PnpStateStarted);
    RestartStalledIrps();
    CompleteIrp(irp, status);
    return status;
}

NTSTATUS CPnpDevice::OnPnpSurpriseRemoval(PIRP irp) {
    SetPnpState(PnpStateSurpriseRemoved);
    irp->IoStatus.Status = STATUS_SUCCESS;
    NTSTATUS status = PassIrpDownStack(irp);
    IrpCountDecrement();
    return status;
}

NTSTATUS CPnpDevice::OnPnpRemoveDevice(PIRP irp, bool* deleteNow) {
    LONG previous = InterlockedExchange(&m_PnpState, PnpStateRemoved);
    const BOOLEAN surprise = previous != PnpStateRemovePending;
    m_RegistersSaved = 0;
    RestartStalledIrps();  // the held requests now meet the removed state
    CleanupQueue();
    irp->IoStatus.Status = STATUS_SUCCESS;

    if (previous == PnpStateRemovePending || previous == PnpStateSurpriseRemoved) {
        IrpCountDecrement();  // the remove request itself
        // Every other request completed and every handle closed.
        KeWaitForSingleObject(&m_RemoveEvent, Executive, KernelMode, FALSE, nullptr);
        SetResourcesReleased(true);
        PnpFreeDeviceResources(surprise);
        NTSTATUS status = PassIrpDownStack(irp);
        *deleteNow = true;
        return status;
    }

    SetResourcesReleased(true);
    PnpFreeDeviceResources(surprise);
    // Handles may still be open: the work item deletes the device once the
    // last of them has closed.
    if (CThread::Queue(m_DeviceObject, RemoveWorkItemCallback, this)) m_RemoveWorkItem = this;
    PassIrpDownStack(irp);
    IrpCountDecrement();
    *deleteNow = false;
    return STATUS_DELETE_PENDING;
}

void CPnpDevice::RemoveWorkItemCallback(PVOID context) {
    auto* self = static_cast<CPnpDevice*>(context);
    KeWaitForSingleObject(&self->m_RemoveEvent, Executive, KernelMode, FALSE, nullptr);
    DeleteDevice(self);
}

NTSTATUS CPnpDevice::OnPnpQueryStopDevice(PIRP irp) {
    if (PnpState() != PnpStateStopped) {
        if (InterlockedCompareExchange(&m_RefuseStop, 0, 0) != 0) {
            CompleteIrp(irp, STATUS_UNSUCCESSFUL);
            return STATUS_UNSUCCESSFUL;
        }
        SetPnpState(PnpStateStopPending);
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    NTSTATUS status = PassIrpDownStack(irp);
    IrpCountDecrement();
    return status;
}

NTSTATUS CPnpDevice::OnPnpCancelStopDevice(PIRP irp) {
    NTSTATUS status = ForwardAndWait(irp);
    if (ResourcesReleased()) {
        CompleteIrp(irp, STATUS_SUCCESS);
        return STATUS_SUCCESS;
    }
    if (InterlockedCompareExchange(&m_PnpState, PnpStateStarted, PnpStateStopPending) ==
        PnpStateStopPending)
        RestartStalledIrps();
    CompleteIrp(irp, status);
    return status;
}

NTSTATUS CPnpDevice::OnPnpStopDevice(PIRP irp) {
    SetResourcesReleased(true);
    PnpFreeDeviceResources(FALSE);
    SetPnpState(PnpStateStopped);
    irp->IoStatus.Status = STATUS_SUCCESS;
    NTSTATUS status = PassIrpDownStack(irp);
    IrpCountDecrement();
    return status;
}

NTSTATUS CPnpDevice::OnPnpQueryCapabilities(PIRP irp) {
    NTSTATUS status = PassIrpDownStack(irp);
    IrpCountDecrement();
    return status;
}

// ---- power -------------------------------------------------------------------------

NTSTATUS CPnpDevice::Power(PIRP irp) {
    NTSTATUS status = STATUS_SUCCESS;
    if (!IrpPrologue(irp, &status)) return status;
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
        case IRP_MN_SET_POWER:
            return OnPowerSetPower(irp);
        case IRP_MN_QUERY_POWER:
            return OnPowerQueryPower(irp);
        default:
            return OnPowerPowerSequence(irp);
    }
}

NTSTATUS CPnpDevice::OnPowerPowerSequence(PIRP irp) {
    PoStartNextPowerIrp(irp);
    NTSTATUS status = STATUS_SUCCESS;
    if (m_LowerDeviceObject) {
        IoSkipCurrentIrpStackLocation(irp);
        status = PoCallDriver(m_LowerDeviceObject, irp);
    } else {
        status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
    IrpCountDecrement();
    return status;
}

NTSTATUS CPnpDevice::OnPowerQueryPower(PIRP irp) {
    return OnPowerPowerSequence(irp);
}

NTSTATUS CPnpDevice::OnPowerSetPower(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.Power.Type == DevicePowerState) {
        m_DevicePowerState = stack->Parameters.Power.State.DeviceState;
        PoSetPowerState(m_DeviceObject, DevicePowerState, stack->Parameters.Power.State);
    } else {
        m_SystemPowerState = stack->Parameters.Power.State.SystemState;
    }
    return OnPowerPowerSequence(irp);
}

// ---- system control ----------------------------------------------------------------

NTSTATUS CPnpDevice::SystemControl(PIRP irp) {
    NTSTATUS status = STATUS_SUCCESS;
    if (!IrpPrologue(irp, &status)) return status;
    if (m_Wmi) {
        status = m_Wmi->PassDown(irp);
    } else {
        status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
    IrpCountDecrement();
    return status;
}

// ---- dispatch entry points ------------------------------------------------------------

NTSTATUS CPnpDevice::PnpCreateFile(PDEVICE_OBJECT device, PIRP irp) {
    return DeviceFromObject<CPnpDevice>(device)->CreateFile(irp);
}
NTSTATUS CPnpDevice::PnpCloseHandle(PDEVICE_OBJECT device, PIRP irp) {
    return DeviceFromObject<CPnpDevice>(device)->CloseHandle(irp);
}
NTSTATUS CPnpDevice::OrbekPnpCleanup(PDEVICE_OBJECT device, PIRP irp) {
    return DeviceFromObject<CPnpDevice>(device)->Cleanup(irp);
}
NTSTATUS CPnpDevice::PnpDispatch(PDEVICE_OBJECT device, PIRP irp) {
    return DeviceFromObject<CPnpDevice>(device)->Pnp(irp);
}
NTSTATUS CPnpDevice::PowerDispatch(PDEVICE_OBJECT device, PIRP irp) {
    return DeviceFromObject<CPnpDevice>(device)->Power(irp);
}
NTSTATUS CPnpDevice::SystemControlDispatch(PDEVICE_OBJECT device, PIRP irp) {
    return DeviceFromObject<CPnpDevice>(device)->SystemControl(irp);
}
