#include "kernel/root_bus.h"

namespace kalvo::kernel {

namespace {

NTSTATUS complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS busPnp(PDEVICE_OBJECT, PIRP irp) {
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    switch (location->MinorFunction) {
        case IRP_MN_START_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_REMOVE_DEVICE:
            // The board stays on the bus; its PDO is deleted by the PnP
            // manager once the function driver has let go of it.
            return complete(irp, STATUS_SUCCESS);
        case IRP_MN_QUERY_CAPABILITIES: {
            PDEVICE_CAPABILITIES caps = location->Parameters.DeviceCapabilities.Capabilities;
            if (!caps) return complete(irp, STATUS_INVALID_PARAMETER);
            caps->SurpriseRemovalOK = 1;
            caps->DeviceState[PowerSystemWorking] = PowerDeviceD0;
            for (int s = PowerSystemSleeping1; s < PowerSystemMaximum; ++s)
                caps->DeviceState[s] = PowerDeviceD3;
            caps->SystemWake = PowerSystemUnspecified;
            caps->DeviceWake = PowerDeviceUnspecified;
            return complete(irp, STATUS_SUCCESS);
        }
        default:
            // Not handled by the bus: the status set by the sender stays.
            return complete(irp, irp->IoStatus.Status);
    }
}

NTSTATUS busPower(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    PoStartNextPowerIrp(irp);
    switch (location->MinorFunction) {
        case IRP_MN_SET_POWER:
            if (location->Parameters.Power.Type == DevicePowerState)
                PoSetPowerState(device, DevicePowerState, location->Parameters.Power.State);
            return complete(irp, STATUS_SUCCESS);
        case IRP_MN_QUERY_POWER:
            return complete(irp, STATUS_SUCCESS);
        default:
            return complete(irp, STATUS_NOT_SUPPORTED);
    }
}

NTSTATUS busSystemControl(PDEVICE_OBJECT, PIRP irp) {
    return complete(irp, irp->IoStatus.Status);
}

}  // namespace

NTSTATUS RootBusDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    driver->MajorFunction[IRP_MJ_PNP] = busPnp;
    driver->MajorFunction[IRP_MJ_POWER] = busPower;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = busSystemControl;
    return STATUS_SUCCESS;
}

NTSTATUS createBoardPdo(PDRIVER_OBJECT bus, PDEVICE_OBJECT* pdo) {
    NTSTATUS status = IoCreateDevice(bus, 0, nullptr, FILE_DEVICE_BUS_EXTENDER,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, pdo);
    if (NT_SUCCESS(status)) (*pdo)->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
    return status;
}

}  // namespace kalvo::kernel
