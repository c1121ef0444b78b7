// The board drivers in the real device host, used by real client processes:
// every test starts kalvo-devhost with the driver modules on a simulated
// board set in a private folder, talks to it through device handles from
// this process and from child processes, looks into it with kalvo-devctl,
// and stops it at the end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "boardlib/requests/board_device.h"
#include "boardlib/requests/request_wrappers.h"
#include "driver/requests/request_blocks.h"
#include "driver/requests/request_codes.h"
#include "platform/device.h"
#include "platform/win_error.h"
#include "sim/board_layout.h"
#include "tests/support/child_process.h"
#include "tests/support/private_host.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using namespace kalvo::requests;
using kalvo::boardlib::closeBoardDevice;
using kalvo::boardlib::openBoardDevice;
using kalvo::boardlib::requestConnect;
using kalvo::boardlib::requestConnectGMM;
using kalvo::boardlib::requestConnectLF;
using kalvo::boardlib::requestDisconnect;
using kalvo::boardlib::requestMapMemory;
using kalvo::boardlib::requestName;
using kalvo::boardlib::requestReset;
using kalvo::boardlib::requestStatus;
using kalvo::drivertest::devctl;
using kalvo::drivertest::deviceListLine;
using kalvo::drivertest::ToolRun;
using kalvo::platform::HANDLE;
using kalvo::platform::INVALID_HANDLE_VALUE;
using kalvo::platform::lastError;
using kalvo::testing::spawnChild;

const char* const kTolva0 = "\\\\.\\tolva0";
const char* const kTolva1 = "\\\\.\\tolva1";
const char* const kFirstBoard = "pci-0000:03:00.0";  // the first board of a set

// Memory window locations (byte offsets).
constexpr uint32_t kCommandRegister = 0x44C;
constexpr uint32_t kStationRegister = 0x498;
constexpr uint32_t kBoardIdWord = 0x808;
constexpr uint32_t kRunningBit = 0x200;
constexpr uint32_t kWindowLength = 0x1000;

constexpr uint32_t ERROR_INVALID_FUNCTION = 1;
constexpr uint32_t ERROR_INVALID_ADDRESS = 487;

// A view of a board's memory window in this process, made by the map
// request in the block form of the caller's word size.
struct Window {
    HANDLE device = INVALID_HANDLE_VALUE;
    int wordSize = 64;
    uint64_t address = 0;

    bool map(HANDLE handle, int bits, uint32_t offset = 0, uint32_t length = kWindowLength) {
        device = handle;
        wordSize = bits;
        if (bits == 32) {
            MapRequestBlock32 block{MapCommand::Map, offset, length};
            if (requestMapMemory(handle, &block) != 0) return false;
            address = block.address;
        } else {
            MapRequestBlock64 block{MapCommand::Map, 0, offset, length, 0};
            if (requestMapMemory(handle, &block) != 0) return false;
            address = block.address;
        }
        return true;
    }
    // The unmap form with the address the map returned; the wrapper's result.
    int32_t unmap() const {
        if (wordSize == 32) {
            MapRequestBlock32 block{MapCommand::Unmap, static_cast<uint32_t>(address),
                                    kWindowLength};
            return requestMapMemory(device, &block);
        }
        MapRequestBlock64 block{MapCommand::Unmap, 0, address, kWindowLength, 0};
        return requestMapMemory(device, &block);
    }
    // Uncached loads and stores, as the library makes them.
    uint32_t read32(uint32_t offset) const {
        return *reinterpret_cast<volatile uint32_t*>(address + offset);
    }
    uint16_t read16(uint32_t offset) const {
        return *reinterpret_cast<volatile uint16_t*>(address + offset);
    }
    void write32(uint32_t offset, uint32_t value) const {
        *reinterpret_cast<volatile uint32_t*>(address + offset) = value;
    }
};

bool isLineState(int32_t state) {
    for (int32_t s : {0, 1, 2, 1000, 1001, 1002, 1003, 1004})
        if (state == s) return true;
    return false;
}

