// Board start and release: the two memory windows from the start's
// resources, the chip's enable registers, and the sequence's life span.
#include "driver/chip_registers.h"
#include "driver/kstring.h"
#include "driver/resource.h"
#include "driver/tolva.h"

using namespace tolva;

namespace {

void WriteShort(const ORBEK_MAPPED_ADDRESS& window, ULONG offset, USHORT value) {
    WRITE_REGISTER_USHORT(
        reinterpret_cast<volatile USHORT*>(static_cast<PUCHAR>(window.MappedAddress) + offset),
        value);
}

}  // namespace

void CTolva::LogMapFailure(const ORBEK_MAPPED_ADDRESS& window) {
    CString address;
    address.AppendNumber(window.BusAddressLow, 10);
    CString length;
    length.AppendNumber(window.Length, 10);
    const WCHAR* strings[3] = {Name().Buffer(), address.Buffer(), length.Buffer()};
    if (!strings[0] || !strings[1] || !strings[2]) {
        m_EventLog.LogError(TOLVA_ERROR_MAP_FAILED);
        return;
    }
    m_EventLog.LogError(TOLVA_ERROR_MAP_FAILED, 3, strings);
}

NTSTATUS CTolva::PnpSetupDeviceResources(PCM_RESOURCE_LIST raw, PCM_RESOURCE_LIST translated) {
    (void)raw;
    CResource resources(translated);
    if (!resources.GetMemoryResource(&m_ControlWindow, 0) ||
        !resources.GetMemoryResource(&m_MemoryWindow, 1))
        return STATUS_INSUFFICIENT_RESOURCES;

    if (!NT_SUCCESS(MapIoAddress(&m_ControlWindow))) {
        LogMapFailure(m_ControlWindow);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (!NT_SUCCESS(MapIoAddress(&m_MemoryWindow))) {
        LogMapFailure(m_MemoryWindow);
        UnmapIoAddress(&m_ControlWindow);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = InitializeBoard();
    if (!NT_SUCCESS(status)) {
        m_EventLog.LogError(TOLVA_ERROR_INIT_FAILED);
        UnmapIoAddress(&m_ControlWindow);
        UnmapIoAddress(&m_MemoryWindow);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    KIRQL irql;
    KeAcquireSpinLock(&m_SpinLock, &irql);
    m_BoardReady = true;
    KeReleaseSpinLock(&m_SpinLock, irql);
    return status;
}

NTSTATUS CTolva::PnpFreeDeviceResources(BOOLEAN surprise) {
    // Released already: a stop came before this removal.
    if (!m_ControlWindow.Mapped && !m_MemoryWindow.Mapped) return STATUS_SUCCESS;

    // From here on no request touches the windows (see the request handlers).
    KIRQL irql;
    KeAcquireSpinLock(&m_SpinLock, &irql);
    m_BoardReady = false;
    KeReleaseSpinLock(&m_SpinLock, irql);

    if (!surprise) {
        UninitializeBoard();
    } else {
        // The board may be gone: stop the sequence without touching it.
        m_Sequence.Running.store(0);
        KeCancelTimer(&m_Sequence.Timer);
        KeRemoveQueueDpc(&m_Sequence.Dpc);
    }
    // A tick that was already running on the DPC thread may have re-armed
    // the timer just before the running flag dropped: wait for it, stop what
    // it armed, and wait once more. No tick can start after that.
    KeFlushQueuedDpcs();
    KeCancelTimer(&m_Sequence.Timer);
    KeRemoveQueueDpc(&m_Sequence.Dpc);
    KeFlushQueuedDpcs();

    UnmapIoAddress(&m_ControlWindow);
    UnmapIoAddress(&m_MemoryWindow);
    return STATUS_SUCCESS;
}

NTSTATUS CTolva::InitializeBoard() {
    WriteShort(m_MemoryWindow, kBoardEnable0, 0);
    WriteShort(m_MemoryWindow, kBoardEnable1, 0);
    m_Sequence.Memory = m_MemoryWindow;
    m_Sequence.Control = m_ControlWindow;
    m_Sequence.LineState.store(0);
    m_Sequence.Countdown.store(0);
    m_Sequence.Running.store(1);
    KeInitializeTimer(&m_Sequence.Timer);
    KeInitializeDpc(&m_Sequence.Dpc, TimerWorkProc, &m_Sequence.Dpc);
    return STATUS_SUCCESS;
}

void CTolva::UninitializeBoard() {
    m_Sequence.Running.store(0);
    KeCancelTimer(&m_Sequence.Timer);
    KeRemoveQueueDpc(&m_Sequence.Dpc);
    WriteShort(m_MemoryWindow, kBoardEnable0, 0);
    WriteShort(m_MemoryWindow, kBoardEnable1, 0);
}
