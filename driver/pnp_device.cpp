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

// Signals the waiting requester of a power request for this device's stack.
static VOID DefaultPowerCompletionRoutine(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context,
                                          PIO_STATUS_BLOCK) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
}

CPnpDevice::CPnpDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, PDEVICE_OBJECT physical,
                       const CString& name)
    : CDevice(driver, device, name), m_PhysicalDeviceObject(physical) {
    KeInitializeEvent(&m_RemoveEvent, SynchronizationEvent, TRUE);
    KeInitializeEvent(&m_PowerPolicyLock, SynchronizationEvent, TRUE);
    KeInitializeSpinLock(&m_CountLock);
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

// The count and the remove event change as one step: otherwise a clear
// (1 -> 2) overtaken by a set (2 -> 1) leaves the event clear with nothing
// inside, or the reverse lets removal free the device while a dispatch is
// inside it.
void CPnpDevice::IrpCountIncrement() {
    KIRQL irql;
    KeAcquireSpinLock(&m_CountLock, &irql);
    if (InterlockedIncrement(&m_OutstandingIo) == 2) KeClearEvent(&m_RemoveEvent);
    KeReleaseSpinLock(&m_CountLock, irql);
}

void CPnpDevice::IrpCountDecrement() {
    KIRQL irql;
    KeAcquireSpinLock(&m_CountLock, &irql);
    if (InterlockedDecrement(&m_OutstandingIo) == 1)
        KeSetEvent(&m_RemoveEvent, IO_NO_INCREMENT, FALSE);
    KeReleaseSpinLock(&m_CountLock, irql);
}

void CPnpDevice::SetPnpState(LONG state) {
    // Under the cancel spin lock, as admission decides: a request either
    // sees the new state or is already in the queue that the caller replays.
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    InterlockedExchange(&m_PnpState, state);
    IoReleaseCancelSpinLock(irql);
}

LONG CPnpDevice::ExchangePnpState(LONG state) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    LONG previous = InterlockedExchange(&m_PnpState, state);
    IoReleaseCancelSpinLock(irql);
    return previous;
}

bool CPnpDevice::ClearHoldFlag() {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    bool was = InterlockedExchange(&m_HoldNewRequests, 0) != 0;
    IoReleaseCancelSpinLock(irql);
    return was;
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

// The decision and the queueing happen under the cancel spin lock, which
// every change of state that ends holding takes too (SetPnpState,
// ClearHoldFlag): a start that empties the queue between the two would
// otherwise strand the request.
bool CPnpDevice::AcceptIrps(PIRP irp, NTSTATUS* status) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    switch (PnpState()) {
        case PnpStateRemoved:
        case PnpStateSurpriseRemoved:
            IoReleaseCancelSpinLock(irql);
            *status = STATUS_DELETE_PENDING;
            irp->IoStatus.Information = 0;
            CompleteIrp(irp, *status);
            return false;
        case PnpStateStopPending:
        case PnpStateStopped:
        case PnpStateRemovePending:
            HoldIrpLocked(irp, status, irql);
            return false;
        default:
            if (InterlockedCompareExchange(&m_HoldNewRequests, 0, 0)) {
                HoldIrpLocked(irp, status, irql);
                return false;
            }
            // An admitted open counts against stop and removal in the same
            // step as the decision: a query that finds no open is then one
            // no admitted open can still slip past (the queries decide
            // under this lock too).
            if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CREATE) {
                InterlockedIncrement(&m_RefuseStop);
                InterlockedIncrement(&m_RefuseRemove);
            }
            IoReleaseCancelSpinLock(irql);
            return true;
    }
}