bool waitForFile(const std::string& path, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void touch(const std::string& path) {
    if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
}

uint32_t number(const std::string& text) {
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

// ---- client processes ---------------------------------------------------------------
// A failed step ends the child with status 1 and says which on stderr.
#define CHILD_CHECK(condition)                                                             \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: %s failed (last error %u)\n", __FILE__, __LINE__, \
                         #condition, static_cast<unsigned>(lastError()));                  \
            return 1;                                                                      \
        }                                                                                  \
    } while (0)

// path, word size, offset, width (16 or 32), expected: opens the device as a
// caller of that word size, maps the window and compares one word.
KALVO_CHILD(expect_word) {
    int bits = static_cast<int>(number(args.at(1)));
    HANDLE device = openBoardDevice(args.at(0).c_str(), bits);
    CHILD_CHECK(device != INVALID_HANDLE_VALUE);
    Window window;
    CHILD_CHECK(window.map(device, bits));
    if (bits == 32) CHILD_CHECK(window.address + kWindowLength <= (uint64_t{1} << 32));
    uint32_t offset = number(args.at(2));
    uint32_t value = args.at(3) == "16" ? window.read16(offset) : window.read32(offset);
    if (value != number(args.at(4)))
        std::fprintf(stderr, "word at 0x%x is 0x%x\n", unsigned(offset), unsigned(value));
    CHILD_CHECK(value == number(args.at(4)));
    CHILD_CHECK(window.unmap() == 0);
    closeBoardDevice(device);
    return 0;
}

// path, ready file: requests without a pause (status, connect, a view mapped
// and unmapped, name) until the process is killed.
KALVO_CHILD(request_stream) {
    HANDLE device = openBoardDevice(args.at(0).c_str(), 64);
    CHILD_CHECK(device != INVALID_HANDLE_VALUE);
    for (int i = 0;; ++i) {
        StatusBlock status{};
        CHILD_CHECK(requestStatus(device, &status) == 0);
        ConnectRequestBlock connect = makeConnectBlock(i % 64, 1);
        CHILD_CHECK(requestConnectGMM(device, &connect) == 0);
        Window window;
        CHILD_CHECK(window.map(device, 64));
        CHILD_CHECK(window.unmap() == 0);
        NameRequestBlock name = makeNameBlock("ST01");
        CHILD_CHECK(requestName(device, &name) == 0);
        if (i == 10) touch(args.at(1));
    }
}

// path, ready file: holds a handle and a view until the process is killed.
KALVO_CHILD(hold_view) {
    HANDLE device = openBoardDevice(args.at(0).c_str(), 64);
    CHILD_CHECK(device != INVALID_HANDLE_VALUE);
    Window window;
    CHILD_CHECK(window.map(device, 64));
    touch(args.at(1));
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the test
    for (;;) pause();
}

// path, ready file, stop file: status, map and unmap, name, until the stop
// file appears; every request must succeed.
KALVO_CHILD(steady_client) {
    HANDLE device = openBoardDevice(args.at(0).c_str(), 64);
    CHILD_CHECK(device != INVALID_HANDLE_VALUE);
    auto deadline = std::chrono::steady_clock::now() + 120s;
    for (int i = 0; !std::filesystem::exists(args.at(2)); ++i) {
        CHILD_CHECK(std::chrono::steady_clock::now() < deadline);
        StatusBlock status{};
        CHILD_CHECK(requestStatus(device, &status) == 0);
        Window window;
        CHILD_CHECK(window.map(device, 64));
        CHILD_CHECK(window.unmap() == 0);
        NameRequestBlock name = makeNameBlock("ST02");
        CHILD_CHECK(requestName(device, &name) == 0 && name.slot == kNameSlotUnknown);
        if (i == 0) touch(args.at(1));
    }
    closeBoardDevice(device);
    return 0;
}

