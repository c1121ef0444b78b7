// The board library's request wrappers and device open/close, against a
// private device host (a child process) whose backend answers the board
// requests as the device interface fixes them and logs what it received.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "boardlib/requests/board_device.h"
#include "boardlib/requests/request_wrappers.h"
#include "driver/requests/request_blocks.h"
#include "driver/requests/request_codes.h"
#include "platform/win_error.h"
#include "tests/support/child_process.h"
#include "tests/support/device_test_host.h"

namespace {

using namespace kalvo::platform;
using namespace kalvo::requests;
using namespace kalvo::boardlib;
using kalvo::kernel::CallerProcess;
using kalvo::kernel::FileId;
using kalvo::kernel::IoResult;
using kalvo::testing::appendLine;

constexpr size_t kPhysicalSize = 256 * 1024;
// The board's memory window: not page-aligned, inside a 64 KiB region of its own.
constexpr uint64_t kWindowOffset = 0x10000 + 0x400;
constexpr uint32_t kWindowSize = 4096;
constexpr uint16_t kBoardId = 0x4B31;

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", v);
    return text;
}

// One board, "\\.\tolva0", answering the requests as the interface says.
class BoardBackend : public kalvo::kernel::DeviceBackend {
  public:
    explicit BoardBackend(std::string log) : log_(std::move(log)) {
        memory_ = memfd_create("physical", MFD_CLOEXEC);
        if (memory_ < 0 || ftruncate(memory_, kPhysicalSize) != 0) return;
        uint16_t id = kBoardId;
        if (pwrite(memory_, &id, sizeof id, kWindowOffset + 0x808) != sizeof id) memory_ = -1;
    }
    ~BoardBackend() override {
        if (memory_ >= 0) close(memory_);
    }

    NTSTATUS open(const kalvo::kernel::OpenRequest& r, CallerProcess&, FileId* file) override {
        std::string name = r.path;
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        if (name != "\\\\.\\tolva0") return STATUS_OBJECT_NAME_NOT_FOUND;
        appendLine(log_, "open " + hex(r.desiredAccess) + " " + hex(r.shareMode) + " " +
                             hex(r.creationDisposition) + " " + hex(r.flagsAndAttributes));
        *file = 1;
        return STATUS_SUCCESS;
    }

    IoResult deviceControl(FileId, uint32_t code, std::span<const uint8_t> in, uint32_t outLength,
                           CallerProcess& caller) override {
        appendLine(log_, "ioctl " + hex(code) + " " + std::to_string(in.size()) + " " +
                             std::to_string(outLength));
        std::lock_guard lock(mutex_);
        if (isConnectRequest(code)) {
            auto kept = parseConnectBlock(in);
            if (!kept) return {STATUS_INVALID_PARAMETER, {}};
            kept_ = *kept;
            state_ = LineState::Accepted;
            return {};
        }
        switch (code) {
            case IOCTL_TOLVA_RESET:
            case IOCTL_TOLVA_NAME:
            case IOCTL_TOLVA_MAIL:
            case IOCTL_TOLVA_OPT2:
            case IOCTL_TOLVA_OPT3:
                return {};
            case IOCTL_TOLVA_DISCONNECT:
                state_ = LineState::Idle;
                return {};
            case IOCTL_TOLVA_STATUS:
                if (outLength != sizeof(StatusBlock)) return {STATUS_INVALID_PARAMETER, {}};
                return {STATUS_SUCCESS, toBytes(makeStatusBlock(state_, kept_))};
            case IOCTL_TOLVA_MAP_MEMORY:
                return map(in, caller);
            default:
                return {STATUS_NOT_IMPLEMENTED, {}};
        }
    }
    void cancel(FileId) override {}
    void close(FileId) override { appendLine(log_, "close"); }

  private:
    IoResult map(std::span<const uint8_t> in, CallerProcess& caller) {
        auto request = decodeMapRequest(in, caller.wordSize());
        if (!request) return {STATUS_INVALID_PARAMETER, {}};
        if (request->isUnmap()) return {caller.unmapView(request->address), {}};
        if (request->address > kWindowSize || request->length > kWindowSize - request->address)
            return {STATUS_INVALID_PARAMETER, {}};
        uint64_t first = kWindowOffset + request->address;
        uint64_t base = first & ~uint64_t{0xFFFF};
        uint64_t view = 0;
        NTSTATUS status = caller.mapView(memory_, base, first + request->length - base, &view);
        if (!NT_SUCCESS(status)) return {status, {}};
        request->address = view + (first - base);
        return {STATUS_SUCCESS, encodeMapRequest(*request, caller.wordSize())};
    }

    std::string log_;
    int memory_ = -1;
    std::mutex mutex_;
    int32_t state_ = LineState::Idle;
    ConnectParameters kept_{};
};

KALVO_CHILD(board_host) {
    BoardBackend backend(args.at(1));
    return kalvo::testing::runDeviceHost(backend, args.at(0), args.at(1));
}

class RequestWrappers : public ::testing::Test {
  protected:
    void SetUp() override {
        host_ = kalvo::testing::spawnChild("board_host", {env_.deviceDir(), env_.logPath()});
        ASSERT_TRUE(kalvo::testing::waitForLine(env_.logPath(), "ready"));
    }
    void TearDown() override { closeBoardDevice(device_); }

    std::vector<std::string> requestsLogged() {
        std::ifstream in(env_.logPath());
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);)
            if (l.rfind("ioctl ", 0) == 0) lines.push_back(l);
        return lines;
    }

    kalvo::testing::DeviceTestEnvironment env_;
    kalvo::testing::ChildProcess host_;
    HANDLE device_ = INVALID_HANDLE_VALUE;
};