// Called with the cancel spin lock held (acquired at irql); releases it.
void CPnpDevice::HoldIrpLocked(PIRP irp, NTSTATUS* status, KIRQL irql) {
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

// The queue is taken whole and each request handed to a work item of its
// own: the replay runs neither on the thread that ended the hold (a start
// in the PnP manager, another client's open powering the device up) nor
// behind another held request, whose client may take its time to answer a
// view it maps. The system's worker threads start the items in arrival
// order. A replayed request that is held again goes back on the queue for
// the next restart instead of being replayed again at once, for ever.
void CPnpDevice::RestartStalledIrps() {
    TakeHeldIrps([this](PIRP irp) {
        if (!CThread::Queue(m_DeviceObject, ReplayWorkItemCallback, irp)) {
            // No work item to replay it in: it ends, rather than wait for
            // ever or run where it would stall its releaser.
            irp->IoStatus.Information = 0;
            CompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES);
        }
    });
}

void CPnpDevice::ReplayWorkItemCallback(PVOID context) {
    auto* irp = static_cast<PIRP>(context);
    PDEVICE_OBJECT device = IoGetCurrentIrpStackLocation(irp)->DeviceObject;
    auto* self = DeviceFromObject<CPnpDevice>(device);
    UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    // Served in its caller's context, as its first dispatch was: a map
    // request makes its view in the calling process, not here.
    KAPC_STATE apc;
    PEPROCESS caller = IoGetRequestorProcess(irp);
    if (caller) KeStackAttachProcess(caller, &apc);
    // The replay passes the admission step again, which counts anew; the
    // held count is given back only afterwards, so that a removal waiting
    // for the count never sees the device idle between the two.
    self->m_DriverObject->MajorFunction[major](device, irp);
    if (caller) KeUnstackDetachProcess(&apc);
    self->IrpCountDecrement();
}

// Takes every held request off the queue (cancel routines off: the caller
// owns them now) and hands each to `each`, in arrival order.
template <class Each>
void CPnpDevice::TakeHeldIrps(Each&& each) {
    LIST_ENTRY taken;
    InitializeListHead(&taken);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    while (PIRP irp = m_HeldIrps.RemoveHead()) {
        IoSetCancelRoutine(irp, nullptr);
        InsertTailList(&taken, &irp->Tail.Overlay.ListEntry);
    }
    IoReleaseCancelSpinLock(irql);
    while (!IsListEmpty(&taken)) {
        PLIST_ENTRY entry = RemoveHeadList(&taken);
        InitializeListHead(entry);
        each(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry));
    }
}

void CPnpDevice::CleanupQueue() {
    CompleteHeldIrps(STATUS_DELETE_PENDING);
}