// path, iterations, station address, board ID word: every request the
// library sends, as one of several clients at once.
KALVO_CHILD(busy_client) {
    HANDLE device = openBoardDevice(args.at(0).c_str(), 64);
    CHILD_CHECK(device != INVALID_HANDLE_VALUE);
    const int iterations = static_cast<int>(number(args.at(1)));
    const int32_t station = static_cast<int32_t>(number(args.at(2)));
    const uint32_t id = number(args.at(3));
    for (int i = 0; i < iterations; ++i) {
        ConnectRequestBlock connect = makeConnectBlock(station, 1);
        int32_t (*const connects[])(HANDLE, const ConnectRequestBlock*) = {
            requestConnect, requestConnectLF, requestConnectGMM};
        CHILD_CHECK(connects[i % 3](device, &connect) == 0);
        StatusBlock status{};
        CHILD_CHECK(requestStatus(device, &status) == 0);
        CHILD_CHECK(isLineState(status.lineState));
        Window window;
        CHILD_CHECK(window.map(device, 64));
        CHILD_CHECK(window.read16(kBoardIdWord) == id);
        CHILD_CHECK(window.unmap() == 0);
        NameRequestBlock name = makeNameBlock("ST03");
        CHILD_CHECK(requestName(device, &name) == 0 && name.slot == kNameSlotUnknown);
        if (i % 10 == 9) {
            CHILD_CHECK(requestReset(device) == 0);
            CHILD_CHECK(requestDisconnect(device) == 0);
        }
    }
    closeBoardDevice(device);
    return 0;
}

// path, ready file: requests until one fails because the host has gone;
// the view it holds stays readable after that.
KALVO_CHILD(work_until_host_ends) {
    HANDLE device = openBoardDevice(args.at(0).c_str(), 64);
    CHILD_CHECK(device != INVALID_HANDLE_VALUE);
    Window window;
    CHILD_CHECK(window.map(device, 64));
    const uint16_t id = window.read16(kBoardIdWord);
    auto deadline = std::chrono::steady_clock::now() + 120s;
    for (int i = 0;; ++i) {
        CHILD_CHECK(std::chrono::steady_clock::now() < deadline);
        StatusBlock status{};
        if (requestStatus(device, &status) != 0) break;
        if (i == 10) touch(args.at(1));
    }
    CHILD_CHECK(lastError() != 0);
    CHILD_CHECK(window.read16(kBoardIdWord) == id);
    closeBoardDevice(device);
    return 0;
}

// ---- fixture ------------------------------------------------------------------------

class HostE2E : public ::testing::Test {
  protected:
    void startHost(const std::string& boards) {
        std::string why;
        ASSERT_TRUE(
            host_.start(env_.work().file("devices"), env_.work().file("devhost.log"), boards, &why))
            << why;
    }
    void TearDown() override {
        // An orderly end: the host neither crashed nor hung on its way out.
        EXPECT_EQ(host_.stop(), 0) << host_.log();
    }
    std::string file(const std::string& name) const { return env_.work().file(name); }

    kalvo::testing::IsolatedEnvironment env_;
    kalvo::drivertest::PrivateHost host_;
};

// ---- naming -------------------------------------------------------------------------

TEST_F(HostE2E, DevicesOpenByTheirLinkInAnyCase) {
    startHost("tolva:id=0");
    for (const char* name : {kTolva0, "\\\\.\\TOLVA0", "\\\\.\\Tolva0"}) {
        HANDLE device = openBoardDevice(name, 64);
        EXPECT_NE(device, INVALID_HANDLE_VALUE) << name;
        closeBoardDevice(device);
    }
    for (const char* name : {kTolva1, "\\\\.\\nosuch0"}) {
        EXPECT_EQ(openBoardDevice(name, 64), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(lastError(), kalvo::platform::ERROR_FILE_NOT_FOUND) << name;
    }
    // With the host gone there is no device at all.
    EXPECT_EQ(host_.stop(), 0) << host_.log();
    EXPECT_EQ(openBoardDevice(kTolva0, 64), INVALID_HANDLE_VALUE);
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_FILE_NOT_FOUND);
}