TEST_F(RequestWrappers, OpenAndCloseAsTheLibraryDoes) {
    device_ = openBoardDevice("\\\\.\\tolva0", 64);
    ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    // Read and write access, shared read and write, existing only, no flags.
    EXPECT_TRUE(
        kalvo::testing::fileHasLine(env_.logPath(), "open c0000000 00000003 00000003 00000000"));
    closeBoardDevice(device_);
    EXPECT_EQ(device_, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(kalvo::testing::fileHasLine(env_.logPath(), "close"));
    closeBoardDevice(device_);  // closing a closed board does nothing
    EXPECT_EQ(device_, INVALID_HANDLE_VALUE);

    // An instance that does not exist: the invalid handle is the result.
    device_ = openBoardDevice("\\\\.\\tolva3", 64);
    EXPECT_EQ(device_, INVALID_HANDLE_VALUE);
    EXPECT_EQ(lastError(), ERROR_FILE_NOT_FOUND);

    // Every wrapper fails on a board that is not open.
    StatusBlock status{};
    EXPECT_EQ(requestStatus(device_, &status), -1);
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(requestReset(device_), -1);
}

TEST_F(RequestWrappers, EachWrapperSendsOneRequestWithTheFixedLengths) {
    device_ = openBoardDevice("\\\\.\\tolva0", 64);
    ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    ConnectRequestBlock connect = makeConnectBlock(7, 3);
    StatusBlock status{};
    NameRequestBlock name = makeNameBlock("ST07");
    MapRequestBlock64 map{MapCommand::Map, 0, 0, kWindowSize, 0};

    EXPECT_EQ(requestReset(device_), 0);
    EXPECT_EQ(requestConnect(device_, &connect), 0);
    EXPECT_EQ(requestDisconnect(device_), 0);
    EXPECT_EQ(requestMapMemory(device_, &map), 0);
    EXPECT_EQ(requestStatus(device_, &status), 0);
    EXPECT_EQ(requestName(device_, &name), 0);
    EXPECT_EQ(requestConnectLF(device_, &connect), 0);
    EXPECT_EQ(requestConnectGMM(device_, &connect), 0);
    std::vector<std::string> expected = {
        "ioctl 99022000 0 0",   "ioctl 99022004 12 0", "ioctl 99022008 0 0",
        "ioctl 9902200c 24 24", "ioctl 99022014 0 12", "ioctl 99022018 20 20",
        "ioctl 99022024 12 0",  "ioctl 99022028 12 0",
    };
    EXPECT_EQ(requestsLogged(), expected);
    // The device resolves no name: success, the slot stays unknown.
    EXPECT_EQ(name.slot, kNameSlotUnknown);
}

TEST_F(RequestWrappers, ConnectAndStatusCarryTheRecords) {
    device_ = openBoardDevice("\\\\.\\tolva0", 64);
    ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    ConnectRequestBlock connect = makeConnectBlock(7, 200);
    ASSERT_EQ(requestConnect(device_, &connect), 0);
    StatusBlock status{};
    ASSERT_EQ(requestStatus(device_, &status), 0);
    EXPECT_EQ(status.lineState, LineState::Accepted);
    EXPECT_EQ(status.address, 7);
    EXPECT_EQ(status.size, -56);

    // A refused connect is -1 with the device's reason, and changes nothing.
    ConnectRequestBlock bad = connect;
    bad.address[0] = ' ';
    EXPECT_EQ(requestConnectLF(device_, &bad), -1);
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(requestStatus(device_, &status), 0);
    EXPECT_EQ(status.lineState, LineState::Accepted);
    EXPECT_EQ(requestDisconnect(device_), 0);
    ASSERT_EQ(requestStatus(device_, &status), 0);
    EXPECT_EQ(status.lineState, LineState::Idle);
}

TEST_F(RequestWrappers, MapAndUnmapTheWindowIn64BitForm) {
    device_ = openBoardDevice("\\\\.\\tolva0", 64);
    ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    MapRequestBlock64 block{MapCommand::Map, 0, 0, kWindowSize, 0};
    ASSERT_EQ(requestMapMemory(device_, &block), 0);
    ASSERT_NE(block.address, 0u);
    uint64_t window = block.address;
    auto* bytes = reinterpret_cast<volatile uint8_t*>(window);
    EXPECT_EQ(bytes[0x808] | (bytes[0x809] << 8), kBoardId);

    // Unmap with the address the map returned, the rest of the block unchanged.
    block.command = MapCommand::Unmap;
    EXPECT_EQ(requestMapMemory(device_, &block), 0);
    EXPECT_EQ(requestMapMemory(device_, &block), -1);  // only once
    EXPECT_EQ(block.address, window);
}

TEST_F(RequestWrappers, ThirtyTwoBitBuildsUseTheShortBlockAndLowViews) {
    device_ = openBoardDevice("\\\\.\\tolva0", 32);
    ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    MapRequestBlock32 block{MapCommand::Map, 0, kWindowSize};
    ASSERT_EQ(requestMapMemory(device_, &block), 0);
    ASSERT_NE(block.address, 0u);
    auto* bytes = reinterpret_cast<volatile uint8_t*>(uintptr_t{block.address});
    EXPECT_EQ(bytes[0x808] | (bytes[0x809] << 8), kBoardId);
    block.command = MapCommand::Unmap;
    EXPECT_EQ(requestMapMemory(device_, &block), 0);

    // The long form from a 32-bit caller is refused by the device.
    MapRequestBlock64 wrong{MapCommand::Map, 0, 0, kWindowSize, 0};
    EXPECT_EQ(requestMapMemory(device_, &wrong), -1);
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