void CPnpDevice::CompleteHeldIrps(NTSTATUS status) {
    TakeHeldIrps([this, status](PIRP irp) {
        irp->IoStatus.Information = 0;
        CompleteIrp(irp, status);
    });
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

// The open count and the power decision are one step (the power policy
// lock) against closes and power queries: a close cannot power the device
// down between an open's look at the count and its count, and a query
// cannot accept a power-down while an admitted open is not yet counted.
void CPnpDevice::LockPowerPolicy() {
    KeWaitForSingleObject(&m_PowerPolicyLock, Executive, KernelMode, FALSE, nullptr);
}

void CPnpDevice::UnlockPowerPolicy() {
    KeSetEvent(&m_PowerPolicyLock, IO_NO_INCREMENT, FALSE);
}

NTSTATUS CPnpDevice::CreateFile(PIRP irp) {
    NTSTATUS status = STATUS_SUCCESS;
    LockPowerPolicy();
    bool admitted = false;
    if (ResourcesReleased()) {
        if (!IrpPrologue(irp, &status)) {
            UnlockPowerPolicy();
            return status;
        }
        admitted = true;
    }
    // The first open of a set-up device powers it up.
    if (m_PowerManaged && !ResourcesReleased() && OpenCount() == 0) {
        status = SendSetPowerIrpToDevice(PowerDeviceD0);
        if (!NT_SUCCESS(status)) {
            irp->IoStatus.Information = 0;
            if (admitted) {
                ReleaseRefuseCounts();
                UnlockPowerPolicy();
                CompleteIrp(irp, status);
            } else {
                UnlockPowerPolicy();
                irp->IoStatus.Status = status;
                IoCompleteRequest(irp, IO_NO_INCREMENT);
            }
            return status;
        }
    }
    if (!admitted && !IrpPrologue(irp, &status)) {
        UnlockPowerPolicy();
        return status;
    }

    // Admission raised the refuse-stop and refuse-remove counts.
    irp->IoStatus.Information = 0;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    status = STATUS_SUCCESS;
    KIRQL irql;
    KeAcquireSpinLock(&m_SpinLock, &irql);
    if (m_Exclusive) {
        status = STATUS_SHARING_VIOLATION;
    } else {
        InterlockedIncrement(&m_OpenCount);
        if (stack->Parameters.Create.ShareAccess == 0) {
            if (OpenCount() == 1) {
                m_Exclusive = 1;
            } else {
                status = STATUS_SHARING_VIOLATION;
                InterlockedDecrement(&m_OpenCount);
            }
        }
    }
    KeReleaseSpinLock(&m_SpinLock, irql);
    if (NT_SUCCESS(status)) {
        IrpCountIncrement();  // the handle's count, given back at its close
    } else {
        ReleaseRefuseCounts();
    }
    UnlockPowerPolicy();
    CompleteIrp(irp, status);
    return status;
}

void CPnpDevice::ReleaseRefuseCounts() {
    InterlockedDecrement(&m_RefuseStop);
    InterlockedDecrement(&m_RefuseRemove);
}

NTSTATUS CPnpDevice::CloseHandle(PIRP irp) {
    IrpCountIncrement();
    irp->IoStatus.Information = 0;
    LockPowerPolicy();
    KIRQL irql;
    KeAcquireSpinLock(&m_SpinLock, &irql);
    m_Exclusive = 0;
    LONG open = InterlockedDecrement(&m_OpenCount);
    KeReleaseSpinLock(&m_SpinLock, irql);
    ReleaseRefuseCounts();
    NTSTATUS status = STATUS_SUCCESS;
    // The last close powers the device down.
    if (m_PowerManaged && open == 0) status = SendSetPowerIrpToDevice(PowerDeviceD3);
    UnlockPowerPolicy();
    if (!NT_SUCCESS(status))
        irp->IoStatus.Information = 0;
    else
        status = STATUS_SUCCESS;
    CompleteIrp(irp, status);
    IrpCountDecrement();  // the handle's count
    return status;
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
    power.DeviceState = GetDevicePowerState();
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
    // The requests held for this start are not kept waiting for another
    // one that may never come: they end with the start's status.
    if (!NT_SUCCESS(status)) CompleteHeldIrps(status);
    CompleteIrp(irp, status);
    return status;
}

// Under the cancel spin lock, as admission counts an open: the state is
// changed only when no open is counted, and an open admitted later meets
// the new state.
bool CPnpDevice::SetStateUnlessOpen(volatile LONG* refuseCount, LONG state) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    const bool open = InterlockedCompareExchange(refuseCount, 0, 0) != 0;
    if (!open) InterlockedExchange(&m_PnpState, state);
    IoReleaseCancelSpinLock(irql);
    return !open;
}

NTSTATUS CPnpDevice::OnPnpQueryRemoveDevice(PIRP irp) {
    if (!SetStateUnlessOpen(&m_RefuseRemove, PnpStateRemovePending)) {
        CompleteIrp(irp, STATUS_UNSUCCESSFUL);
        return STATUS_UNSUCCESSFUL;
    }
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
    // The board is gone: what was held for it would otherwise wait until
    // the final removal, which itself waits for them (their opens count as
    // handles to the host).
    CleanupQueue();
    irp->IoStatus.Status = STATUS_SUCCESS;
    NTSTATUS status = PassIrpDownStack(irp);
    IrpCountDecrement();
    return status;
}