TEST_F(HostE2E, EachBoardIsItsOwnDeviceWithItsOwnIdWord) {
    startHost("tolva:id=2,tolva:id=1");
    EXPECT_NE(deviceListLine("pci-0000:03:00.0").find("\\Device\\Tolva0"), std::string::npos);
    EXPECT_NE(deviceListLine("pci-0000:04:00.0").find("\\Device\\Tolva1"), std::string::npos);
    auto first = spawnChild("expect_word", {kTolva0, "64", "0x808", "16", "2"});
    auto second = spawnChild("expect_word", {kTolva1, "64", "0x808", "16", "1"});
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);

    // Each device keeps its own line.
    HANDLE one = openBoardDevice(kTolva1, 64);
    HANDLE zero = openBoardDevice(kTolva0, 64);
    ASSERT_NE(one, INVALID_HANDLE_VALUE);
    ASSERT_NE(zero, INVALID_HANDLE_VALUE);
    ConnectRequestBlock connect = makeConnectBlock(9, 4);
    EXPECT_EQ(requestConnectGMM(one, &connect), 0);
    StatusBlock status{};
    EXPECT_EQ(requestStatus(one, &status), 0);
    EXPECT_EQ(status.address, 9);
    EXPECT_EQ(requestStatus(zero, &status), 0);
    EXPECT_EQ(status.lineState, LineState::Idle);
    EXPECT_EQ(status.address, 0);
    EXPECT_EQ(status.size, 0);
    closeBoardDevice(one);
    closeBoardDevice(zero);
}

// ---- the connect sequence -----------------------------------------------------------

TEST_F(HostE2E, ConnectStepsTheLineAndEveryClientSeesTheChip) {
    startHost("tolva:id=0");
    HANDLE device = openBoardDevice(kTolva0, 64);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    Window window;
    ASSERT_TRUE(window.map(device, 64));
    // Baud-rate bits that the library keeps in the station register.
    window.write32(kStationRegister, 0x00C0);

    ConnectRequestBlock connect = makeConnectBlock(5, 2);
    ASSERT_EQ(requestConnect(device, &connect), 0);
    // The states come in order; polling may miss a short one.
    const std::vector<int32_t> order = {1, 2, 1000, 1001, 1002, 1003, 1004};
    std::vector<int32_t> seen;
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (seen.empty() || seen.back() != LineState::Running) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "line never reached 1004";
        StatusBlock status{};
        ASSERT_EQ(requestStatus(device, &status), 0);
        EXPECT_EQ(status.address, 5);
        EXPECT_EQ(status.size, 2);
        if (seen.empty() || seen.back() != status.lineState) seen.push_back(status.lineState);
    }
    size_t at = 0;
    for (int32_t state : seen) {
        while (at < order.size() && order[at] != state) ++at;
        ASSERT_LT(at, order.size()) << "state " << state << " out of order";
    }
    EXPECT_EQ(window.read32(kStationRegister), 0x02C5u);
    // Another process sees the same register through its own view.
    EXPECT_EQ(spawnChild("expect_word", {kTolva0, "64", "0x498", "32", "0x02C5"}).wait(), 0);

    // Playing the chip through the view: with the running bit set the line
    // stays in 1004 ...
    deadline = std::chrono::steady_clock::now() + 20s;
    auto heldSince = std::chrono::steady_clock::now();
    for (;;) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "line never held 1004";
        window.write32(kCommandRegister, window.read32(kCommandRegister) | kRunningBit);
        StatusBlock status{};
        ASSERT_EQ(requestStatus(device, &status), 0);
        auto now = std::chrono::steady_clock::now();
        if (status.lineState != LineState::Running) heldSince = now;
        if (now - heldSince > 300ms) break;
        std::this_thread::sleep_for(1ms);
    }
    for (int i = 0; i < 20; ++i) {
        StatusBlock status{};
        ASSERT_EQ(requestStatus(device, &status), 0);
        EXPECT_EQ(status.lineState, LineState::Running);
        std::this_thread::sleep_for(10ms);
    }
    // ... and when the bit drops, the start command is given again (the
    // simulated chip may already show it running again beside it).
    window.write32(kCommandRegister, 0);
    deadline = std::chrono::steady_clock::now() + 20s;
    while ((window.read32(kCommandRegister) & ~kRunningBit) != 0x100) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no new start command";
        std::this_thread::sleep_for(1ms);
    }

    // A disconnect shows idle at once; the next step clears the areas.
    window.write32(0x010, 0x1234);
    window.write32(0x500, 0x5678);
    ASSERT_EQ(requestDisconnect(device), 0);
    StatusBlock status{};
    ASSERT_EQ(requestStatus(device, &status), 0);
    EXPECT_EQ(status.lineState, LineState::Idle);
    deadline = std::chrono::steady_clock::now() + 20s;
    while (window.read32(0x010) != 0 || window.read32(0x500) != 0 ||
           window.read32(kCommandRegister) != 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "areas not cleared";
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(window.unmap(), 0);
    closeBoardDevice(device);
}

