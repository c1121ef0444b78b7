// The wire between a device client (CreateFile / DeviceIoControl / CancelIo /
// CloseHandle in an application process) and the device host.
//
// Each open handle is one SOCK_SEQPACKET connection to "<dir>/devices.sock",
// so every message is one record and the kernel keeps the boundaries. A record
// starts with a FrameHeader; the rest is the fixed part of its type, then,
// for the types that carry bytes, the variable part (path, input, output).
// Both ends run on the same machine, so fields are in native byte order.
//
// A connection carries, in order:
//   client: Open                      host: OpenReply
//   client: Request (seq n)           host: MapView / UnmapView (zero or more,
//   client: MapReply / UnmapReply           each answered before the next)
//                                     host: Complete (seq n)
// CancelIo comes on a connection of its own (Cancel, CancelAck), because the
// handle's connection is busy with the request that is to be cancelled.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/export.h"

namespace kalvo::platform::device_wire {

inline constexpr const char* kSocketName = "devices.sock";

// Requests move only small records; both ends refuse anything larger.
inline constexpr uint32_t kMaxIoLength = 64 * 1024;
inline constexpr uint32_t kMaxPathLength = 1024;
inline constexpr size_t kMaxFrame = 64 * 1024 + 256;

enum class FrameType : uint32_t {
    Open = 1,
    Request = 2,
    MapReply = 3,
    UnmapReply = 4,
    Cancel = 5,
    OpenReply = 101,
    Complete = 102,
    MapView = 103,
    UnmapView = 104,
    CancelAck = 105,
};

struct FrameHeader {
    uint32_t type;
    uint32_t length;  // bytes of the whole record, header included
};

struct OpenFrame {
    FrameHeader header;
    uint32_t desiredAccess;
    uint32_t shareMode;
    uint32_t creationDisposition;
    uint32_t flagsAndAttributes;
    uint32_t wordSize;    // 32 or 64: the caller's build
    uint32_t pathLength;  // bytes of the path that follow, no NUL
};

struct OpenReplyFrame {
    FrameHeader header;
    int32_t status;  // NTSTATUS
    uint32_t reserved;
    uint64_t connectionId;  // names this handle in a Cancel
    uint64_t token;         // proves the Cancel comes from the handle's owner
};

struct RequestFrame {
    FrameHeader header;
    uint32_t seq;  // never 0
    uint32_t code;
    uint32_t inputLength;  // bytes that follow
    uint32_t outputLength;
};

struct CompleteFrame {
    FrameHeader header;
    uint32_t seq;
    int32_t status;         // NTSTATUS
    uint32_t outputLength;  // bytes that follow (IoStatus.Information)
    uint32_t reserved;
};

// The host asks the client to map length bytes of a board window's file at
// fileOffset. A MapView carries the file's descriptor (SCM_RIGHTS) when the
// file differs from the one the connection last passed (the first view, or
// a view of another window); one without a descriptor reuses the last.
struct MapViewFrame {
    FrameHeader header;
    uint64_t fileOffset;
    uint64_t length;
};

struct MapReplyFrame {
    FrameHeader header;
    int32_t status;
    uint32_t reserved;
    uint64_t address;
};

struct UnmapViewFrame {
    FrameHeader header;
    uint64_t address;
};

struct UnmapReplyFrame {
    FrameHeader header;
    int32_t status;
    uint32_t reserved;
};

struct CancelFrame {
    FrameHeader header;
    uint64_t connectionId;
    uint64_t token;
    uint32_t seq;  // the request to cancel
    uint32_t reserved;
};

struct CancelAckFrame {
    FrameHeader header;
    int32_t status;
    uint32_t reserved;
};

template <typename Frame>
Frame makeFrame(FrameType type, size_t trailing = 0) {
    Frame f{};
    f.header.type = static_cast<uint32_t>(type);
    f.header.length = static_cast<uint32_t>(sizeof(Frame) + trailing);
    return f;
}

// Sends one record: the fixed part, then trailing bytes, with at most one
// descriptor. Never raises SIGPIPE. True when the whole record went out.
inline bool sendFrame(int sock, const void* fixed, size_t fixedLength,
                      const void* trailing = nullptr, size_t trailingLength = 0, int passFd = -1) {
    iovec iov[2];
    iov[0].iov_base = const_cast<void*>(fixed);
    iov[0].iov_len = fixedLength;
    iov[1].iov_base = const_cast<void*>(trailing);
    iov[1].iov_len = trailingLength;
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = trailingLength > 0 ? 2 : 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (passFd >= 0) {
        std::memset(control, 0, sizeof control);
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* cm = CMSG_FIRSTHDR(&msg);
        cm->cmsg_level = SOL_SOCKET;
        cm->cmsg_type = SCM_RIGHTS;
        cm->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(cm), &passFd, sizeof(int));
    }
    for (;;) {
        ssize_t n = ::sendmsg(sock, &msg, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<size_t>(n) == fixedLength + trailingLength;
        if (errno != EINTR) return false;
    }
}

enum class ReceiveResult { Frame, Closed, Failed, Malformed };

// Receives one record into buffer (kMaxFrame bytes). A record that is
// larger, shorter than a header, or whose header disagrees with its size is
// Malformed. A passed descriptor lands in *fd when fd is given, and is
// closed otherwise; extra descriptors are always closed.
inline ReceiveResult receiveFrame(int sock, std::vector<uint8_t>& buffer, size_t* length,
                                  int* fd = nullptr) {
    if (fd) *fd = -1;
    buffer.resize(kMaxFrame);
    iovec iov{buffer.data(), buffer.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(sock, &msg, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return ReceiveResult::Failed;
    for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm)) {
        if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_RIGHTS) continue;
        size_t count = (cm->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(cm) + i * sizeof(int), sizeof(int));
            if (fd && *fd < 0)
                *fd = received;
            else
                ::close(received);
        }
    }
    auto malformed = [&] {
        if (fd && *fd >= 0) ::close(*fd);
        if (fd) *fd = -1;
        return ReceiveResult::Malformed;
    };
    if (n == 0) {
        if (fd && *fd >= 0) ::close(*fd);
        if (fd) *fd = -1;
        return ReceiveResult::Closed;
    }
    if (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) return malformed();
    if (static_cast<size_t>(n) < sizeof(FrameHeader)) return malformed();
    FrameHeader header;
    std::memcpy(&header, buffer.data(), sizeof header);
    if (header.length != static_cast<size_t>(n)) return malformed();
    *length = static_cast<size_t>(n);
    return ReceiveResult::Frame;
}

