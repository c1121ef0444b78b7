// The device server's side of the wire: any records a client process sends.
// The server runs in-process in a private folder with a device that answers
// every request with its input; each input is a list of records sent on one
// connection, then the client hangs up. The server must answer or drop the
// connection, never crash, and take its next client as before.
//
// Input: records of [flags][length low][length high][bytes]. flags bit 0
// fixes the record's header length to its size (so it gets past the size
// check); bit 1 puts a well-formed Open of "\\.\tolva0" before it; bit 2
// makes it a Cancel on a connection of its own.
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kernel/device_backend.h"
#include "kernel/transport/device_server.h"
#include "platform/device_protocol.h"

namespace {

namespace wire = kalvo::platform::device_wire;

// Answers every request with its input, cut or padded to the output length.
class EchoDevice : public kalvo::kernel::DeviceBackend {
  public:
    kalvo::platform::NTSTATUS open(const kalvo::kernel::OpenRequest&, kalvo::kernel::CallerProcess&,
                                   kalvo::kernel::FileId* file) override {
        *file = 1;
        return kalvo::platform::STATUS_SUCCESS;
    }
    kalvo::kernel::IoResult deviceControl(kalvo::kernel::FileId, uint32_t,
                                          std::span<const uint8_t> input, uint32_t outputLength,
                                          kalvo::kernel::CallerProcess&) override {
        kalvo::kernel::IoResult r;
        r.output.assign(input.begin(), input.end());
        r.output.resize(outputLength);
        return r;
    }
    void cancel(kalvo::kernel::FileId) override {}
    void close(kalvo::kernel::FileId) override {}
};

std::string gDir;
EchoDevice* gDevice = nullptr;
kalvo::kernel::transport::DeviceServer* gServer = nullptr;

void stopServer() {
    if (gServer) gServer->stop();
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
}

int connectToServer() {
    int s = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", gServer->socketPath().c_str());
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "device frames fuzz: the server takes no client\n");
        std::abort();
    }
    return s;
}

// Reads what the server sends until it hangs up; a server that neither
// answers nor hangs up within 10 s is a fault.
void drain(int s) {
    std::vector<uint8_t> buffer(wire::kMaxFrame);
    for (;;) {
        pollfd p{s, POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1) {
            std::fprintf(stderr, "device frames fuzz: the server neither answers nor hangs up\n");
            std::abort();
        }
        ssize_t n = ::recv(s, buffer.data(), buffer.size(), 0);
        if (n <= 0) return;
    }
}

std::vector<uint8_t> openFrame() {
    const std::string path = "\\\\.\\tolva0";
    auto f = wire::makeFrame<wire::OpenFrame>(wire::FrameType::Open, path.size());
    f.desiredAccess = 0xC0000000u;
    f.shareMode = 3;
    f.creationDisposition = 3;
    f.wordSize = 64;
    f.pathLength = static_cast<uint32_t>(path.size());
    std::vector<uint8_t> bytes(sizeof f + path.size());
    std::memcpy(bytes.data(), &f, sizeof f);
    std::memcpy(bytes.data() + sizeof f, path.data(), path.size());
    return bytes;
}

void sendRecord(int s, std::vector<uint8_t> record) {
    ::send(s, record.data(), record.size(), MSG_NOSIGNAL);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/kalvo-frames-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    gDir = dir;
    ::setenv("KALVO_DEVICE_DIR", gDir.c_str(), 1);
    gDevice = new EchoDevice;
    gServer = new kalvo::kernel::transport::DeviceServer(*gDevice);
    if (!gServer->start(gDir)) {
        std::fprintf(stderr, "device frames fuzz: cannot start the server in %s\n", gDir.c_str());
        std::abort();
    }
    std::atexit(stopServer);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!gServer) LLVMFuzzerInitialize(nullptr, nullptr);
    int s = connectToServer();
    size_t pos = 0;
    while (pos + 3 <= size) {
        uint8_t flags = data[pos];
        size_t length = data[pos + 1] | size_t(data[pos + 2]) << 8;
        pos += 3;
        length = std::min(length, size - pos);
        std::vector<uint8_t> record(data + pos, data + pos + length);
        pos += length;
        if ((flags & 1) && record.size() >= sizeof(wire::FrameHeader)) {
            uint32_t total = static_cast<uint32_t>(record.size());
            std::memcpy(record.data() + offsetof(wire::FrameHeader, length), &total, sizeof total);
        }
        if (flags & 4) {
            // A Cancel comes on a connection of its own.
            int c = connectToServer();
            sendRecord(c, record);
            ::shutdown(c, SHUT_WR);
            drain(c);
            ::close(c);
            continue;
        }
        if (flags & 2) sendRecord(s, openFrame());
        sendRecord(s, record);
    }
    ::shutdown(s, SHUT_WR);
    drain(s);
    ::close(s);
    return 0;
}
