// IRPs: allocation, passing down the stack, completion with the completion
// routines of each location, cancellation, and the power requests.
#include <cstdlib>
#include <new>

#include "kernel/completion_record.h"
#include "kernel/current_process.h"
#include "kernel/irp_block.h"
#include "kernel/irql.h"
#include "kernel/object_records.h"

namespace kalvo::kernel {

namespace {

KSPIN_LOCK cancelSpinLock = 0;

constexpr size_t kHeaderSize = sizeof(IrpHeader);
static_assert(kHeaderSize % 16 == 0);

size_t irpSize(CCHAR stackSize) {
    return sizeof(IRP) + size_t(stackSize) * sizeof(IO_STACK_LOCATION);
}

// What the I/O manager does when completion reaches the top of the stack.
void finishIrp(PIRP irp) {
    IrpHeader* header = headerOf(irp);
    if (!header) return;
    switch (header->origin) {
        case IrpOrigin::Synchronous:
            recordCompletion(irp);
            KeSetEvent(&header->doneEvent, IO_NO_INCREMENT, FALSE);
            break;
        case IrpOrigin::BuiltIoctl: {
            NTSTATUS status = irp->IoStatus.Status;
            if (!NT_ERROR(status) && header->userOutput) {
                size_t n = irp->IoStatus.Information;
                if (n > header->userOutputLength) n = header->userOutputLength;
                if (n > header->systemBuffer.size()) n = header->systemBuffer.size();
                std::memcpy(header->userOutput, header->systemBuffer.data(), n);
            }
            if (irp->UserIosb) *irp->UserIosb = irp->IoStatus;
            PKEVENT event = irp->UserEvent;
            freeIrp(irp);
            if (event) KeSetEvent(event, IO_NO_INCREMENT, FALSE);
            break;
        }
        case IrpOrigin::Power: {
            IO_STATUS_BLOCK status = irp->IoStatus;
            auto completion = header->powerCompletion;
            PDEVICE_OBJECT target = header->powerTarget;
            UCHAR minor = header->powerMinor;
            POWER_STATE state = header->powerState;
            PVOID context = header->powerContext;
            freeIrp(irp);
            if (completion) completion(target, minor, state, context, &status);
            break;
        }
        case IrpOrigin::Driver:
            if (irp->UserIosb) *irp->UserIosb = irp->IoStatus;
            if (irp->UserEvent) KeSetEvent(irp->UserEvent, IO_NO_INCREMENT, FALSE);
            break;
    }
}

NTSTATUS invalidRequest(PIRP irp) {
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

// A fresh IRP of stackSize locations: zeroed, its current location above the
// last one, as IoAllocateIrp and IoReuseIrp leave it.
void resetIrp(PIRP irp, CCHAR stackSize) {
    std::memset(static_cast<void*>(irp), 0, irpSize(stackSize));
    irp->Type = kTypeIrp;
    irp->Size = USHORT(irpSize(stackSize));
    irp->StackCount = stackSize;
    irp->CurrentLocation = CCHAR(stackSize + 1);
    irp->Tail.Overlay.CurrentStackLocation =
        reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stackSize;
    InitializeListHead(&irp->ThreadListEntry);
}

}  // namespace

IrpHeader* headerOf(PIRP irp) noexcept {
    if (!irp) return nullptr;
    auto* header = reinterpret_cast<IrpHeader*>(reinterpret_cast<char*>(irp) - kHeaderSize);
    return header->magic == IrpHeader::kMagic ? header : nullptr;
}

PIRP allocateIrp(CCHAR stackSize, IrpOrigin origin) {
    if (stackSize < 1) stackSize = 1;
    void* block =
        ::operator new(kHeaderSize + irpSize(stackSize), std::align_val_t(16), std::nothrow);
    if (!block) return nullptr;
    auto* header = new (block) IrpHeader{};
    header->origin = origin;
    header->caller = currentCaller();
    header->callerWordSize = header->caller ? header->caller->wordSize() : 64;
    KeInitializeEvent(&header->doneEvent, NotificationEvent, FALSE);
    auto* irp = reinterpret_cast<PIRP>(static_cast<char*>(block) + kHeaderSize);
    resetIrp(irp, stackSize);
    irp->RequestorMode = KernelMode;
    return irp;
}

void freeIrp(PIRP irp) {
    IrpHeader* header = headerOf(irp);
    if (!header) return;
    header->magic = 0;
    header->~IrpHeader();
    ::operator delete(static_cast<void*>(header), std::align_val_t(16));
}

NTSTATUS callAndWait(PDEVICE_OBJECT device, PIRP irp) {
    IrpHeader* header = headerOf(irp);
    IofCallDriver(device, irp);
    KeWaitForSingleObject(&header->doneEvent, Executive, KernelMode, FALSE, nullptr);
    return irp->IoStatus.Status;
}

}  // namespace kalvo::kernel

using namespace kalvo::kernel;

extern "C" {

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN) {
    return allocateIrp(stackSize, IrpOrigin::Driver);
}

VOID IoFreeIrp(PIRP irp) {
    freeIrp(irp);
}

VOID IoReuseIrp(PIRP irp, NTSTATUS status) {
    if (!headerOf(irp)) return;
    CCHAR stackSize = irp->StackCount;
    resetIrp(irp, stackSize);
    irp->IoStatus.Status = status;
}

PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject,
                                   PVOID inputBuffer, ULONG inputBufferLength, PVOID outputBuffer,
                                   ULONG outputBufferLength, BOOLEAN internalDeviceIoControl,
                                   PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock) {
    if (!deviceObject) return nullptr;
    PIRP irp = allocateIrp(deviceObject->StackSize, IrpOrigin::BuiltIoctl);
    if (!irp) return nullptr;
    IrpHeader* header = headerOf(irp);
    size_t size = inputBufferLength > outputBufferLength ? inputBufferLength : outputBufferLength;
    header->systemBuffer.assign(size, 0);
    if (inputBuffer && inputBufferLength)
        std::memcpy(header->systemBuffer.data(), inputBuffer, inputBufferLength);
    header->userOutput = outputBuffer;
    header->userOutputLength = outputBuffer ? outputBufferLength : 0;
    irp->AssociatedIrp.SystemBuffer = size ? header->systemBuffer.data() : nullptr;
    irp->UserEvent = event;
    irp->UserIosb = ioStatusBlock;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    location->MajorFunction =
        internalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    location->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
    location->Parameters.DeviceIoControl.InputBufferLength = inputBufferLength;
    location->Parameters.DeviceIoControl.OutputBufferLength = outputBufferLength;
    return irp;
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp) {
    if (!deviceObject || !irp) return STATUS_INVALID_PARAMETER;
    if (irp->CurrentLocation <= 1) {
        // No stack location left for this device: the IRP was built for a
        // shorter stack. Fail it instead of writing before its start.
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        irp->IoStatus.Information = 0;
        IofCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    irp->CurrentLocation--;
    PIO_STACK_LOCATION location = --irp->Tail.Overlay.CurrentStackLocation;
    location->DeviceObject = deviceObject;
    UCHAR major = location->MajorFunction;
    PDRIVER_DISPATCH routine = nullptr;
    if (major <= IRP_MJ_MAXIMUM_FUNCTION && deviceObject->DriverObject)
        routine = deviceObject->DriverObject->MajorFunction[major];
    if (!routine) return invalidRequest(irp);
    return routine(deviceObject, irp);
}

VOID IofCompleteRequest(PIRP irp, CCHAR) {
    if (!irp) return;
    while (irp->CurrentLocation <= irp->StackCount) {
        PIO_STACK_LOCATION location = irp->Tail.Overlay.CurrentStackLocation;
        irp->PendingReturned = (location->Control & SL_PENDING_RETURNED) ? TRUE : FALSE;
        PIO_COMPLETION_ROUTINE routine = location->CompletionRoutine;
        PVOID context = location->Context;
        UCHAR control = location->Control;
        location->MinorFunction = 0;
        location->Flags = 0;
        location->Control = 0;
        location->CompletionRoutine = nullptr;
        location->Context = nullptr;
        irp->CurrentLocation++;
        irp->Tail.Overlay.CurrentStackLocation++;
        PDEVICE_OBJECT upper = irp->CurrentLocation <= irp->StackCount
                                   ? irp->Tail.Overlay.CurrentStackLocation->DeviceObject
                                   : nullptr;
        NTSTATUS status = irp->IoStatus.Status;
        bool invoke = routine && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                  (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                                  (irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
        if (invoke) {
            if (routine(upper, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
        } else if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
            IoMarkIrpPending(irp);
        }
    }
    finishIrp(irp);
}

BOOLEAN IoCancelIrp(PIRP irp) {
    if (!irp) return FALSE;
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    irp->Cancel = TRUE;
    PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
    if (!routine) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    irp->CancelIrql = irql;
    // The routine releases the cancel spin lock.
    routine(IoGetCurrentIrpStackLocation(irp)->DeviceObject, irp);
    return TRUE;
}

VOID IoAcquireCancelSpinLock(PKIRQL irql) {
    KeAcquireSpinLock(&cancelSpinLock, irql);
}
VOID IoReleaseCancelSpinLock(KIRQL irql) {
    KeReleaseSpinLock(&cancelSpinLock, irql);
}

BOOLEAN IoIs32bitProcess(PIRP irp) {
    if (IrpHeader* header = headerOf(irp)) return header->callerWordSize == 32 ? TRUE : FALSE;
    CallerProcess* caller = currentCaller();
    return caller && caller->wordSize() == 32 ? TRUE : FALSE;
}

PEPROCESS IoGetRequestorProcess(PIRP irp) {
    IrpHeader* header = headerOf(irp);
    return header ? reinterpret_cast<PEPROCESS>(header->caller) : nullptr;
}

VOID KeStackAttachProcess(PEPROCESS process, PRKAPC_STATE apcState) {
    if (!apcState) return;
    CallerProcess* previous = currentCaller();
    apcState->SavedProcess = previous;
    setCurrentCaller(reinterpret_cast<CallerProcess*>(process));
}

VOID KeUnstackDetachProcess(PRKAPC_STATE apcState) {
    if (!apcState) return;
    setCurrentCaller(static_cast<CallerProcess*>(apcState->SavedProcess));
}

POWER_STATE PoSetPowerState(PDEVICE_OBJECT deviceObject, POWER_STATE_TYPE type, POWER_STATE state) {
    POWER_STATE previous{};
    DeviceRecord* record = recordOf(deviceObject);
    if (!record) return previous;
    std::lock_guard lock(record->powerMutex);
    if (type == DevicePowerState) {
        previous.DeviceState = record->devicePower;
        record->devicePower = state.DeviceState;
    } else {
        previous.SystemState = record->systemPower;
        record->systemPower = state.SystemState;
    }
    return previous;
}

VOID PoStartNextPowerIrp(PIRP) {}

NTSTATUS PoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp) {
    return IofCallDriver(deviceObject, irp);
}

NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT deviceObject, UCHAR minorFunction, POWER_STATE powerState,
                           PREQUEST_POWER_COMPLETE completionFunction, PVOID context,
                           PIRP* irpOut) {
    if (irpOut) *irpOut = nullptr;
    if (!recordOf(deviceObject)) return STATUS_INVALID_PARAMETER;
    if (minorFunction != IRP_MN_SET_POWER && minorFunction != IRP_MN_QUERY_POWER &&
        minorFunction != IRP_MN_WAIT_WAKE)
        return STATUS_INVALID_PARAMETER_2;
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(deviceObject);
    PIRP irp = allocateIrp(top->StackSize, IrpOrigin::Power);
    if (!irp) {
        ObDereferenceObject(top);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IrpHeader* header = headerOf(irp);
    header->powerTarget = deviceObject;
    header->powerMinor = minorFunction;
    header->powerState = powerState;
    header->powerCompletion = completionFunction;
    header->powerContext = context;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    location->MajorFunction = IRP_MJ_POWER;
    location->MinorFunction = minorFunction;
    if (minorFunction == IRP_MN_WAIT_WAKE) {
        location->Parameters.WaitWake.PowerState = powerState.SystemState;
    } else {
        location->Parameters.Power.Type = DevicePowerState;
        location->Parameters.Power.State = powerState;
    }
    if (irpOut) *irpOut = irp;
    PoCallDriver(top, irp);
    ObDereferenceObject(top);
    return STATUS_PENDING;
}

}  // extern "C"
