#include "kernel/transport/client_connection.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace kalvo::kernel::transport {
namespace {

namespace wire = platform::device_wire;
using namespace platform;

// A client serving a callback answers at once (its requesting thread waits
// for exactly that); one that does not within this time is treated as gone.
constexpr int kCallbackTimeoutMs = 10'000;
// Largest view a client is ever asked for.
constexpr uint64_t kMaxViewLength = uint64_t{1} << 30;

}  // namespace

ClientConnection::ClientConnection(int sock, const ucred& peer, DeviceBackend& backend, uint64_t id,
                                   uint64_t token)
    : sock_(sock), peer_(peer), backend_(backend), id_(id), token_(token) {}

bool ClientConnection::open(const wire::OpenFrame& frame, std::string path) {
    auto reply = wire::makeFrame<wire::OpenReplyFrame>(wire::FrameType::OpenReply);
    NTSTATUS status = STATUS_SUCCESS;
    if (frame.wordSize != 32 && frame.wordSize != 64) {
        status = STATUS_INVALID_PARAMETER;
    } else {
        wordSize_ = static_cast<int>(frame.wordSize);
        OpenRequest request;
        request.path = std::move(path);
        request.desiredAccess = frame.desiredAccess;
        request.shareMode = frame.shareMode;
        request.creationDisposition = frame.creationDisposition;
        request.flagsAndAttributes = frame.flagsAndAttributes;
        bool gone;
        {
            std::lock_guard lock(stateMutex_);
            gone = gone_;
            opening_ = !gone;
        }
        if (gone) {
            status = STATUS_CANCELLED;  // the client hung up before its open began
        } else {
            try {
                status = backend_.open(request, *this, &file_);
            } catch (...) {
                status = STATUS_INSUFFICIENT_RESOURCES;
            }
            std::lock_guard lock(stateMutex_);
            opening_ = false;
        }
        if (NT_SUCCESS(status)) {
            std::lock_guard lock(fileMutex_);
            fileOpen_ = true;
        }
    }
    reply.status = status;
    reply.connectionId = id_;
    reply.token = token_;
    // A client that went meanwhile is seen by serve(), which closes the file.
    wire::sendFrame(sock_, &reply, sizeof reply);
    return NT_SUCCESS(status);
}

void ClientConnection::serve() {
    for (;;) {
        {
            std::lock_guard lock(stateMutex_);
            if (broken_) break;
        }
        size_t length = 0;
        if (wire::receiveFrame(sock_, buffer_, &length) != wire::ReceiveResult::Frame) break;
        wire::RequestFrame request;
        if (!wire::parseFrame(buffer_, length, wire::FrameType::Request, &request) ||
            request.seq == 0 || request.inputLength != length - sizeof request)
            break;  // not a request: the client does not speak the protocol
        std::vector<uint8_t> output;
        if (request.outputLength > wire::kMaxIoLength) {
            if (!complete(request.seq, STATUS_INVALID_PARAMETER, output)) break;
            continue;
        }
        bool reachedDriver;
        {
            std::lock_guard lock(stateMutex_);
            // A request cancelled before it reached the driver never does, nor
            // one that arrives after the client's end closed.
            reachedDriver = cancelledSeq_ != request.seq && !gone_;
            if (reachedDriver) busySeq_ = request.seq;
        }
        NTSTATUS status = STATUS_CANCELLED;
        if (reachedDriver) {
            try {
                IoResult result = backend_.deviceControl(
                    file_, request.code,
                    std::span<const uint8_t>(buffer_.data() + sizeof request, request.inputLength),
                    request.outputLength, *this);
                status = result.status;
                output = std::move(result.output);
            } catch (...) {
                status = STATUS_INSUFFICIENT_RESOURCES;
                output.clear();
            }
            std::lock_guard lock(stateMutex_);
            busySeq_ = 0;
        }
        // The driver never writes past the caller's output buffer.
        if (output.size() > request.outputLength) output.resize(request.outputLength);
        if (!complete(request.seq, status, output)) break;
    }
    // A client that closes its handle half-closes the connection and waits
    // for the host's end; one that died (or ended with the handle open) has
    // closed it whole, which the socket shows as a hang-up.
    bool clientGone;
    {
        std::lock_guard lock(stateMutex_);
        pollfd p{sock_, 0, 0};
        clientGone = !dropped_ && ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }
    std::lock_guard lock(fileMutex_);
    if (fileOpen_) {
        fileOpen_ = false;
        try {
            if (clientGone) backend_.clientGone(file_);
            backend_.close(file_);
        } catch (...) {
        }
    }
}

bool ClientConnection::complete(uint32_t seq, NTSTATUS status, const std::vector<uint8_t>& output) {
    auto done = wire::makeFrame<wire::CompleteFrame>(wire::FrameType::Complete, output.size());
    done.seq = seq;
    done.status = status;
    done.outputLength = static_cast<uint32_t>(output.size());
    return wire::sendFrame(sock_, &done, sizeof done, output.data(), output.size());
}

