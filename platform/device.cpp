#include "platform/device.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_loss.h"
#include "platform/device_protocol.h"
#include "platform/device_views.h"
#include "platform/host_folder.h"
#include "platform/ntstatus.h"
#include "platform/win_error.h"

namespace kalvo::platform {
namespace {

namespace wire = device_wire;

// How long CloseHandle waits for a request of another thread to give way and
// for the host to finish cleanup and close, before it drops the connection.
constexpr auto kCloseWait = std::chrono::seconds(5);

std::atomic<int> gDefaultWordSize{static_cast<int>(sizeof(void*) * 8)};

struct Connection {
    int sock = -1;
    int wordSize = 64;
    std::string folder;  // the checked folder of the host that serves the handle
    uint64_t connectionId = 0;
    uint64_t token = 0;

    std::mutex requestMutex;  // one request at a time
    // Guarded by requestMutex:
    uint32_t nextSeq = 0;
    int memoryFd = -1;  // the window file the host passed last
    std::vector<uint8_t> buffer;

    std::atomic<uint32_t> inFlight{0};  // seq of the running request, 0 when idle
    std::atomic<bool> closing{false};

    ~Connection() {
        if (sock >= 0) ::close(sock);
        if (memoryFd >= 0) ::close(memoryFd);
    }
};

// Handles are slot numbers with a generation, so a stale or made-up handle
// value finds nothing instead of another connection.
class HandleTable {
  public:
    HANDLE insert(std::shared_ptr<Connection> c) {
        std::lock_guard lock(mutex_);
        size_t index;
        if (!free_.empty()) {
            index = free_.back();
            free_.pop_back();
        } else {
            if (slots_.size() >= kMaxSlots) return INVALID_HANDLE_VALUE;
            index = slots_.size();
            slots_.emplace_back();
        }
        Slot& s = slots_[index];
        s.generation = (s.generation + 1) & kGenerationMask;
        if (s.generation == 0) s.generation = 1;
        s.connection = std::move(c);
        uintptr_t value = (uintptr_t{s.generation} << kIndexBits) | (index + 1);
        return reinterpret_cast<HANDLE>(value);
    }

    std::shared_ptr<Connection> find(HANDLE h) {
        std::lock_guard lock(mutex_);
        Slot* s = slot(h);
        return s ? s->connection : nullptr;
    }

    std::shared_ptr<Connection> remove(HANDLE h) {
        std::lock_guard lock(mutex_);
        Slot* s = slot(h);
        if (!s) return nullptr;
        auto c = std::move(s->connection);
        s->connection.reset();
        free_.push_back(static_cast<size_t>(s - slots_.data()));
        return c;
    }

  private:
    static constexpr unsigned kIndexBits = 20;
    static constexpr size_t kMaxSlots = (size_t{1} << kIndexBits) - 2;
    static constexpr uint32_t kGenerationMask = 0xFFFFFF;

    struct Slot {
        uint32_t generation = 0;
        std::shared_ptr<Connection> connection;
    };

    Slot* slot(HANDLE h) {
        uintptr_t value = reinterpret_cast<uintptr_t>(h);
        size_t index = (value & ((uintptr_t{1} << kIndexBits) - 1));
        uintptr_t generation = value >> kIndexBits;
        if (index == 0 || index > slots_.size() || generation > kGenerationMask) return nullptr;
        Slot& s = slots_[index - 1];
        if (!s.connection || s.generation != generation) return nullptr;
        return &s;
    }

