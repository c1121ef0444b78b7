// An IRP as the I/O manager allocates it: the host's header, the IRP, then
// its stack locations. The header says who gets the IRP back when its
// completion reaches the top of the stack.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "kernel/device_backend.h"
#include "kernel/wdm.h"

namespace kalvo::kernel {

enum class IrpOrigin : uint8_t {
    Driver,       // IoAllocateIrp: the driver frees it
    Synchronous,  // the I/O or PnP manager waits for doneEvent, then frees it
    BuiltIoctl,   // IoBuildDeviceIoControlRequest: copied back and freed on completion
    Power,        // PoRequestPowerIrp: completion function, then freed
};

struct alignas(16) IrpHeader {
    static constexpr uint32_t kMagic = 0x4B495250;
    uint32_t magic = kMagic;
    IrpOrigin origin = IrpOrigin::Driver;
    int callerWordSize = 64;
    // The process the request was issued in; it waits for the request, so
    // it stays valid until completion (null: the system's own request).
    CallerProcess* caller = nullptr;
    KEVENT doneEvent{};
    IO_SECURITY_CONTEXT security{};
    std::vector<uint8_t> systemBuffer;
    // BuiltIoctl
    PVOID userOutput = nullptr;
    ULONG userOutputLength = 0;
    // Power
    PDEVICE_OBJECT powerTarget = nullptr;
    UCHAR powerMinor = 0;
    POWER_STATE powerState{};
    PREQUEST_POWER_COMPLETE powerCompletion = nullptr;
    PVOID powerContext = nullptr;
    // A client's request in the completion record (recorded: the fields
    // below are set; they change under the record's lock).
    bool recorded = false;
    bool heldRowWritten = false;
    std::string recordDevice;
    uint32_t recordPid = 0;
    UCHAR recordMajor = 0;
    uint32_t recordCode = 0;
    std::thread::id dispatchThread;
};

// Null for an IRP that the I/O manager did not allocate.
IrpHeader* headerOf(PIRP irp) noexcept;
PIRP allocateIrp(CCHAR stackSize, IrpOrigin origin);
void freeIrp(PIRP irp);

// For the I/O and PnP managers: sends a Synchronous IRP to device (its
// first stack location is filled by the caller through
// IoGetNextIrpStackLocation) and waits until it completes.
NTSTATUS callAndWait(PDEVICE_OBJECT device, PIRP irp);

}  // namespace kalvo::kernel
