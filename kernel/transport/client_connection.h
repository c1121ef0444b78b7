// One open handle of a client process: its connection, its file object in
// the kernel, and the client's address space as the kernel sees it while one
// of the handle's requests runs.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/device_backend.h"
#include "platform/device_protocol.h"

namespace kalvo::kernel::transport {

class ClientConnection : public CallerProcess,
                         public std::enable_shared_from_this<ClientConnection> {
  public:
    // Takes no ownership of sock: the server closes it after serve().
    ClientConnection(int sock, const ucred& peer, DeviceBackend& backend, uint64_t id,
                     uint64_t token);

    uint64_t id() const { return id_; }
    uint64_t token() const { return token_; }
    int socket() const { return sock_; }

    // IRP_MJ_CREATE; answers the client. True when the file is open.
    bool open(const platform::device_wire::OpenFrame& frame, std::string path);
    // Serves requests until the client goes (or breaks the protocol, or the
    // server stops), then sends cleanup and close for the file.
    void serve();

    // CancelIo of request seq, from the client's cancel connection.
    void cancel(uint32_t seq);
    // The client's end of the connection is gone: cancel what runs.
    void hangUp();
    // The server drops the connection (it stops): the end that follows is
    // not the client's doing.
    void dropByServer();
    // Views the client holds for this handle (made and not yet removed).
    size_t views() const { return views_.load(std::memory_order_relaxed); }
    // Re-sends the cancel while request seq still runs; false once it ended.
    // (A cancel can reach the driver before it has made the request
    // cancellable, so the server repeats it until the request completes.)
    bool cancelAgain(uint32_t seq);

    // CallerProcess, valid while one of this handle's requests runs.
    uint32_t processId() const override { return static_cast<uint32_t>(peer_.pid); }
    int wordSize() const override { return wordSize_; }
    NTSTATUS mapView(int fd, uint64_t fileOffset, size_t length, uint64_t* address) override;
    NTSTATUS unmapView(uint64_t address) override;

  private:
    void cancelFile();
    void cancelOpen();
    bool complete(uint32_t seq, NTSTATUS status, const std::vector<uint8_t>& output);
    // Sends a callback and waits for its reply of the given type.
    bool callClient(const void* frame, size_t length, int passFd,
                    platform::device_wire::FrameType replyType, std::vector<uint8_t>& reply,
                    size_t* replyLength);

    const int sock_;
    const ucred peer_;
    DeviceBackend& backend_;
    const uint64_t id_;
    const uint64_t token_;
    int wordSize_ = 64;
    FileId file_ = 0;

    std::vector<uint8_t> buffer_;  // requests; used by the serving thread only

    std::mutex stateMutex_;
    bool opening_ = false;       // the create is in the driver
    uint32_t busySeq_ = 0;       // the request the driver is working on
    uint32_t cancelledSeq_ = 0;  // the last request the client cancelled
    bool gone_ = false;          // the client's end is closed
    bool broken_ = false;        // the client broke the protocol in a callback
    bool dropped_ = false;       // the server shut the connection
    std::atomic<size_t> views_{0};

    std::mutex fileMutex_;  // cancel against close
    bool fileOpen_ = false;

    std::mutex callbackMutex_;  // one callback at a time on the wire
    std::vector<uint8_t> callbackBuffer_;
    // The window file the client holds (each MapView that names another
    // file passes its descriptor, and the client keeps the newest), by
    // device and inode, so that a descriptor number reused for another file
    // is not mistaken for it.
    bool windowFileSent_ = false;
    dev_t windowFileDevice_ = 0;
    ino_t windowFileInode_ = 0;
};

}  // namespace kalvo::kernel::transport