    std::mutex mutex_;
    std::vector<Slot> slots_;
    std::vector<size_t> free_;
};

HandleTable& handles() {
    static HandleTable* t = new HandleTable;  // handles may be closed during exit
    return *t;
}

bool fail(uint32_t error) {
    setLastError(error);
    return false;
}

// Connects to the host that findHost trusts, keeping what a person must
// read when none is found or a check fails.
int connectToHost(std::string* folder, uint32_t* error) {
    host_folder::Connection c = host_folder::findHost(wire::kSocketName, SOCK_SEQPACKET);
    if (c.outcome == host_folder::Outcome::Connected) {
        *folder = c.folder;
        return c.sock;
    }
    *error = c.error;
    if (c.outcome != host_folder::Outcome::NoHost) host_folder::setLastOpenProblem(c.problem);
    return -1;
}

// Serves one MapView or UnmapView of the host while a request runs.
bool answerCallback(Connection& c, wire::FrameType type, size_t length, int passedFd) {
    if (type == wire::FrameType::MapView) {
        wire::MapViewFrame ask;
        auto reply = wire::makeFrame<wire::MapReplyFrame>(wire::FrameType::MapReply);
        if (!wire::parseFrame(c.buffer, length, type, &ask)) {
            if (passedFd >= 0) ::close(passedFd);
            return false;
        }
        if (passedFd >= 0) {
            if (c.memoryFd >= 0) ::close(c.memoryFd);
            c.memoryFd = passedFd;
        }
        uint64_t address = 0;
        reply.status = c.memoryFd < 0 ? STATUS_INVALID_HANDLE
                                      : device_views::map(c.memoryFd, ask.fileOffset, ask.length,
                                                          c.wordSize, &address);
        reply.address = NT_SUCCESS(reply.status) ? address : 0;
        return wire::sendFrame(c.sock, &reply, sizeof reply);
    }
    if (passedFd >= 0) ::close(passedFd);
    wire::UnmapViewFrame ask;
    if (!wire::parseFrame(c.buffer, length, type, &ask)) return false;
    auto reply = wire::makeFrame<wire::UnmapReplyFrame>(wire::FrameType::UnmapReply);
    reply.status = device_views::unmap(ask.address);
    return wire::sendFrame(c.sock, &reply, sizeof reply);
}

// Sends one request and serves the host until it completes. False (with the
// last error set) when the connection failed; else the completion's status
// and output.
bool runRequest(Connection& c, uint32_t code, const void* input, uint32_t inputLength, void* output,
                uint32_t outputLength, uint32_t* bytesReturned) {
    uint32_t seq = ++c.nextSeq;
    if (seq == 0) seq = ++c.nextSeq;
    c.inFlight.store(seq);
    struct Idle {
        Connection& c;
        ~Idle() { c.inFlight.store(0); }
    } idle{c};

    auto lost = [&] {
        return fail(c.closing.load() ? ERROR_OPERATION_ABORTED : ERROR_GEN_FAILURE);
    };
    auto request = wire::makeFrame<wire::RequestFrame>(wire::FrameType::Request, inputLength);
    request.seq = seq;
    request.code = code;
    request.inputLength = inputLength;
    request.outputLength = outputLength;
    if (!wire::sendFrame(c.sock, &request, sizeof request, input, inputLength)) return lost();

    for (;;) {
        size_t length = 0;
        int passedFd = -1;
        if (wire::receiveFrame(c.sock, c.buffer, &length, &passedFd) != wire::ReceiveResult::Frame)
            return lost();
        wire::FrameType type = wire::frameType(c.buffer);
        if (type == wire::FrameType::MapView || type == wire::FrameType::UnmapView) {
            if (!answerCallback(c, type, length, passedFd)) return lost();
            continue;
        }
        if (passedFd >= 0) ::close(passedFd);
        wire::CompleteFrame done;
        if (!wire::parseFrame(c.buffer, length, wire::FrameType::Complete, &done) ||
            done.outputLength != length - sizeof done || done.outputLength > outputLength)
            return lost();
        if (done.seq != seq) continue;  // the answer to an earlier, abandoned request
        // METHOD_BUFFERED: the output is copied back for success and warnings,
        // not for errors.
        uint32_t copied = 0;
        if (static_cast<uint32_t>(done.status) < 0xC0000000u && done.outputLength > 0) {
            std::memcpy(output, c.buffer.data() + sizeof done, done.outputLength);
            copied = done.outputLength;
        }
        if (bytesReturned) *bytesReturned = copied;
        if (!NT_SUCCESS(done.status)) return fail(win32ErrorFromNtStatus(done.status));
        return true;
    }
}

}  // namespace

bool setDeviceCallerWordSize(int bits) noexcept {
    if (bits != 32 && bits != 64) return false;
    gDefaultWordSize.store(bits);
    return true;
}

int deviceCallerWordSize() noexcept {
    return gDefaultWordSize.load();
}

HANDLE createFile(const char* path, uint32_t desiredAccess, uint32_t shareMode,
                  uint32_t creationDisposition, uint32_t flagsAndAttributes) noexcept {
    return createFile(path, desiredAccess, shareMode, creationDisposition, flagsAndAttributes,
                      gDefaultWordSize.load());
}

HANDLE createFile(const char* path, uint32_t desiredAccess, uint32_t shareMode,
                  uint32_t creationDisposition, uint32_t flagsAndAttributes,
                  int callerWordSize) noexcept {
    try {
        if (!path) return fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
        size_t pathLength = std::strlen(path);
        if (pathLength > wire::kMaxPathLength)
            return fail(ERROR_FILENAME_EXCED_RANGE), INVALID_HANDLE_VALUE;
        if (callerWordSize != 32 && callerWordSize != 64)
            return fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;

        auto c = std::make_shared<Connection>();
        c->wordSize = callerWordSize;
        uint32_t error = 0;
        host_folder::setLastOpenProblem({});
        c->sock = connectToHost(&c->folder, &error);
        if (c->sock < 0) return fail(error), INVALID_HANDLE_VALUE;

        auto open = wire::makeFrame<wire::OpenFrame>(wire::FrameType::Open, pathLength);
        open.desiredAccess = desiredAccess;
        open.shareMode = shareMode;
        open.creationDisposition = creationDisposition;
        open.flagsAndAttributes = flagsAndAttributes;
        open.wordSize = static_cast<uint32_t>(callerWordSize);
        open.pathLength = static_cast<uint32_t>(pathLength);
        // A host that refuses us answers and closes before reading: its
        // answer is still there to read when our send found it gone.
        wire::sendFrame(c->sock, &open, sizeof open, path, pathLength);
        size_t length = 0;
        wire::OpenReplyFrame reply;
        wire::ReceiveResult received = wire::receiveFrame(c->sock, c->buffer, &length);
        // A host that refused us before it read our open reset the
        // connection; the reset is reported first, its answer is still queued.
        if (received == wire::ReceiveResult::Failed && errno == ECONNRESET)
            received = wire::receiveFrame(c->sock, c->buffer, &length);
        if (received != wire::ReceiveResult::Frame ||
            !wire::parseFrame(c->buffer, length, wire::FrameType::OpenReply, &reply))
            return fail(ERROR_GEN_FAILURE), INVALID_HANDLE_VALUE;
        if (!NT_SUCCESS(reply.status)) {
            // A refusal may carry the host's reason in words after the record.
            if (length > sizeof reply)
                host_folder::setLastOpenProblem(
                    std::string(reinterpret_cast<const char*>(c->buffer.data() + sizeof reply),
                                length - sizeof reply));
            return fail(win32ErrorFromNtStatus(reply.status)), INVALID_HANDLE_VALUE;
        }
        c->connectionId = reply.connectionId;
        c->token = reply.token;
        HANDLE h = handles().insert(std::move(c));
        if (h == INVALID_HANDLE_VALUE) fail(ERROR_TOO_MANY_OPEN_FILES);
        return h;
    } catch (...) {
        return fail(ERROR_NOT_ENOUGH_MEMORY), INVALID_HANDLE_VALUE;
    }
}

bool deviceIoControl(HANDLE handle, uint32_t ioControlCode, const void* input, uint32_t inputLength,
                     void* output, uint32_t outputLength, uint32_t* bytesReturned) noexcept {
    try {
        if (bytesReturned) *bytesReturned = 0;
        auto c = handles().find(handle);
        if (!c) return fail(ERROR_INVALID_HANDLE);
        if (inputLength > wire::kMaxIoLength || outputLength > wire::kMaxIoLength ||
            (inputLength > 0 && !input) || (outputLength > 0 && !output))
            return fail(ERROR_INVALID_PARAMETER);
        std::lock_guard lock(c->requestMutex);
        if (c->closing.load()) return fail(ERROR_INVALID_HANDLE);
        return runRequest(*c, ioControlCode, input, inputLength, output, outputLength,
                          bytesReturned);
    } catch (...) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

bool cancelIo(HANDLE handle) noexcept {
    try {
        auto c = handles().find(handle);
        if (!c) return fail(ERROR_INVALID_HANDLE);
        uint32_t seq = c->inFlight.load();
        if (seq == 0) return true;

        // The cancel goes to the host that serves the handle, checked again.
        host_folder::Connection host =
            host_folder::connectChecked(c->folder, wire::kSocketName, SOCK_SEQPACKET);
        if (host.outcome != host_folder::Outcome::Connected) return fail(ERROR_GEN_FAILURE);
        const int sock = host.sock;
        struct Closer {
            int fd;
            ~Closer() { ::close(fd); }
        } closer{sock};
        auto cancel = wire::makeFrame<wire::CancelFrame>(wire::FrameType::Cancel);
        cancel.connectionId = c->connectionId;
        cancel.token = c->token;
        cancel.seq = seq;
        if (!wire::sendFrame(sock, &cancel, sizeof cancel)) return fail(ERROR_GEN_FAILURE);
        std::vector<uint8_t> buffer;
        size_t length = 0;
        wire::CancelAckFrame ack;
        if (wire::receiveFrame(sock, buffer, &length) != wire::ReceiveResult::Frame ||
            !wire::parseFrame(buffer, length, wire::FrameType::CancelAck, &ack))
            return fail(ERROR_GEN_FAILURE);
        if (!NT_SUCCESS(ack.status)) return fail(win32ErrorFromNtStatus(ack.status));
        return true;
    } catch (...) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

bool watchDeviceLoss(HANDLE handle, DeviceLossHandler handler, void* context) noexcept {
    std::shared_ptr<Connection> c;
    try {
        c = handles().find(handle);
    } catch (...) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (!c || !handler ||
        !device_loss::watch(handle, c->sock, c->folder + "/" + wire::kSocketName, handler, context))
        return fail(ERROR_INVALID_HANDLE);
    return true;
}

bool closeHandle(HANDLE handle) noexcept {
    std::shared_ptr<Connection> c;
    try {
        c = handles().remove(handle);
    } catch (...) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (!c) return fail(ERROR_INVALID_HANDLE);
    device_loss::forget(handle);
    c->closing.store(true);
    // Half-close: the host sees the end of the handle, cancels a request that
    // another thread may still have running on it, runs cleanup and close,
    // and then closes its end. Waiting for that makes the close synchronous,
    // as on Windows (a following exclusive open must not find us still open).
    ::shutdown(c->sock, SHUT_WR);
    auto deadline = std::chrono::steady_clock::now() + kCloseWait;
    std::unique_lock lock(c->requestMutex, std::defer_lock);
    while (!lock.try_lock() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (lock.owns_lock()) {
        std::vector<uint8_t>& buffer = c->buffer;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{c->sock, POLLIN, 0};
            int rc = ::poll(&p, 1, static_cast<int>(left.count()));
            if (rc < 0 && errno == EINTR) continue;
            if (rc <= 0) break;
            size_t length = 0;
            if (wire::receiveFrame(c->sock, buffer, &length) != wire::ReceiveResult::Frame) break;
        }
    }
    ::shutdown(c->sock, SHUT_RDWR);
    return true;
}

}  // namespace kalvo::platform
