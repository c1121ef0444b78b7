// Device handles end to end: the test process and spawned children are the
// clients, a spawned child is the device host, serving a scripted backend
// through the real transport.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernel/transport/device_server.h"
#include "platform/device.h"
#include "platform/device_protocol.h"
#include "platform/win_error.h"
#include "tests/support/child_process.h"
#include "tests/support/device_test_host.h"

namespace {

using namespace kalvo::platform;
using kalvo::kernel::CallerProcess;
using kalvo::kernel::FileId;
using kalvo::kernel::IoResult;
using kalvo::kernel::OpenRequest;
using kalvo::testing::appendLine;
using kalvo::testing::ChildProcess;
using kalvo::testing::DeviceTestEnvironment;
using kalvo::testing::spawnChild;
using kalvo::testing::waitForLine;
namespace wire = kalvo::platform::device_wire;

// Request codes of the scripted backend.
constexpr uint32_t kEcho = 0x1;  // output: the input, cut to the output length
constexpr uint32_t kNotImplemented = 0x2;
constexpr uint32_t kInvalidParameter = 0x3;
constexpr uint32_t kHold = 0x4;      // held until cancelled
constexpr uint32_t kMap = 0x5;       // in: MapAsk; out: the address
constexpr uint32_t kUnmap = 0x6;     // in: the address
constexpr uint32_t kOverlong = 0x7;  // answers 64 bytes whatever was asked
constexpr uint32_t kWhoAmI = 0x8;    // out: Identity

struct MapAsk {
    uint64_t offset;
    uint64_t length;
    uint8_t fill;        // the host writes this into the mapped range first
    uint8_t window = 0;  // 0 or 1: which of two window files
};
struct Identity {
    uint32_t pid;
    int32_t wordSize;
    uint64_t file;
};

constexpr size_t kPhysicalSize = 1 << 20;

// Every file it opens, closes and holds is logged as a line, so tests in
// the client processes see what the kernel side saw.
class ScriptedBackend : public kalvo::kernel::DeviceBackend {
  public:
    explicit ScriptedBackend(std::string log) : log_(std::move(log)) {
        for (int& fd : memory_) {
            fd = memfd_create("window", MFD_CLOEXEC);
            if (fd >= 0 && ftruncate(fd, kPhysicalSize) != 0) fd = -1;
        }
    }
    ~ScriptedBackend() override {
        for (int fd : memory_)
            if (fd >= 0) close(fd);
    }

    NTSTATUS open(const OpenRequest& request, CallerProcess& caller, FileId* file) override {
        std::string name = request.path;
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        if (name != "\\\\.\\fake0") return STATUS_OBJECT_NAME_NOT_FOUND;
        std::lock_guard lock(mutex_);
        *file = nextFile_++;
        appendLine(log_,
                   "open " + std::to_string(*file) + " " + std::to_string(caller.processId()));
        return STATUS_SUCCESS;
    }

    IoResult deviceControl(FileId file, uint32_t code, std::span<const uint8_t> input,
                           uint32_t outputLength, CallerProcess& caller) override {
        IoResult r;
        switch (code) {
            case kEcho:
                r.output.assign(input.begin(),
                                input.begin() + std::min<size_t>(input.size(), outputLength));
                break;
            case kNotImplemented:
                r.status = STATUS_NOT_IMPLEMENTED;
                break;
            case kInvalidParameter:
                r.status = STATUS_INVALID_PARAMETER;
                break;
            case kHold: {
                std::unique_lock lock(mutex_);
                cancelled_.erase(file);
                appendLine(log_, "hold " + std::to_string(file));
                changed_.wait(lock, [&] { return cancelled_.count(file) != 0; });
                r.status = STATUS_CANCELLED;
                break;
            }
            case kMap: {
                MapAsk ask{};
                if (input.size() != sizeof ask) return {STATUS_INVALID_PARAMETER, {}};
                std::memcpy(&ask, input.data(), sizeof ask);
                if (ask.window > 1) return {STATUS_INVALID_PARAMETER, {}};
                const int memory = memory_[ask.window];
                if (ask.offset < kPhysicalSize && ask.length <= kPhysicalSize - ask.offset) {
                    std::vector<uint8_t> bytes(ask.length, ask.fill);
                    if (pwrite(memory, bytes.data(), bytes.size(), ask.offset) < 0)
                        return {STATUS_UNSUCCESSFUL, {}};
                }
                uint64_t address = 0;
                r.status = caller.mapView(memory, ask.offset, ask.length, &address);
                r.output.resize(sizeof address);
                std::memcpy(r.output.data(), &address, sizeof address);
                break;
            }
            case kUnmap: {
                uint64_t address = 0;
                if (input.size() != sizeof address) return {STATUS_INVALID_PARAMETER, {}};
                std::memcpy(&address, input.data(), sizeof address);
                r.status = caller.unmapView(address);
                break;
            }
            case kOverlong:
                r.output.assign(64, 0xEE);
                break;
            case kWhoAmI: {
                Identity id{caller.processId(), caller.wordSize(), file};
                r.output.resize(sizeof id);
                std::memcpy(r.output.data(), &id, sizeof id);
                break;
            }
            default:
                r.status = STATUS_INVALID_DEVICE_REQUEST;
        }
        return r;
    }

