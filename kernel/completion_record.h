// The host's record of client request completions, per device: for each
// create and device control that a client process sent, who sent it, what
// it was, how the driver completed it and whether it was held (its
// dispatch returned STATUS_PENDING and it finished later, replayed or
// cancelled). Held requests also leave a row when they are held, so the
// record shows their arrival order next to their completion order. The
// record keeps the last kRowsPerDevice rows of each device.
#pragma once

#include "kernel/export.h"

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/wdm.h"

namespace kalvo::kernel {

struct CompletionRow {
    enum class Kind : uint8_t {
        Held,       // the dispatch returned STATUS_PENDING: the request waits
        Completed,  // completed from its dispatch
        Replayed,   // held, then completed with a status of its own
        Cancelled,  // held, then cancelled (IoCancelIrp reached it)
    };
    uint64_t sequence = 0;  // over all devices, in the order rows were written
    int64_t timeMs = 0;     // wall clock, milliseconds since the epoch
    std::string device;     // "\Device\..."
    uint32_t pid = 0;
    UCHAR major = 0;
    uint32_t code = 0;  // device controls
    NTSTATUS status = 0;
    uint64_t bytes = 0;
    Kind kind = Kind::Completed;
};

KALVO_KERNEL_API const char* completionKindName(CompletionRow::Kind kind);
// "IRP_MJ_CREATE", ...; "IRP_MJ_?" out of range.
KALVO_KERNEL_API const char* majorFunctionName(UCHAR major);

constexpr size_t kRowsPerDevice = 256;

// The rows of one device (empty: every device), oldest first.
KALVO_KERNEL_API std::vector<CompletionRow> completionRows(const std::string& device = {});

// For the I/O manager: marks irp as a client's request on device (the named
// device of its file), so that its completion is recorded.
void recordClientRequest(PIRP irp, PDEVICE_OBJECT device, uint32_t pid);
// The dispatch of a recorded request returned; STATUS_PENDING writes its
// Held row (unless its completion came first and wrote it).
void recordDispatchReturned(PIRP irp, NTSTATUS returned);
// Completion reached the top of a recorded request's stack.
void recordCompletion(PIRP irp);

}  // namespace kalvo::kernel