// Reads the fixed part of a record of the expected type; false when the type
// differs or the record is too short for it.
template <typename Frame>
bool parseFrame(const std::vector<uint8_t>& buffer, size_t length, FrameType type, Frame* out) {
    if (length < sizeof(Frame)) return false;
    std::memcpy(out, buffer.data(), sizeof(Frame));
    return out->header.type == static_cast<uint32_t>(type);
}

inline FrameType frameType(const std::vector<uint8_t>& buffer) {
    FrameHeader header;
    std::memcpy(&header, buffer.data(), sizeof header);
    return static_cast<FrameType>(header.type);
}

// The one folder a tool that talks to "the host of this machine" uses
// (kalvo-devctl, kalvo doctor), chosen as the libraries would find the host:
// KALVO_DEVICE_DIR when set; /run/kalvo for root; for anyone else /run/kalvo
// when its socket is there and open to the caller (the host run as a system
// service, reached by the members of its group), else /tmp/kalvo-<uid>, where
// a host of one's own runs.
KALVO_PLATFORM_API std::string clientSocketDirectory();

// The same choice with its inputs given: the KALVO_DEVICE_DIR value (null
// when unset), the caller's user id, and whether the caller may connect to a
// socket path.
KALVO_PLATFORM_API std::string clientSocketDirectory(
    const char* overridden, uid_t uid, const std::function<bool(const std::string&)>& reachable);

}  // namespace kalvo::platform::device_wire
