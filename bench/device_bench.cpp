// One DeviceIoControl round trip of a status-style request (no input, 12
// bytes out) through the device transport, against a bare request/answer
// ping-pong of the same record sizes on the same kind of socket. Both have a
// serving thread in this process; the difference is what the transport adds:
// handle lookup, framing, the kernel call and the completion.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "bench/ratio_reporter.h"
#include "kernel/device_backend.h"
#include "kernel/transport/device_server.h"
#include "platform/device.h"
#include "platform/device_protocol.h"

namespace {

using namespace kalvo::platform;
namespace wire = kalvo::platform::device_wire;

constexpr uint32_t kStatusCode = 0x99022014;
constexpr uint32_t kStatusLength = 12;

// A device that answers the status request with a fixed block.
class StatusDevice : public kalvo::kernel::DeviceBackend {
  public:
    NTSTATUS open(const kalvo::kernel::OpenRequest&, kalvo::kernel::CallerProcess&,
                  kalvo::kernel::FileId* file) override {
        *file = 1;
        return STATUS_SUCCESS;
    }
    kalvo::kernel::IoResult deviceControl(kalvo::kernel::FileId, uint32_t code,
                                          std::span<const uint8_t>, uint32_t outputLength,
                                          kalvo::kernel::CallerProcess&) override {
        if (code != kStatusCode || outputLength != kStatusLength)
            return {STATUS_INVALID_PARAMETER, {}};
        int32_t block[3] = {1004, 7, 3};
        kalvo::kernel::IoResult r;
        r.output.resize(sizeof block);
        std::memcpy(r.output.data(), block, sizeof block);
        return r;
    }
    void cancel(kalvo::kernel::FileId) override {}
    void close(kalvo::kernel::FileId) override {}
};

class PrivateDeviceFolder {
  public:
    PrivateDeviceFolder() {
        char pattern[] = "/tmp/kalvo-bench-XXXXXX";
        if (mkdtemp(pattern)) dir_ = pattern;
        setenv("KALVO_DEVICE_DIR", dir_.c_str(), 1);
    }
    ~PrivateDeviceFolder() {
        unsetenv("KALVO_DEVICE_DIR");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::string& path() const { return dir_; }

  private:
    std::string dir_;
};

void DeviceIoControlStatus(benchmark::State& state) {
    PrivateDeviceFolder folder;
    StatusDevice device;
    kalvo::kernel::transport::DeviceServer server(device);
    if (!server.start(folder.path())) {
        state.SkipWithError("cannot start the device server");
        return;
    }
    HANDLE h = createFile("\\\\.\\tolva0", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    if (h == INVALID_HANDLE_VALUE) {
        state.SkipWithError("cannot open the device");
        return;
    }
    int32_t block[3];
    uint32_t got = 0;
    for (auto _ : state) {
        if (!deviceIoControl(h, kStatusCode, nullptr, 0, block, sizeof block, &got)) {
            state.SkipWithError("request failed");
            break;
        }
        benchmark::DoNotOptimize(block);
    }
    closeHandle(h);
    server.stop();
}
BENCHMARK(DeviceIoControlStatus);

// The same records on a bare SOCK_SEQPACKET pair: a request of the request
// frame's size out, an answer of the completion's size back.
void SeqpacketPingPong(benchmark::State& state) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    constexpr size_t kAsk = sizeof(wire::RequestFrame);
    constexpr size_t kAnswer = sizeof(wire::CompleteFrame) + kStatusLength;
    std::thread server([fd = pair[1]] {
        char buffer[wire::kMaxFrame];
        char answer[kAnswer] = {};
        while (recv(fd, buffer, sizeof buffer, 0) > 0)
            if (send(fd, answer, sizeof answer, MSG_NOSIGNAL) < 0) break;
    });
    char ask[kAsk] = {};
    char buffer[wire::kMaxFrame];
    for (auto _ : state) {
        if (send(pair[0], ask, sizeof ask, MSG_NOSIGNAL) < 0 ||
            recv(pair[0], buffer, sizeof buffer, 0) <= 0) {
            state.SkipWithError("ping-pong failed");
            break;
        }
        benchmark::DoNotOptimize(buffer);
    }
    shutdown(pair[0], SHUT_RDWR);
    server.join();
    close(pair[0]);
    close(pair[1]);
}
BENCHMARK(SeqpacketPingPong);

KALVO_RATIO("DeviceIoControlStatus", "SeqpacketPingPong", 1.5);

}  // namespace