// ---- the map request ----------------------------------------------------------------

TEST_F(HostE2E, MapShowsTheMemoryWindowInTheCallingProcess) {
    startHost("tolva:id=3");
    // The window's bus address is not 64 KiB aligned; the view must still
    // start at its first byte.
    ASSERT_EQ(devctl(std::string("write ") + kFirstBoard + " 1 0 a55a3cc3").exitCode, 0);
    HANDLE device = openBoardDevice(kTolva0, 64);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    Window window;
    ASSERT_TRUE(window.map(device, 64));
    EXPECT_EQ(window.read32(0), 0xc33c5aa5u);
    EXPECT_EQ(window.read16(kBoardIdWord), 3);
    window.write32(0x900, 0x11223344);
    EXPECT_EQ(devctl(std::string("read ") + kFirstBoard + " 1 0x900 4").output,
              "000900: 44 33 22 11\n");

    // A map at an offset returns the address of that byte.
    Window idWord;
    ASSERT_TRUE(idWord.map(device, 64, kBoardIdWord, 2));
    EXPECT_EQ(idWord.read16(0), 3);
    EXPECT_EQ(idWord.unmap(), 0);

    // Nothing outside the board's memory window is mapped.
    Window outside;
    EXPECT_FALSE(outside.map(device, 64, 0x800, kWindowLength));
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(outside.map(device, 64, kWindowLength, 1));
    EXPECT_FALSE(outside.map(device, 64, 0, 0));

    // A view is unmapped once.
    EXPECT_EQ(window.unmap(), 0);
    EXPECT_EQ(window.unmap(), -1);
    EXPECT_EQ(lastError(), ERROR_INVALID_ADDRESS);
    // An address inside a view removes that view; an address of other
    // memory of the process is no view and is left alone.
    Window inner;
    ASSERT_TRUE(inner.map(device, 64));
    Window innerByte = inner;
    innerByte.address += 0x10;
    EXPECT_EQ(innerByte.unmap(), 0);
    EXPECT_EQ(inner.unmap(), -1);
    uint32_t local = 0x600DF00D;
    Window notAView{device, 64, reinterpret_cast<uintptr_t>(&local)};
    EXPECT_EQ(notAView.unmap(), -1);
    EXPECT_EQ(lastError(), ERROR_INVALID_ADDRESS);
    EXPECT_EQ(local, 0x600DF00Du);

    // Views belong to the process: they outlive the handle they came from,
    // and another handle may unmap them.
    Window kept;
    ASSERT_TRUE(kept.map(device, 64));
    closeBoardDevice(device);
    kept.write32(0x904, 0xCAFEF00D);
    EXPECT_EQ(kept.read16(kBoardIdWord), 3);
    EXPECT_EQ(devctl(std::string("read ") + kFirstBoard + " 1 0x904 4").output,
              "000904: 0d f0 fe ca\n");
    kept.device = openBoardDevice(kTolva0, 64);
    ASSERT_NE(kept.device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(kept.unmap(), 0);
    closeBoardDevice(kept.device);
}

TEST_F(HostE2E, MapBlockFormFollowsTheDriverBuildAndTheCaller) {
    startHost("tolva:id=0,kvmdrv:id=0x00FF,cardmaster:id=1");
    // The dual board's driver is built for a 32-bit system: it takes only
    // the 12-byte block.
    HANDLE kvm = openBoardDevice("\\\\.\\KVMDRV0", 64);
    ASSERT_NE(kvm, INVALID_HANDLE_VALUE);
    Window wide;
    EXPECT_FALSE(wide.map(kvm, 64));
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_INVALID_PARAMETER);
    closeBoardDevice(kvm);
    // From a 32-bit caller, the 12-byte form gives a view below 4 GiB.
    EXPECT_EQ(spawnChild("expect_word", {"\\\\.\\kvmdrv0", "32", "0x808", "16", "0x00FF"}).wait(),
              0);

    // The PC-card board's driver and Tolva answer each caller in its own form.
    EXPECT_EQ(spawnChild("expect_word", {"\\\\.\\Cardmaster0", "64", "0x808", "16", "1"}).wait(),
              0);
    HANDLE narrow = openBoardDevice(kTolva0, 32);
    ASSERT_NE(narrow, INVALID_HANDLE_VALUE);
    Window window;
    ASSERT_TRUE(window.map(narrow, 32));
    EXPECT_LE(window.address + kWindowLength, uint64_t{1} << 32);
    EXPECT_EQ(window.read16(kBoardIdWord), 0);
    EXPECT_EQ(window.unmap(), 0);
    MapRequestBlock64 wrongForm{MapCommand::Map, 0, 0, kWindowLength, 0};
    EXPECT_EQ(requestMapMemory(narrow, &wrongForm), -1);
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_INVALID_PARAMETER);
    closeBoardDevice(narrow);
}