    void cancel(FileId file) override {
        std::lock_guard lock(mutex_);
        cancelled_.insert({file, true});
        changed_.notify_all();
    }

    void close(FileId file) override {
        cancel(file);
        appendLine(log_, "close " + std::to_string(file));
    }

  private:
    std::string log_;
    int memory_[2] = {-1, -1};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<FileId, bool> cancelled_;
    FileId nextFile_ = 1;
};

KALVO_CHILD(scripted_host) {
    ScriptedBackend backend(args.at(1));
    return kalvo::testing::runDeviceHost(backend, args.at(0), args.at(1));
}

// A client in another process: opens two handles, holds a request on the
// first, and waits there until it is killed.
KALVO_CHILD(holding_client) {
    HANDLE a = createFile("\\\\.\\fake0", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    HANDLE b = createFile("\\\\.\\fake0", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    if (a == INVALID_HANDLE_VALUE || b == INVALID_HANDLE_VALUE) return 3;
    uint32_t got = 0;
    deviceIoControl(a, kHold, nullptr, 0, nullptr, 0, &got);
    return 4;  // never reached: the test kills us while the request is held
}

// A client that opens a handle and leaves without closing it.
KALVO_CHILD(leaving_client) {
    HANDLE h = createFile("\\\\.\\fake0", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    return h == INVALID_HANDLE_VALUE ? 3 : 0;
}

// Runs as another user, so the host must refuse it by its credentials.
KALVO_CHILD(stranger_client) {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 5;
    HANDLE h = createFile("\\\\.\\fake0", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    if (h != INVALID_HANDLE_VALUE) return 6;
    if (lastError() != ERROR_ACCESS_DENIED) fprintf(stderr, "stranger: error %u\n", lastError());
    return lastError() == ERROR_ACCESS_DENIED ? 0 : 7;
}

class DeviceTransport : public ::testing::Test {
  protected:
    void SetUp() override {
        host_ = spawnChild("scripted_host", {env_.deviceDir(), env_.logPath()});
        ASSERT_TRUE(waitForLine(env_.logPath(), "ready"));
    }

    HANDLE open(int wordSize = 64) {
        return createFile("\\\\.\\fake0", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0, wordSize);
    }

    Identity whoAmI(HANDLE h) {
        Identity id{};
        uint32_t got = 0;
        EXPECT_TRUE(deviceIoControl(h, kWhoAmI, nullptr, 0, &id, sizeof id, &got));
        return id;
    }

    bool echoWorks(HANDLE h) {
        const char text[] = "status-block";
        char back[12] = {};
        uint32_t got = 0;
        return deviceIoControl(h, kEcho, text, 12, back, 12, &got) && got == 12 &&
               std::memcmp(text, back, 12) == 0;
    }

    uint64_t map(HANDLE h, uint64_t offset, uint64_t length, uint8_t fill) {
        MapAsk ask{offset, length, fill};
        uint64_t address = 0;
        uint32_t got = 0;
        if (!deviceIoControl(h, kMap, &ask, sizeof ask, &address, sizeof address, &got)) return 0;
        return address;
    }

    bool unmap(HANDLE h, uint64_t address) {
        uint32_t got = 0;
        return deviceIoControl(h, kUnmap, &address, sizeof address, nullptr, 0, &got);
    }

    std::string log(const std::string& what, uint64_t file) {
        return what + " " + std::to_string(file);
    }

    DeviceTestEnvironment env_;
    ChildProcess host_;
};

TEST_F(DeviceTransport, OpenCloseAndNames) {
    HANDLE h = open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Identity id = whoAmI(h);
    EXPECT_EQ(id.pid, static_cast<uint32_t>(getpid()));
    EXPECT_EQ(id.wordSize, 64);
    EXPECT_TRUE(waitForLine(env_.logPath(), log("open", id.file) + " " + std::to_string(getpid())));

    // Close is synchronous: the kernel has closed the file when it returns.
    EXPECT_TRUE(closeHandle(h));
    EXPECT_TRUE(kalvo::testing::fileHasLine(env_.logPath(), log("close", id.file)));
    EXPECT_FALSE(closeHandle(h));
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    uint32_t got = 7;
    EXPECT_FALSE(deviceIoControl(h, kEcho, nullptr, 0, nullptr, 0, &got));
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(got, 0u);

    // Link names compare without regard to case; unknown links are not found.
    HANDLE upper = createFile("\\\\.\\FAKE0", GENERIC_READ, 0, OPEN_EXISTING, 0);
    EXPECT_NE(upper, INVALID_HANDLE_VALUE);
    closeHandle(upper);
    EXPECT_EQ(createFile("\\\\.\\fake1", GENERIC_READ, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(lastError(), ERROR_FILE_NOT_FOUND);

    // Made-up handle values find nothing.
    for (uintptr_t v : {uintptr_t{0}, uintptr_t{1}, uintptr_t{0x12345}, ~uintptr_t{0} - 1}) {
        EXPECT_FALSE(closeHandle(reinterpret_cast<HANDLE>(v)));
        EXPECT_FALSE(cancelIo(reinterpret_cast<HANDLE>(v)));
    }
    EXPECT_FALSE(closeHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(createFile(nullptr, 0, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(createFile("\\\\.\\fake0", 0, 0, OPEN_EXISTING, 0, 16), INVALID_HANDLE_VALUE);
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(DeviceTransport, SocketFolderIsPrivateAndHasOneHost) {
    struct stat st {};
    ASSERT_EQ(stat(env_.deviceDir().c_str(), &st), 0);
    // A private host's folder is its user's alone.
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    ScriptedBackend backend(env_.logPath());
    kalvo::kernel::transport::DeviceServer second(backend);
    EXPECT_FALSE(second.start(env_.deviceDir()));
    EXPECT_EQ(errno, EADDRINUSE);
    HANDLE h = open();
    EXPECT_NE(h, INVALID_HANDLE_VALUE);  // the first host still serves
    closeHandle(h);

    // A host that died leaves its socket file behind; the next one takes over.
    host_.kill(SIGKILL);
    EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(lastError(), ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(second.start(env_.deviceDir()));
    h = open();
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    closeHandle(h);
    second.stop();
}

TEST(DeviceTransportNoHost, NoHostIsFileNotFound) {
    DeviceTestEnvironment env;
    HANDLE h = createFile("\\\\.\\fake0", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(lastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(DeviceTransport, StatusesAndOutputBytes) {
    HANDLE h = open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(echoWorks(h));

    uint8_t out[16];
    uint32_t got = 99;
    EXPECT_FALSE(deviceIoControl(h, kNotImplemented, nullptr, 0, out, sizeof out, &got));
    EXPECT_EQ(lastError(), 1u);  // ERROR_INVALID_FUNCTION
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(deviceIoControl(h, kInvalidParameter, nullptr, 0, nullptr, 0, &got));
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(deviceIoControl(h, 0x99022030, nullptr, 0, nullptr, 0, &got));
    EXPECT_EQ(lastError(), 1u);

    // Output never goes past the caller's length, whatever the driver says.
    uint8_t small[8];
    uint8_t guard[8];
    std::memset(guard, 0x11, sizeof guard);
    EXPECT_TRUE(deviceIoControl(h, kOverlong, nullptr, 0, small, sizeof small, &got));
    EXPECT_EQ(got, sizeof small);
    EXPECT_EQ(guard[0], 0x11);

    // Lengths beyond the transport's bounds never reach the host.
    std::vector<uint8_t> big(wire::kMaxIoLength + 1);
    EXPECT_FALSE(deviceIoControl(h, kEcho, big.data(), big.size(), nullptr, 0, &got));
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(deviceIoControl(h, kEcho, nullptr, 4, nullptr, 0, &got));
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
    // The largest allowed request goes through whole.
    big.resize(wire::kMaxIoLength);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> back(big.size());
    EXPECT_TRUE(deviceIoControl(h, kEcho, big.data(), big.size(), back.data(), back.size(), &got));
    EXPECT_EQ(got, big.size());
    EXPECT_EQ(back, big);
    EXPECT_TRUE(closeHandle(h));
}

TEST_F(DeviceTransport, ThreadsShareAHandleOneRequestAtATime) {
    HANDLE shared = open();
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            HANDLE own = open();
            for (int i = 0; i < 200; ++i) {
                uint32_t value = static_cast<uint32_t>(t * 1000 + i), back = 0, got = 0;
                HANDLE h = (i % 2) ? shared : own;
                if (!deviceIoControl(h, kEcho, &value, 4, &back, 4, &got) || back != value)
                    ++failures;
            }
            closeHandle(own);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    closeHandle(shared);
}

TEST_F(DeviceTransport, HeldRequestIsCancelledFromAnotherThread) {
    HANDLE h = open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint64_t file = whoAmI(h).file;
    EXPECT_TRUE(cancelIo(h));  // nothing running: nothing to do

    std::atomic<uint32_t> error{0};
    std::atomic<bool> result{true};
    std::thread requester([&] {
        uint32_t got = 0;
        result = deviceIoControl(h, kHold, nullptr, 0, nullptr, 0, &got);
        error = lastError();
    });
    ASSERT_TRUE(waitForLine(env_.logPath(), log("hold", file)));
    EXPECT_TRUE(cancelIo(h));
    requester.join();
    EXPECT_FALSE(result.load());
    EXPECT_EQ(error.load(), ERROR_OPERATION_ABORTED);
    EXPECT_TRUE(echoWorks(h));  // the handle goes on serving

    // Closing the handle while another thread's request is held fails that
    // request and still closes the file.
    std::thread second([&] {
        uint32_t got = 0;
        result = deviceIoControl(h, kHold, nullptr, 0, nullptr, 0, &got);
    });
    ASSERT_TRUE(waitForLine(env_.logPath(), log("hold", file)));
    EXPECT_TRUE(closeHandle(h));
    second.join();
    EXPECT_FALSE(result.load());
    EXPECT_TRUE(waitForLine(env_.logPath(), log("close", file)));
}

TEST_F(DeviceTransport, ViewsMappedForTheCaller) {
    HANDLE h = open();
    HANDLE other = open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);

    uint64_t address = map(h, 0x10000, 4096, 0x5A);
    ASSERT_NE(address, 0u);
    auto* bytes = reinterpret_cast<volatile uint8_t*>(address);
    EXPECT_EQ(bytes[0], 0x5A);
    EXPECT_EQ(bytes[4095], 0x5A);
    bytes[1] = 0x33;  // read-write
    EXPECT_EQ(bytes[1], 0x33);

    // A view belongs to the process: another handle unmaps it, once.
    EXPECT_TRUE(unmap(other, address));
    EXPECT_FALSE(unmap(h, address));
    EXPECT_EQ(lastError(), 487u);  // ERROR_INVALID_ADDRESS from STATUS_NOT_MAPPED_VIEW
    EXPECT_FALSE(unmap(h, 0));

    // A view outlives the handle whose request made it.
    uint64_t kept = map(h, 0x20000, 8192, 0xC3);
    ASSERT_NE(kept, 0u);
    EXPECT_TRUE(closeHandle(h));
    EXPECT_EQ(reinterpret_cast<volatile uint8_t*>(kept)[8191], 0xC3);
    // The view containing an address inside it is the one removed.
    EXPECT_TRUE(unmap(other, kept + 100));

    // The transport maps only what the memory holds, page-aligned.
    uint32_t got = 0;
    MapAsk outside{kPhysicalSize, 4096, 0};
    uint64_t none = 0;
    EXPECT_FALSE(deviceIoControl(other, kMap, &outside, sizeof outside, &none, 8, &got));
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
    MapAsk straddling{kPhysicalSize - 4096, 8192, 0};
    EXPECT_FALSE(deviceIoControl(other, kMap, &straddling, sizeof straddling, &none, 8, &got));
    MapAsk unaligned{100, 4096, 0};
    EXPECT_FALSE(deviceIoControl(other, kMap, &unaligned, sizeof unaligned, &none, 8, &got));
    MapAsk empty{0, 0, 0};
    EXPECT_FALSE(deviceIoControl(other, kMap, &empty, sizeof empty, &none, 8, &got));
    EXPECT_TRUE(closeHandle(other));
}

// Views of two window files on one handle, alternating: each view shows the
// file its request named, never the one the connection passed before.
TEST_F(DeviceTransport, ViewsOfSeveralWindowFilesEachMapTheirOwnFile) {
    HANDLE h = open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    struct Row {
        uint8_t window;
        uint64_t offset;
        uint8_t fill;
    };
    const Row rows[] = {{0, 0, 0x11}, {1, 0, 0x22}, {1, 4096, 0x33}, {0, 4096, 0x44}, {0, 0, 0}};
    std::vector<uint64_t> views;
    for (const Row& row : rows) {
        MapAsk ask{row.offset, 4096, row.fill, row.window};
        uint64_t address = 0;
        uint32_t got = 0;
        ASSERT_TRUE(deviceIoControl(h, kMap, &ask, sizeof ask, &address, 8, &got));
        const auto* bytes = reinterpret_cast<volatile uint8_t*>(address);
        EXPECT_EQ(bytes[0], row.fill) << int(row.window) << " at " << row.offset;
        EXPECT_EQ(bytes[4095], row.fill) << int(row.window) << " at " << row.offset;
        views.push_back(address);
    }
    // Window 0's first page, filled with 0 by the last request, is one page
    // of one file in both of its views; window 1's first page kept its fill.
    EXPECT_EQ(reinterpret_cast<volatile uint8_t*>(views[0])[0], 0);
    EXPECT_EQ(reinterpret_cast<volatile uint8_t*>(views[1])[0], 0x22);
    for (uint64_t view : views) EXPECT_TRUE(unmap(h, view));
    EXPECT_TRUE(closeHandle(h));
}

TEST_F(DeviceTransport, ThirtyTwoBitCallersGetViewsBelow4GiB) {
    HANDLE h = open(32);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(whoAmI(h).wordSize, 32);
    uint64_t address = map(h, 0x30000, 4096, 0x7E);
    ASSERT_NE(address, 0u);
    EXPECT_LT(address + 4096, uint64_t{1} << 32);
    EXPECT_EQ(reinterpret_cast<volatile uint8_t*>(address)[10], 0x7E);
    EXPECT_TRUE(unmap(h, address));
    closeHandle(h);

    // The process-wide setting is what createFile declares by default.
    EXPECT_FALSE(setDeviceCallerWordSize(48));
    ASSERT_TRUE(setDeviceCallerWordSize(32));
    HANDLE d = createFile("\\\\.\\fake0", GENERIC_READ, 3, OPEN_EXISTING, 0);
    EXPECT_EQ(whoAmI(d).wordSize, 32);
    closeHandle(d);
    setDeviceCallerWordSize(64);
}

TEST_F(DeviceTransport, ClientsThatDieGetTheirFilesClosed) {
    HANDLE mine = open();
    ASSERT_NE(mine, INVALID_HANDLE_VALUE);

    ChildProcess client = spawnChild("holding_client");
    // The child's files are the next two; its first is held.
    uint64_t first = whoAmI(mine).file + 1;
    ASSERT_TRUE(waitForLine(env_.logPath(), log("hold", first)));
    client.kill(SIGKILL);
    EXPECT_TRUE(waitForLine(env_.logPath(), log("close", first)));
    EXPECT_TRUE(waitForLine(env_.logPath(), log("close", first + 1)));

    // Everyone else is still served, old handles and new.
    EXPECT_TRUE(echoWorks(mine));
    HANDLE fresh = open();
    EXPECT_TRUE(echoWorks(fresh));

    // A process that ends without closing its handle gets it closed too.
    ChildProcess leaving = spawnChild("leaving_client");
    EXPECT_EQ(leaving.wait(), 0);
    uint64_t left = whoAmI(fresh).file + 1;
    EXPECT_TRUE(waitForLine(env_.logPath(), log("close", left)));
    closeHandle(fresh);
    closeHandle(mine);
}

// Raw connections that do not speak the protocol, or speak it wrongly.
class RawClient {
  public:
    explicit RawClient(const std::string& dir) {
        sock_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::string path = dir + "/" + wire::kSocketName;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        connected_ = connect(sock_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { close(sock_); }
    bool connected() const { return connected_; }
    void send(const void* data, size_t length, int fd = -1) {
        wire::sendFrame(sock_, data, length, nullptr, 0, fd);
    }
    // True when the host closed the connection (or says nothing within 2 s
    // but has not crashed, which the caller checks separately).
    bool closedByHost() {
        std::vector<uint8_t> buffer;
        size_t length;
        struct timeval tv {
            2, 0
        };
        setsockopt(sock_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        for (;;) {
            auto r = wire::receiveFrame(sock_, buffer, &length);
            if (r == wire::ReceiveResult::Closed) return true;
            if (r != wire::ReceiveResult::Frame) return false;
        }
    }
    int sock() const { return sock_; }
    // Opens "\\.\fake0" as a 64-bit caller, frame by frame.
    bool openFake(wire::OpenReplyFrame* reply) {
        const char path[] = "\\\\.\\fake0";
        auto open = wire::makeFrame<wire::OpenFrame>(wire::FrameType::Open, sizeof path - 1);
        open.wordSize = 64;
        open.pathLength = sizeof path - 1;
        wire::sendFrame(sock_, &open, sizeof open, path, sizeof path - 1);
        std::vector<uint8_t> buffer;
        size_t length = 0;
        return wire::receiveFrame(sock_, buffer, &length) == wire::ReceiveResult::Frame &&
               wire::parseFrame(buffer, length, wire::FrameType::OpenReply, reply);
    }

  private:
    int sock_ = -1;
    bool connected_ = false;
};

TEST_F(DeviceTransport, GarbageNeverHurtsTheHost) {
    HANDLE good = open();
    ASSERT_NE(good, INVALID_HANDLE_VALUE);
    std::string dir = env_.deviceDir();

    auto sendOne = [&](const std::vector<uint8_t>& bytes, int fd = -1) {
        RawClient c(dir);
        ASSERT_TRUE(c.connected());
        c.send(bytes.data(), bytes.size(), fd);
        EXPECT_TRUE(c.closedByHost());
    };
    sendOne({1, 2, 3});                                   // shorter than a header
    sendOne({2, 0, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0});      // length disagrees
    sendOne(std::vector<uint8_t>(16, 0xFF));              // unknown type
    std::vector<uint8_t> huge(wire::kMaxFrame + 100, 0);  // larger than any frame
    sendOne(huge);
    {
        auto open = wire::makeFrame<wire::OpenFrame>(wire::FrameType::Open);
        open.pathLength = 0xFFFFFFFF;
        open.wordSize = 64;
        std::vector<uint8_t> bytes(sizeof open);
        std::memcpy(bytes.data(), &open, sizeof open);
        sendOne(bytes);
    }
    {
        auto request = wire::makeFrame<wire::RequestFrame>(wire::FrameType::Request);
        request.seq = 1;
        std::vector<uint8_t> bytes(sizeof request);
        std::memcpy(bytes.data(), &request, sizeof request);
        sendOne(bytes, STDIN_FILENO);  // a request before any open, with a descriptor
    }
    {
        RawClient idle(dir);  // connects and goes without a word
    }
    {
        // Opened properly, then nonsense: the host drops the handle and
        // closes its file.
        RawClient c(dir);
        wire::OpenReplyFrame reply;
        ASSERT_TRUE(c.openFake(&reply));
        std::vector<uint8_t> buffer;
        size_t length = 0;
        EXPECT_EQ(reply.status, STATUS_SUCCESS);
        // An answer to a callback nobody asked for.
        auto stray = wire::makeFrame<wire::MapReplyFrame>(wire::FrameType::MapReply);
        c.send(&stray, sizeof stray);
        EXPECT_TRUE(c.closedByHost());
        // Its file was closed; a cancel naming it, or with a wrong token, is refused.
        RawClient k(dir);
        auto cancel = wire::makeFrame<wire::CancelFrame>(wire::FrameType::Cancel);
        cancel.connectionId = reply.connectionId;
        cancel.token = reply.token + 1;
        cancel.seq = 1;
        k.send(&cancel, sizeof cancel);
        ASSERT_EQ(wire::receiveFrame(k.sock(), buffer, &length), wire::ReceiveResult::Frame);
        wire::CancelAckFrame ack;
        ASSERT_TRUE(wire::parseFrame(buffer, length, wire::FrameType::CancelAck, &ack));
        EXPECT_EQ(ack.status, STATUS_INVALID_HANDLE);
    }
    {
        // Requests with lengths out of bounds are refused, the handle stays.
        RawClient c(dir);
        wire::OpenReplyFrame reply;
        ASSERT_TRUE(c.openFake(&reply));
        std::vector<uint8_t> buffer;
        size_t length = 0;
        auto request = wire::makeFrame<wire::RequestFrame>(wire::FrameType::Request);
        request.seq = 5;
        request.code = kEcho;
        request.outputLength = 0x7FFFFFFF;
        c.send(&request, sizeof request);
        ASSERT_EQ(wire::receiveFrame(c.sock(), buffer, &length), wire::ReceiveResult::Frame);
        wire::CompleteFrame done;
        ASSERT_TRUE(wire::parseFrame(buffer, length, wire::FrameType::Complete, &done));
        EXPECT_EQ(done.status, STATUS_INVALID_PARAMETER);
        // The input length field must match the bytes sent.
        request.inputLength = 1000;
        c.send(&request, sizeof request);
        EXPECT_TRUE(c.closedByHost());
    }

    EXPECT_TRUE(host_.running());
    EXPECT_TRUE(echoWorks(good));
    HANDLE fresh = open();
    EXPECT_TRUE(echoWorks(fresh));
    closeHandle(fresh);
    closeHandle(good);
}

TEST_F(DeviceTransport, StrangersAreRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a client as another user";
    // Let the other user reach the socket, so that only the host's own
    // credential check stands in its way.
    std::string parent = env_.deviceDir().substr(0, env_.deviceDir().rfind('/'));
    ASSERT_EQ(chmod(parent.c_str(), 0711), 0);
    ASSERT_EQ(chmod(env_.deviceDir().c_str(), 0777), 0);
    ASSERT_EQ(chmod((env_.deviceDir() + "/" + wire::kSocketName).c_str(), 0777), 0);
    ChildProcess stranger = spawnChild("stranger_client");
    EXPECT_EQ(stranger.wait(), 0);
}

TEST_F(DeviceTransport, HostStopsCleanlyWithClientsConnected) {
    HANDLE idle = open();
    HANDLE held = open();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    uint64_t file = whoAmI(held).file;
    std::atomic<bool> result{true};
    std::thread requester([&] {
        uint32_t got = 0;
        result = deviceIoControl(held, kHold, nullptr, 0, nullptr, 0, &got);
    });
    ASSERT_TRUE(waitForLine(env_.logPath(), log("hold", file)));
    kill(host_.pid(), SIGTERM);
    EXPECT_EQ(host_.wait(), 0);
    requester.join();
    EXPECT_FALSE(result.load());
    EXPECT_TRUE(kalvo::testing::fileHasLine(env_.logPath(), log("close", file)));
    EXPECT_FALSE(echoWorks(idle));
    EXPECT_EQ(lastError(), ERROR_GEN_FAILURE);
    closeHandle(idle);
    closeHandle(held);
}

}  // namespace
