// The device control requests of the board library: one dispatcher for
// every instance and one handler per request. Every handler runs in the
// caller's thread, in the caller's process, and completes at once.
#include "driver/requests/request_blocks.h"
#include "driver/requests/request_codes.h"

#include <cstring>

#include "driver/chip_registers.h"
#include "driver/tolva.h"

using namespace tolva;
namespace rq = kalvo::requests;

NTSTATUS CTolva::TolvaIoctlDispatch(PDEVICE_OBJECT device, PIRP irp) {
    return DeviceFromObject<CTolva>(device)->Ioctl(irp);
}

NTSTATUS CTolva::Ioctl(PIRP irp) {
    NTSTATUS status = STATUS_SUCCESS;
    if (!IrpPrologue(irp, &status)) return status;

    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    PVOID buffer = irp->AssociatedIrp.SystemBuffer;

    status = STATUS_NOT_IMPLEMENTED;
    ULONG_PTR information = 0;
    switch (code) {
        case rq::IOCTL_TOLVA_RESET:
            status = TolvaIoctlReset(irp, inLength, outLength, buffer, &information);
            break;
        case rq::IOCTL_TOLVA_CONNECT:
            status = TolvaIoctlCi(irp, inLength, outLength, buffer, &information);
            break;
        case rq::IOCTL_TOLVA_DISCONNECT:
            status = TolvaIoctlCo(irp, inLength, outLength, buffer, &information);
            break;
        case rq::IOCTL_TOLVA_MAP_MEMORY:
            status = TolvaIoctlGm(irp, inLength, outLength, buffer, &information);
            break;
        case rq::IOCTL_TOLVA_MAIL:
            status = TolvaIoctlMail(irp, inLength, outLength, buffer, &information);
            break;
        case rq::IOCTL_TOLVA_STATUS:
            status = TolvaIoctlStatus(irp, inLength, outLength, buffer, &information);
            break;
        case rq::IOCTL_TOLVA_NAME:
            status = TolvaIoctlName(irp, inLength, outLength, buffer, &information);
            break;
        case rq::IOCTL_TOLVA_OPT2:
            status = TolvaIoctlOpt2(irp, inLength, outLength, buffer, &information);
            break;
        case rq::IOCTL_TOLVA_OPT3:
            status = TolvaIoctlOpt3(irp, inLength, outLength, buffer, &information);
            break;
        case rq::IOCTL_TOLVA_CONNECT_LF:
            status = TolvaIoctlCiL(irp, inLength, outLength, buffer, &information);
            break;
        case rq::IOCTL_TOLVA_CONNECT_GMM:
            status = TolvaIoctlCiM(irp, inLength, outLength, buffer, &information);
            break;
        default:
            break;
    }
    irp->IoStatus.Information = information;
    if (status != STATUS_PENDING) CompleteIrp(irp, status);
    return status;
}

// Pulses the board reset: bit 30 of the control register set, then cleared,
// back to back.
NTSTATUS CTolva::TolvaIoctlReset(PIRP, ULONG, ULONG, PVOID, ULONG_PTR*) {
    KIRQL irql;
    KeAcquireSpinLock(&m_SpinLock, &irql);
    if (!m_BoardReady) {
        KeReleaseSpinLock(&m_SpinLock, irql);
        return STATUS_DEVICE_NOT_READY;
    }
    auto* control = reinterpret_cast<volatile ULONG*>(
        static_cast<PUCHAR>(m_ControlWindow.MappedAddress) + kControlRegister);
    WRITE_REGISTER_ULONG(control, READ_REGISTER_ULONG(control) | kControlResetBit);
    WRITE_REGISTER_ULONG(control, READ_REGISTER_ULONG(control) ^ kControlResetBit);
    KeReleaseSpinLock(&m_SpinLock, irql);
    return STATUS_SUCCESS;
}

