// The seam between the device host's transport (the socket server that
// serves CreateFile / DeviceIoControl / CancelIo / CloseHandle of client
// processes) and the kernel services that run the drivers.
//
// The transport owns connections, framing, credentials and the client's
// address space (views are mapped by the client on the host's request); the
// kernel owns device objects, IRPs and drivers. Each open handle of a client
// is one connection and one file object here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/ntstatus.h"

namespace kalvo::kernel {

using platform::NTSTATUS;

// The calling process as the kernel sees it while it serves one request
// ("in the context of the calling process"). Valid only during the call.
class CallerProcess {
  public:
    virtual ~CallerProcess() = default;
    virtual uint32_t processId() const = 0;
    // 32 or 64: the word size of the caller's build. A 32-bit caller's views
    // are placed below 4 GiB so that a 12-byte map block can hold them.
    virtual int wordSize() const = 0;
    // ZwMapViewOfSection on the current process: maps length bytes of the
    // window file fd (a board window's mappable object) at fileOffset (a
    // multiple of the page size) into the caller, read-write and shared; the
    // address in *address. fd stays the host's: the caller gets its own copy.
    virtual NTSTATUS mapView(int fd, uint64_t fileOffset, size_t length, uint64_t* address) = 0;
    // ZwUnmapViewOfSection: removes the view that contains address;
    // STATUS_NOT_MAPPED_VIEW when no view of this process contains it.
    virtual NTSTATUS unmapView(uint64_t address) = 0;
};

struct OpenRequest {
    std::string path;  // as the client gave it, e.g. "\\\\.\\tolva0"
    uint32_t desiredAccess = 0;
    uint32_t shareMode = 0;
    uint32_t creationDisposition = 0;
    uint32_t flagsAndAttributes = 0;
};

struct IoResult {
    NTSTATUS status = platform::STATUS_SUCCESS;
    std::vector<uint8_t> output;  // the bytes returned (IoStatus.Information)
};

using FileId = uint64_t;

class DeviceBackend {
  public:
    virtual ~DeviceBackend() = default;

    // IRP_MJ_CREATE on the device that the symbolic link names
    // (case-insensitive); STATUS_OBJECT_NAME_NOT_FOUND when there is none.
    virtual NTSTATUS open(const OpenRequest& request, CallerProcess& caller, FileId* file) = 0;

    // IRP_MJ_DEVICE_CONTROL (METHOD_BUFFERED). Blocks the calling transport
    // thread until the request completes; a request that the driver holds
    // keeps blocking until it is replayed, refused or cancelled.
    virtual IoResult deviceControl(FileId file, uint32_t code, std::span<const uint8_t> input,
                                   uint32_t outputLength, CallerProcess& caller) = 0;

    // The caller gave up on an open that has not returned (it hung up while
    // the driver holds the create): cancels that create, whose open() then
    // returns, normally with STATUS_CANCELLED.
    virtual void cancelOpen(CallerProcess& caller) { (void)caller; }

    // CancelIo: cancels every request of this file that is still pending
    // (its deviceControl then returns, normally with STATUS_CANCELLED).
    virtual void cancel(FileId file) = 0;

    // CloseHandle or the client's death: IRP_MJ_CLEANUP then IRP_MJ_CLOSE.
    // Pending requests of the file are cancelled first.
    virtual void close(FileId file) = 0;

    // The client process went without closing the file (it died, or ended
    // with the handle open); close() follows at once. What the client's own
    // shutdown would have done is left to whoever cares.
    virtual void clientGone(FileId) {}
};

}  // namespace kalvo::kernel