void ClientConnection::cancelFile() {
    std::lock_guard lock(fileMutex_);
    if (!fileOpen_) return;
    try {
        backend_.cancel(file_);
    } catch (...) {
    }
}

void ClientConnection::cancel(uint32_t seq) {
    bool running;
    {
        std::lock_guard lock(stateMutex_);
        cancelledSeq_ = seq;
        running = busySeq_ == seq && seq != 0;
    }
    if (running) cancelFile();
}

void ClientConnection::hangUp() {
    bool opening;
    {
        std::lock_guard lock(stateMutex_);
        gone_ = true;
        opening = opening_;
        if (busySeq_ == 0 && !opening) return;
    }
    // A create the driver holds (the device is stopped) ends only when
    // cancelled: nobody waits for it any more.
    if (opening) cancelOpen();
    cancelFile();
}

void ClientConnection::dropByServer() {
    std::lock_guard lock(stateMutex_);
    dropped_ = true;
}

bool ClientConnection::cancelAgain(uint32_t seq) {
    bool opening;
    {
        std::lock_guard lock(stateMutex_);
        opening = opening_ && gone_ && seq == 0;
        if (!opening && (busySeq_ == 0 || (seq != 0 && busySeq_ != seq))) return false;
    }
    if (opening) {
        cancelOpen();
        return true;
    }
    cancelFile();
    return true;
}

void ClientConnection::cancelOpen() {
    try {
        backend_.cancelOpen(*this);
    } catch (...) {
    }
}

bool ClientConnection::callClient(const void* frame, size_t length, int passFd,
                                  wire::FrameType replyType, std::vector<uint8_t>& reply,
                                  size_t* replyLength) {
    auto failed = [&] {
        std::lock_guard lock(stateMutex_);
        broken_ = true;
        return false;
    };
    if (!wire::sendFrame(sock_, frame, length, nullptr, 0, passFd)) return failed();
    pollfd p{sock_, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, kCallbackTimeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc <= 0) return failed();
    if (wire::receiveFrame(sock_, reply, replyLength) != wire::ReceiveResult::Frame)
        return failed();
    if (wire::frameType(reply) != replyType) return failed();
    return true;
}

NTSTATUS ClientConnection::mapView(int fd, uint64_t fileOffset, size_t length, uint64_t* address) {
    if (!address) return STATUS_INVALID_PARAMETER;
    *address = 0;
    {
        std::lock_guard lock(stateMutex_);
        // Views are made only for a request that runs; a client never gets
        // to ask for one on its own.
        if (busySeq_ == 0 || gone_ || broken_) return STATUS_UNSUCCESSFUL;
    }
    if (fd < 0) return STATUS_UNSUCCESSFUL;
    long page = ::sysconf(_SC_PAGESIZE);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return STATUS_UNSUCCESSFUL;
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (length == 0 || length > kMaxViewLength || fileOffset % static_cast<uint64_t>(page) != 0 ||
        fileOffset > size || length > size - fileOffset)
        return STATUS_INVALID_PARAMETER;

    std::lock_guard call(callbackMutex_);
    auto ask = wire::makeFrame<wire::MapViewFrame>(wire::FrameType::MapView);
    ask.fileOffset = fileOffset;
    ask.length = length;
    size_t replyLength = 0;
    const bool sameFile =
        windowFileSent_ && windowFileDevice_ == st.st_dev && windowFileInode_ == st.st_ino;
    if (!callClient(&ask, sizeof ask, sameFile ? -1 : fd, wire::FrameType::MapReply,
                    callbackBuffer_, &replyLength))
        return STATUS_UNSUCCESSFUL;
    windowFileSent_ = true;
    windowFileDevice_ = st.st_dev;
    windowFileInode_ = st.st_ino;
    wire::MapReplyFrame reply;
    if (!wire::parseFrame(callbackBuffer_, replyLength, wire::FrameType::MapReply, &reply))
        return STATUS_UNSUCCESSFUL;
    if (NT_SUCCESS(reply.status)) {
        *address = reply.address;
        views_.fetch_add(1, std::memory_order_relaxed);
    }
    return reply.status;
}

NTSTATUS ClientConnection::unmapView(uint64_t address) {
    {
        std::lock_guard lock(stateMutex_);
        if (busySeq_ == 0 || gone_ || broken_) return STATUS_UNSUCCESSFUL;
    }
    std::lock_guard call(callbackMutex_);
    auto ask = wire::makeFrame<wire::UnmapViewFrame>(wire::FrameType::UnmapView);
    ask.address = address;
    size_t replyLength = 0;
    if (!callClient(&ask, sizeof ask, -1, wire::FrameType::UnmapReply, callbackBuffer_,
                    &replyLength))
        return STATUS_UNSUCCESSFUL;
    wire::UnmapReplyFrame reply;
    if (!wire::parseFrame(callbackBuffer_, replyLength, wire::FrameType::UnmapReply, &reply))
        return STATUS_UNSUCCESSFUL;
    if (NT_SUCCESS(reply.status) && views_.load(std::memory_order_relaxed) > 0)
        views_.fetch_sub(1, std::memory_order_relaxed);
    return reply.status;
}

}  // namespace kalvo::kernel::transport