NTSTATUS CTolva::TolvaIoctlConnect(LONG mode, ULONG inLength, PVOID buffer) {
    if (inLength != sizeof(rq::ConnectRequestBlock) || !buffer) return STATUS_INVALID_PARAMETER;
    auto kept = rq::parseConnectBlock(
        std::span<const uint8_t>(static_cast<const uint8_t*>(buffer), inLength));
    if (!kept) return STATUS_INVALID_PARAMETER;  // the text must start with a digit

    KIRQL irql;
    KeAcquireSpinLock(&m_SpinLock, &irql);
    if (!m_BoardReady) {
        KeReleaseSpinLock(&m_SpinLock, irql);
        return STATUS_DEVICE_NOT_READY;
    }
    // Address and size before the state, the state before the mode: the
    // sequence reads the mode two steps after state 1 at the earliest.
    std::memcpy(m_Sequence.StationText, kept->text, sizeof(m_Sequence.StationText));
    m_Sequence.StationAddress.store(kept->address);
    m_Sequence.StationSize.store(kept->size);
    m_Sequence.LineState.store(rq::LineState::Accepted);
    m_Sequence.ConnectMode.store(mode);
    // The first step runs at once; the timer takes over from there. Queued
    // under the lock, so that a stop that follows finds it and takes it out.
    KeInsertQueueDpc(&m_Sequence.Dpc, nullptr, nullptr);
    KeReleaseSpinLock(&m_SpinLock, irql);
    return STATUS_SUCCESS;
}

NTSTATUS CTolva::TolvaIoctlCi(PIRP, ULONG inLength, ULONG, PVOID buffer, ULONG_PTR*) {
    return TolvaIoctlConnect(static_cast<LONG>(rq::ConnectMode::Normal), inLength, buffer);
}

NTSTATUS CTolva::TolvaIoctlCiL(PIRP, ULONG inLength, ULONG, PVOID buffer, ULONG_PTR*) {
    return TolvaIoctlConnect(static_cast<LONG>(rq::ConnectMode::LongFrame), inLength, buffer);
}

NTSTATUS CTolva::TolvaIoctlCiM(PIRP, ULONG inLength, ULONG, PVOID buffer, ULONG_PTR*) {
    return TolvaIoctlConnect(static_cast<LONG>(rq::ConnectMode::Gmm), inLength, buffer);
}

// Idle: the chip areas are cleared here and now. Otherwise the sequence's
// next step sees state 0, clears them and stops.
NTSTATUS CTolva::TolvaIoctlCo(PIRP, ULONG, ULONG, PVOID, ULONG_PTR*) {
    KIRQL irql;
    KeAcquireSpinLock(&m_SpinLock, &irql);
    if (!m_BoardReady) {
        KeReleaseSpinLock(&m_SpinLock, irql);
        return STATUS_DEVICE_NOT_READY;
    }
    if (m_Sequence.LineState.load() == rq::LineState::Idle)
        ClearIdleAreas(static_cast<PUCHAR>(m_MemoryWindow.MappedAddress));
    m_Sequence.LineState.store(rq::LineState::Idle);
    KeReleaseSpinLock(&m_SpinLock, irql);
    return STATUS_SUCCESS;
}

NTSTATUS CTolva::TolvaIoctlStatus(PIRP, ULONG, ULONG outLength, PVOID buffer,
                                  ULONG_PTR* information) {
    if (outLength != sizeof(rq::StatusBlock) || !buffer) return STATUS_INVALID_PARAMETER;
    rq::StatusBlock block{m_Sequence.LineState.load(), m_Sequence.StationAddress.load(),
                          static_cast<int32_t>(m_Sequence.StationSize.load())};
    std::memcpy(buffer, &block, sizeof(block));
    *information = sizeof(block);
    return STATUS_SUCCESS;
}

// This board resolves no station names: the caller's block comes back as it
// was sent, slot index -1.
NTSTATUS CTolva::TolvaIoctlName(PIRP, ULONG, ULONG, PVOID, ULONG_PTR*) {
    return STATUS_SUCCESS;
}
NTSTATUS CTolva::TolvaIoctlMail(PIRP, ULONG, ULONG, PVOID, ULONG_PTR*) {
    return STATUS_SUCCESS;
}
NTSTATUS CTolva::TolvaIoctlOpt2(PIRP, ULONG, ULONG, PVOID, ULONG_PTR*) {
    return STATUS_SUCCESS;
}
NTSTATUS CTolva::TolvaIoctlOpt3(PIRP, ULONG, ULONG, PVOID, ULONG_PTR*) {
    return STATUS_SUCCESS;
}
