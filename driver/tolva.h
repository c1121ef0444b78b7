// CTolva: one master board. It maps the board's two windows at start, runs
// the line's connect sequence on a 10 ms one-shot timer, and serves the
// device control requests of the board library.
#pragma once

#include <atomic>
#include <cstdint>

#include "driver/event_log.h"
#include "driver/mapped_address.h"
#include "driver/pnp_device.h"
#include "kernel/wdm.h"

// The connect sequence's state. The deferred call's context points at this
// record and the sequence reaches everything it needs from here. The line
// state and the station fields are shared with the request handlers, which
// run on other threads: each is one aligned field written with one store
// (the connect handler writes address and size before the state, and the
// state before the mode).
struct TOLVA_SEQUENCE {
    KDPC Dpc;
    KTIMER Timer;
    std::atomic<UCHAR> Running{0};  // board start to board stop: re-arm the timer
    std::atomic<LONG> LineState{0};
    std::atomic<LONG> Countdown{0};  // ticks to wait before the next step
    CHAR StationText[8] = {};
    std::atomic<int8_t> StationSize{0};
    std::atomic<LONG> StationAddress{0};
    ULONG StationRegister = 0;  // value last written to the station register
    std::atomic<LONG> ConnectMode{0};
    ORBEK_MAPPED_ADDRESS Memory{};  // copies taken at board start
    ORBEK_MAPPED_ADDRESS Control{};
};

class CTolva : public CPnpDevice {
  public:
    CTolva(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, PDEVICE_OBJECT physical,
           const CString& name, PUNICODE_STRING registryPath);
    ~CTolva() override;

    NTSTATUS PnpSetupDeviceResources(PCM_RESOURCE_LIST raw, PCM_RESOURCE_LIST translated) override;
    NTSTATUS PnpFreeDeviceResources(BOOLEAN surprise) override;

    NTSTATUS InitializeBoard();
    void UninitializeBoard();

    // IRP_MJ_DEVICE_CONTROL of every instance.
    static NTSTATUS TolvaIoctlDispatch(PDEVICE_OBJECT device, PIRP irp);
    // One tick of the connect sequence.
    static void TimerWorkProc(PKDPC dpc, PVOID context, PVOID arg1, PVOID arg2);

    ULONG VendorID() const { return m_VendorID; }
    ULONG DeviceID() const { return m_DeviceID; }

  private:
    NTSTATUS Ioctl(PIRP irp);
    NTSTATUS TolvaIoctlReset(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                             ULONG_PTR* information);
    NTSTATUS TolvaIoctlConnect(LONG mode, ULONG inLength, PVOID buffer);
    NTSTATUS TolvaIoctlCi(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                          ULONG_PTR* information);
    NTSTATUS TolvaIoctlCiL(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                           ULONG_PTR* information);
    NTSTATUS TolvaIoctlCiM(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                           ULONG_PTR* information);
    NTSTATUS TolvaIoctlCo(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                          ULONG_PTR* information);
    NTSTATUS TolvaIoctlGm(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                          ULONG_PTR* information);
    NTSTATUS TolvaIoctlStatus(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                              ULONG_PTR* information);
    NTSTATUS TolvaIoctlName(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                            ULONG_PTR* information);
    NTSTATUS TolvaIoctlMail(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                            ULONG_PTR* information);
    NTSTATUS TolvaIoctlOpt2(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                            ULONG_PTR* information);
    NTSTATUS TolvaIoctlOpt3(PIRP irp, ULONG inLength, ULONG outLength, PVOID buffer,
                            ULONG_PTR* information);

    NTSTATUS MapView(ULONGLONG offset, ULONG length, ULONGLONG* address);
    void LogMapFailure(const ORBEK_MAPPED_ADDRESS& window);
    // The window's memory areas that go blank when the line goes idle.
    static void ClearIdleAreas(PUCHAR memory);
    static void Step(TOLVA_SEQUENCE* seq);

    ORBEK_MAPPED_ADDRESS m_ControlWindow{};
    ORBEK_MAPPED_ADDRESS m_MemoryWindow{};
    CEventLog m_EventLog;
    ULONG m_VendorID = 0;
    ULONG m_DeviceID = 0;
    // Board ready: the windows are mapped and the sequence exists. Guarded
    // by the device spin lock, so that a request that touches the board
    // never meets a window that a stop is unmapping.
    bool m_BoardReady = false;
    TOLVA_SEQUENCE m_Sequence;
};

// Builds the device object "\Device\<name>" with a CTolva in its extension
// and the symbolic link; on failure nothing is left and *tolva is null.
NTSTATUS CreateDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physical, const CString& name,
                      DEVICE_TYPE type, PUNICODE_STRING registryPath, ULONG instance,
                      CTolva** tolva, PDEVICE_OBJECT* device);

NTSTATUS TolvaAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physical);
