#include "kernel/completion_record.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>

#include "kernel/irp_block.h"
#include "kernel/object_records.h"
#include "kernel/wide_text.h"

namespace kalvo::kernel {

namespace {

struct Record {
    std::mutex mutex;
    uint64_t sequence = 0;
    std::map<std::string, std::deque<CompletionRow>> devices;
};

Record& record() {
    static Record* r = new Record;  // outlives the host's last completion
    return *r;
}

// Under the record's lock.
void writeRow(Record& r, const IrpHeader& header, CompletionRow::Kind kind, NTSTATUS status,
              uint64_t bytes) {
    CompletionRow row;
    row.sequence = ++r.sequence;
    row.timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
    row.device = header.recordDevice;
    row.pid = header.recordPid;
    row.major = header.recordMajor;
    row.code = header.recordCode;
    row.status = status;
    row.bytes = bytes;
    row.kind = kind;
    auto& rows = r.devices[row.device];
    if (rows.size() >= kRowsPerDevice) rows.pop_front();
    rows.push_back(std::move(row));
}

}  // namespace

const char* completionKindName(CompletionRow::Kind kind) {
    switch (kind) {
        case CompletionRow::Kind::Held:
            return "held";
        case CompletionRow::Kind::Completed:
            return "completed";
        case CompletionRow::Kind::Replayed:
            return "replayed";
        case CompletionRow::Kind::Cancelled:
            return "cancelled";
    }
    return "?";
}

const char* majorFunctionName(UCHAR major) {
    switch (major) {
        case IRP_MJ_CREATE:
            return "IRP_MJ_CREATE";
        case IRP_MJ_CLOSE:
            return "IRP_MJ_CLOSE";
        case IRP_MJ_DEVICE_CONTROL:
            return "IRP_MJ_DEVICE_CONTROL";
        case IRP_MJ_INTERNAL_DEVICE_CONTROL:
            return "IRP_MJ_INTERNAL_DEVICE_CONTROL";
        case IRP_MJ_CLEANUP:
            return "IRP_MJ_CLEANUP";
        case IRP_MJ_POWER:
            return "IRP_MJ_POWER";
        case IRP_MJ_PNP:
            return "IRP_MJ_PNP";
        default:
            return "IRP_MJ_?";
    }
}

std::vector<CompletionRow> completionRows(const std::string& device) {
    Record& r = record();
    std::lock_guard lock(r.mutex);
    std::vector<CompletionRow> rows;
    for (auto& [name, deviceRows] : r.devices)
        if (device.empty() || name == device)
            rows.insert(rows.end(), deviceRows.begin(), deviceRows.end());
    if (device.empty())
        std::sort(rows.begin(), rows.end(),
                  [](auto& a, auto& b) { return a.sequence < b.sequence; });
    return rows;
}

void recordClientRequest(PIRP irp, PDEVICE_OBJECT device, uint32_t pid) {
    IrpHeader* header = headerOf(irp);
    DeviceRecord* deviceRecord = recordOf(device);
    if (!header || !deviceRecord) return;
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    std::lock_guard lock(record().mutex);
    header->recorded = true;
    header->recordDevice = toUtf8(deviceRecord->name);
    header->recordPid = pid;
    header->recordMajor = location->MajorFunction;
    if (location->MajorFunction == IRP_MJ_DEVICE_CONTROL)
        header->recordCode = location->Parameters.DeviceIoControl.IoControlCode;
    header->dispatchThread = std::this_thread::get_id();
}

void recordDispatchReturned(PIRP irp, NTSTATUS returned) {
    IrpHeader* header = headerOf(irp);
    if (!header || returned != STATUS_PENDING) return;
    Record& r = record();
    std::lock_guard lock(r.mutex);
    if (!header->recorded || header->heldRowWritten) return;
    header->heldRowWritten = true;
    writeRow(r, *header, CompletionRow::Kind::Held, STATUS_PENDING, 0);
}

void recordCompletion(PIRP irp) {
    IrpHeader* header = headerOf(irp);
    if (!header) return;
    Record& r = record();
    std::lock_guard lock(r.mutex);
    if (!header->recorded) return;
    // Completed on another thread than its dispatch: it was held (and its
    // dispatch may not have returned yet to say so).
    if (!header->heldRowWritten && std::this_thread::get_id() != header->dispatchThread) {
        header->heldRowWritten = true;
        writeRow(r, *header, CompletionRow::Kind::Held, STATUS_PENDING, 0);
    }
    CompletionRow::Kind kind = !header->heldRowWritten ? CompletionRow::Kind::Completed
                               : irp->Cancel           ? CompletionRow::Kind::Cancelled
                                                       : CompletionRow::Kind::Replayed;
    writeRow(r, *header, kind, irp->IoStatus.Status, irp->IoStatus.Information);
    // Not recorded twice should the I/O manager reuse it.
    header->recorded = false;
}

}  // namespace kalvo::kernel