// ---- refused requests ---------------------------------------------------------------

TEST_F(HostE2E, MalformedRequestsAreRefusedWithTheirStatus) {
    startHost("tolva:id=0");
    HANDLE device = openBoardDevice(kTolva0, 64);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    uint32_t returned = 99;
    uint8_t out[16] = {};
    EXPECT_FALSE(kalvo::platform::deviceIoControl(device, tolvaCode(0x80c), nullptr, 0, out,
                                                  sizeof out, &returned));
    EXPECT_EQ(lastError(), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(returned, 0u);

    ConnectRequestBlock connect = makeConnectBlock(7, 3);
    EXPECT_FALSE(kalvo::platform::deviceIoControl(device, IOCTL_TOLVA_CONNECT, &connect, 11,
                                                  nullptr, 0, &returned));
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(kalvo::platform::deviceIoControl(device, IOCTL_TOLVA_STATUS, nullptr, 0, out, 16,
                                                  &returned));
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_INVALID_PARAMETER);
    connect.address[0] = ' ';
    EXPECT_EQ(requestConnect(device, &connect), -1);
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_INVALID_PARAMETER);
    // None of them touched the line.
    StatusBlock status{};
    EXPECT_EQ(requestStatus(device, &status), 0);
    EXPECT_EQ(status.lineState, LineState::Idle);
    EXPECT_EQ(status.address, 0);

    // The device resolves no name: success, the block comes back as sent.
    NameRequestBlock name = makeNameBlock("ST05");
    EXPECT_EQ(requestName(device, &name), 0);
    EXPECT_EQ(name.slot, kNameSlotUnknown);
    EXPECT_STREQ(name.name, "ST05");
    closeBoardDevice(device);
}