NTSTATUS CPnpDevice::OnPnpRemoveDevice(PIRP irp, bool* deleteNow) {
    LONG previous = ExchangePnpState(PnpStateRemoved);
    const BOOLEAN surprise = previous != PnpStateRemovePending;
    InterlockedExchange(&m_RegistersSaved, 0);
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
    InterlockedExchangePointer(&m_RemoveWorkItem, this);
    if (!CThread::Queue(m_DeviceObject, RemoveWorkItemCallback, this)) {
        // No work item to wait in: wait here, then delete as a removal
        // after a query would, rather than leave the device for ever.
        InterlockedExchangePointer(&m_RemoveWorkItem, nullptr);
        IrpCountDecrement();
        KeWaitForSingleObject(&m_RemoveEvent, Executive, KernelMode, FALSE, nullptr);
        NTSTATUS status = PassIrpDownStack(irp);
        *deleteNow = true;
        return NT_SUCCESS(status) ? STATUS_SUCCESS : status;
    }
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

bool CPnpDevice::LeaveToRemoveWorkItem() {
    if (!InterlockedCompareExchangePointer(&m_RemoveWorkItem, nullptr, nullptr)) return false;
    // The driver goes away: the waiting work item deletes the device now,
    // and it alone does.
    KeSetEvent(&m_RemoveEvent, IO_NO_INCREMENT, FALSE);
    return true;
}

NTSTATUS CPnpDevice::OnPnpQueryStopDevice(PIRP irp) {
    if (PnpState() != PnpStateStopped && !SetStateUnlessOpen(&m_RefuseStop, PnpStateStopPending)) {
        CompleteIrp(irp, STATUS_UNSUCCESSFUL);
        return STATUS_UNSUCCESSFUL;
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
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    bool restart = InterlockedCompareExchange(&m_PnpState, PnpStateStarted, PnpStateStopPending) ==
                   PnpStateStopPending;
    IoReleaseCancelSpinLock(irql);
    if (restart) RestartStalledIrps();
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
    NTSTATUS status = PassPowerDown(irp);
    IrpCountDecrement();
    return status;
}

NTSTATUS CPnpDevice::PassPowerDown(PIRP irp) {
    PoStartNextPowerIrp(irp);
    if (!m_LowerDeviceObject) {
        NTSTATUS status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(m_LowerDeviceObject, irp);
}

DEVICE_POWER_STATE CPnpDevice::GetDevicePowerState() const {
    return static_cast<DEVICE_POWER_STATE>(InterlockedCompareExchange(&m_DevicePowerState, 0, 0));
}

NTSTATUS CPnpDevice::SendSetPowerIrpToDevice(DEVICE_POWER_STATE state) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    POWER_STATE power;
    power.DeviceState = state;
    PDEVICE_OBJECT stack = m_PhysicalDeviceObject ? m_PhysicalDeviceObject : m_DeviceObject;
    NTSTATUS status = PoRequestPowerIrp(stack, IRP_MN_SET_POWER, power,
                                        DefaultPowerCompletionRoutine, &done, nullptr);
    if (status != STATUS_PENDING) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    return STATUS_SUCCESS;
}

// The look at the open count and the hold are one step against the opens
// (the power policy lock): an open counted before is seen, one coming after
// is held. No request of an open handle is held.
bool CPnpDevice::HoldUnlessOpen() {
    LockPowerPolicy();
    const bool open = OpenCount() != 0;
    if (!open) InterlockedExchange(&m_HoldNewRequests, 1);
    UnlockPowerPolicy();
    return !open;
}

NTSTATUS CPnpDevice::OnPowerQueryPower(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    DEVICE_POWER_STATE wanted;
    if (stack->Parameters.Power.Type == SystemPowerState) {
        if (!m_FollowSystemPower) return OnPowerPowerSequence(irp);
        wanted = GetDevicePowerStateFromSystemPowerState(stack->Parameters.Power.State.SystemState);
    } else {
        wanted = stack->Parameters.Power.State.DeviceState;
    }
    if (wanted <= GetDevicePowerState()) return OnPowerPowerSequence(irp);
    // Held from now on, unless a handle is open (then refused): nothing new
    // reaches a board about to lose power.
    if (!m_RefusePowerDownWhileOpen || HoldUnlessOpen()) return OnPowerPowerSequence(irp);
    PoStartNextPowerIrp(irp);
    CompleteIrp(irp, STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
}

NTSTATUS CPnpDevice::OnPowerSetPower(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.Power.Type == SystemPowerState) {
        SYSTEM_POWER_STATE system = stack->Parameters.Power.State.SystemState;
        m_SystemPowerState = system;
        if (m_FollowSystemPower) {
            DEVICE_POWER_STATE wanted = GetDevicePowerStateFromSystemPowerState(system);
            // A device already down when the sleep was queried is powered up
            // by an open that comes before this request (for its caller):
            // the sleep does not take it down under that handle. The look at
            // the count and the request are one step against opens and
            // closes.
            LockPowerPolicy();
            const bool change =
                wanted != GetDevicePowerState() && (wanted == PowerDeviceD0 || OpenCount() == 0);
            if (change) SendSetPowerIrpToDevice(wanted);
            UnlockPowerPolicy();
            if (!change && wanted == PowerDeviceD0 && ClearHoldFlag()) {
                // Back to working after a query whose transition did not
                // happen (another device vetoed it): the device never lost
                // power, so what was held since the query runs now.
                if (PnpState() == PnpStateStarted) RestartStalledIrps();
            }
        }
        return PassPowerDownReportingSuccess(irp);
    }

    DEVICE_POWER_STATE state = stack->Parameters.Power.State.DeviceState;
    if (state < GetDevicePowerState()) {
        // Powering up: the state is taken once the bus has done its part.
        PoStartNextPowerIrp(irp);
        if (!m_LowerDeviceObject) {
            irp->IoStatus.Status = STATUS_SUCCESS;
            PowerUpCompletionRoutine(m_DeviceObject, irp, this);
            NTSTATUS status = irp->IoStatus.Status;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return status;
        }
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, PowerUpCompletionRoutine, this, TRUE, TRUE, TRUE);
        return PoCallDriver(m_LowerDeviceObject, irp);
    }

    // Powering down (or staying): report and record first, save the
    // registers once on reaching the threshold, then the bus.
    POWER_STATE power;
    power.DeviceState = state;
    PoSetPowerState(m_DeviceObject, DevicePowerState, power);
    InterlockedExchange(&m_DevicePowerState, state);
    // Power requests of the device's own policy (first open, last close)
    // and of the system may meet: the flag is taken and given back as one
    // step, so the registers are saved and restored once each.
    if (state >= m_PowerDownThreshold && InterlockedCompareExchange(&m_RegistersSaved, 1, 0) == 0)
        SavePowerRegisters();
    return PassPowerDownReportingSuccess(irp);
}

// Runs when the bus has completed a power-up (or at once without a bus).
NTSTATUS CPnpDevice::PowerUpCompletionRoutine(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    auto* self = static_cast<CPnpDevice*>(context);
    NTSTATUS status = irp->IoStatus.Status;
    if (NT_SUCCESS(status) || status == STATUS_NOT_SUPPORTED) {
        POWER_STATE power;
        power.DeviceState = IoGetCurrentIrpStackLocation(irp)->Parameters.Power.State.DeviceState;
        InterlockedExchange(&self->m_DevicePowerState, power.DeviceState);
        bool restored = true;
        if (power.DeviceState < self->m_PowerDownThreshold &&
            InterlockedCompareExchange(&self->m_RegistersSaved, 0, 1) == 1) {
            if (!NT_SUCCESS(self->RestorePowerRegisters())) {
                irp->IoStatus.Status = STATUS_SUCCESS;
                restored = false;
            } else {
                self->ClearHoldFlag();
                if (self->PnpState() == PnpStateStarted) self->RestartStalledIrps();
            }
        }
        if (restored) PoSetPowerState(self->m_DeviceObject, DevicePowerState, power);
    }
    self->IrpCountDecrement();
    return STATUS_SUCCESS;
}

// Power-down and system requests: a bus that fails them does not fail
// the transition.
NTSTATUS CPnpDevice::PassPowerDownReportingSuccess(PIRP irp) {
    NTSTATUS status = PassPowerDown(irp);
    IrpCountDecrement();
    return NT_SUCCESS(status) || status == STATUS_PENDING ? status : STATUS_SUCCESS;
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