TEST_F(HostE2E, FaultyStartsAreRefusedToClientsAndLogged) {
    startHost(
        "tolva:id=0:fault=one-memory-range,tolva:id=1:fault=fail-memory-map,"
        "tolva:id=2:fault=fail-control-map,tolva:id=3:fault=extra-resources");
    for (const char* location : {"pci-0000:03:00.0", "pci-0000:04:00.0", "pci-0000:05:00.0"})
        EXPECT_NE(deviceListLine(location).find(
                      "start failed: STATUS_INSUFFICIENT_RESOURCES (0xC000009A)"),
                  std::string::npos)
            << devctl("list").output;
    // A port range and an interrupt among the memory ranges do not matter.
    EXPECT_NE(deviceListLine("pci-0000:06:00.0").find(" started"), std::string::npos);
    EXPECT_EQ(spawnChild("expect_word", {"\\\\.\\tolva3", "64", "0x808", "16", "3"}).wait(), 0);

    // A failed mapping is logged with the device's name, the window's bus
    // address and its length, in decimal; a missing range is not a failed
    // mapping.
    std::string log = devctl("log").output;
    struct Entry {
        const char* device;
        uint64_t address;
        uint32_t length;
    };
    using namespace kalvo::sim;
    for (Entry e :
         {Entry{"Tolva1", regionAddress(1) + kMemoryWindowOffset, kMemoryWindowLength},
          Entry{"Tolva2", regionAddress(2) + kControlWindowOffset, kControlWindowLength}}) {
        std::string head = std::string("\\Device\\") + e.device + " ErrorCode=0xC0070004 ";
        std::string strings = std::string("Strings=\"") + e.device + "\",\"" +
                              std::to_string(e.address) + "\",\"" + std::to_string(e.length) + "\"";
        size_t at = log.find(head);
        ASSERT_NE(at, std::string::npos) << head << " in\n" << log;
        std::string line = log.substr(at, log.find('\n', at) - at);
        EXPECT_NE(line.find(strings), std::string::npos) << line;
    }
    EXPECT_EQ(log.find("\\Device\\Tolva0 "), std::string::npos) << log;

    // The device of a board that did not start opens, but its board
    // requests are refused as not ready.
    HANDLE device = openBoardDevice(kTolva0, 64);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ConnectRequestBlock connect = makeConnectBlock(1, 1);
    EXPECT_EQ(requestConnect(device, &connect), -1);
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_NOT_READY);
    Window window;
    EXPECT_FALSE(window.map(device, 64));
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_NOT_READY);
    EXPECT_EQ(requestReset(device), -1);
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_NOT_READY);
    closeBoardDevice(device);
}

// ---- reset --------------------------------------------------------------------------

TEST_F(HostE2E, ResetPulsesTheResetBitAndLeavesItClear) {
    startHost("tolva:id=2");
    // Other bits of the control register are kept.
    ASSERT_EQ(devctl(std::string("write ") + kFirstBoard + " 0 0x50 11000000").exitCode, 0);
    HANDLE device = openBoardDevice(kTolva0, 64);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    Window window;
    ASSERT_TRUE(window.map(device, 64));
    window.write32(kStationRegister, 0x1234);
    EXPECT_EQ(requestReset(device), 0);
    EXPECT_EQ(devctl(std::string("read ") + kFirstBoard + " 0 0x50 4").output,
              "000050: 11 00 00 00\n");
    // The pulse reset the chip: its registers are cleared, the ID word set
    // by the board's jumpers stays.
    EXPECT_EQ(window.read32(kStationRegister), 0u);
    EXPECT_EQ(window.read16(kBoardIdWord), 2);
    EXPECT_EQ(window.unmap(), 0);
    closeBoardDevice(device);
}

// ---- clients that die, clients at once ----------------------------------------------

TEST_F(HostE2E, KilledClientsLeaveTheHostServingTheOthers) {
    startHost("tolva:id=0");
    auto steady = spawnChild("steady_client", {kTolva0, file("steady.ready"), file("stop")});
    ASSERT_TRUE(waitForFile(file("steady.ready"), 60s));

    for (int round = 0; round < 5; ++round) {
        std::string streamReady = file("stream" + std::to_string(round));
        std::string holderReady = file("holder" + std::to_string(round));
        auto stream = spawnChild("request_stream", {kTolva0, streamReady});
        auto holder = spawnChild("hold_view", {kTolva0, holderReady});
        ASSERT_TRUE(waitForFile(streamReady, 60s));
        ASSERT_TRUE(waitForFile(holderReady, 60s));
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * round));
        ASSERT_TRUE(stream.running()) << "the request stream failed";
        stream.kill(SIGKILL);
        holder.kill(SIGKILL);
        ASSERT_TRUE(host_.running()) << host_.log();
    }
    // A new client is served in full while the first one goes on.
    EXPECT_EQ(spawnChild("busy_client", {kTolva0, "20", "9", "0"}).wait(), 0);
    touch(file("stop"));
    EXPECT_EQ(steady.wait(), 0);

    // The dead clients' handles were closed: a stop, which the device
    // refuses while any handle is open, goes through (the host learns of a
    // death from its socket, so give it a moment).
    ToolRun stop;
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while ((stop = devctl(std::string("pnp-stop ") + kFirstBoard)).exitCode != 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(stop.exitCode, 0) << stop.output;
    EXPECT_NE(deviceListLine(kFirstBoard).find(" stopped"), std::string::npos);
    EXPECT_EQ(devctl(std::string("pnp-start ") + kFirstBoard).exitCode, 0);
    EXPECT_EQ(spawnChild("busy_client", {kTolva0, "5", "9", "0"}).wait(), 0);
}

TEST_F(HostE2E, ARemovalWaitingForTheLastHandleEndsWhenItsHolderDies) {
    startHost("tolva:id=0");
    HANDLE device = openBoardDevice(kTolva0, 64);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    auto holder = spawnChild("hold_view", {kTolva0, file("ready")});
    ASSERT_TRUE(waitForFile(file("ready"), 60s));
    ASSERT_EQ(devctl(std::string("surprise ") + kFirstBoard).exitCode, 0);
    // The board is gone: requests on open handles and new opens are refused.
    StatusBlock status{};
    EXPECT_EQ(requestStatus(device, &status), -1);
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_ACCESS_DENIED);
    EXPECT_EQ(openBoardDevice(kTolva0, 64), INVALID_HANDLE_VALUE);
    closeBoardDevice(device);

    // The removal waits for the handle that the child still holds (the
    // request answers at once and says so) ...
    ToolRun removal = devctl(std::string("remove ") + kFirstBoard);
    EXPECT_EQ(removal.exitCode, 0) << removal.output;
    EXPECT_NE(removal.output.find("pending until the last handle closes"), std::string::npos)
        << removal.output;
    EXPECT_NE(deviceListLine(kFirstBoard).find(" remove pending"), std::string::npos);
    // ... and the child's death closes it.
    holder.kill(SIGKILL);
    auto deadline = std::chrono::steady_clock::now() + 60s;
    while (deviceListLine(kFirstBoard).find(" removed") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_NE(deviceListLine(kFirstBoard).find(" removed"), std::string::npos)
        << "the dead client's handle was never closed";
    EXPECT_EQ(openBoardDevice(kTolva0, 64), INVALID_HANDLE_VALUE);
    EXPECT_EQ(lastError(), kalvo::platform::ERROR_FILE_NOT_FOUND);
}

TEST_F(HostE2E, ManyClientsAtOnceAreAllServed) {
    startHost("tolva:id=0,tolva:id=1");
    std::vector<kalvo::testing::ChildProcess> clients;
    for (const char* station : {"3", "4", "5"})
        clients.push_back(spawnChild("busy_client", {kTolva0, "150", station, "0"}));
    clients.push_back(spawnChild("busy_client", {kTolva1, "150", "6", "1"}));
    for (auto& client : clients) EXPECT_EQ(client.wait(), 0);
    ASSERT_TRUE(host_.running()) << host_.log();

    HANDLE device = openBoardDevice(kTolva0, 64);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    StatusBlock status{};
    EXPECT_EQ(requestStatus(device, &status), 0);
    EXPECT_TRUE(isLineState(status.lineState));
    closeBoardDevice(device);
}

TEST_F(HostE2E, StoppingTheHostEndsTheRequestsOfBusyClients) {
    startHost("tolva:id=2");
    std::vector<kalvo::testing::ChildProcess> clients;
    for (int i = 0; i < 2; ++i) {
        clients.push_back(
            spawnChild("work_until_host_ends", {kTolva0, file("ready" + std::to_string(i))}));
    }
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(waitForFile(file("ready" + std::to_string(i)), 60s));
    EXPECT_EQ(host_.stop(), 0) << host_.log();
    // No client hangs on a host that has gone, and none is told success.
    for (auto& client : clients) EXPECT_EQ(client.wait(), 0);
}

}  // namespace
