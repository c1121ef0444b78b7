// The device host with --hardware pci against a sysfs tree the test builds:
// boards found by the IDs in the drivers' registry parameters and started,
// their windows mapped into client processes, a board whose window cannot
// be mapped logged by its driver while the other works, boards pulled and
// put back while the host runs, and the whole stack (libKalvo, the board
// library, the host, the driver) on a fake board whose chip a test thread
// plays.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <fcntl.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <thread>

#include "boardlib/requests/board_device.h"
#include "boardlib/requests/request_wrappers.h"
#include "driver/requests/chip_registers.h"
#include "driver/requests/request_blocks.h"
#include "tests/support/api_test_folder.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/kalvo_loader.h"
#include "tests/support/private_host.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using kalvo::drivertest::devctl;
using kalvo::drivertest::deviceListLine;
using kalvo::testing::FakeSysfs;
using kalvo::testing::spawnChild;
namespace rq = kalvo::requests;
namespace chip = kalvo::chipmap;

constexpr uint16_t kVendor = 0x4b56;
constexpr uint16_t kTolvaDevice = 0x0001;
constexpr const char* kFirst = "0000:03:00.0";
constexpr const char* kSecond = "0000:04:00.0";
constexpr uint32_t kWindowLength = 0x1000;

// The Tolva board's BARs: BAR0 the control registers, BAR1 an I/O range
// the driver does not use, BAR2 the chip's 4 KiB memory window.
std::vector<FakeSysfs::Bar> tolvaBars(uint64_t base) {
    return {{base, 0x80, FakeSysfs::kMem},
            {0xe000, 0x20, FakeSysfs::kIo},
            {base + 0x1000, kWindowLength, FakeSysfs::kMem}};
}

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return condition();
}

// device, offset, value: a client process that opens the board as the
// 64-bit board library does, maps its memory window, stores a 16-bit word
// and reads back the board ID word (its exit status: 0 when all went).
KALVO_CHILD(pci_window_writer) {
    using namespace kalvo::boardlib;
    auto device = openBoardDevice(args.at(0).c_str(), 64);
    if (device == kalvo::platform::INVALID_HANDLE_VALUE) return 2;
    rq::MapRequestBlock64 map{rq::MapCommand::Map, 0, 0, kWindowLength, 0};
    if (requestMapMemory(device, &map) != 0 || map.address == 0) return 3;
    const auto offset = std::stoul(args.at(1), nullptr, 0);
    const auto value = static_cast<uint16_t>(std::stoul(args.at(2), nullptr, 0));
    *reinterpret_cast<volatile uint16_t*>(map.address + offset) = value;
    rq::MapRequestBlock64 unmap{rq::MapCommand::Unmap, 0, map.address, kWindowLength, 0};
    if (requestMapMemory(device, &unmap) != 0) return 4;
    closeBoardDevice(device);
    return 0;
}

class PciHost : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.work().write(
            "registry.reg",
            "[\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Tolva\\"
            "Parameters]\n\"VendorID\"=dword:00004b56\n\"DeviceID\"=dword:00000001\n");
    }
    void TearDown() override {
        if (host_.running()) {
            EXPECT_EQ(host_.stop(), 0) << host_.log();
        }
    }
    // rescanMillis: how often the host looks for boards by itself (0: only
    // when kalvo-devctl rescan asks, so a test sees each change in the
    // answer of its own request).
    void startHost(const char* rescanMillis = "500") {
        std::string why;
        ASSERT_TRUE(host_.start(env_.work().file("devices"), env_.work().file("devhost.log"),
                                "tolva", &why,
                                {"--hardware", "pci", "--sysfs-root", sysfs_.root(), "--registry",
                                 env_.work().file("registry.reg"), "--error-log",
                                 env_.work().file("errorlog.txt"), "--rescan-ms", rescanMillis}))
            << why;
    }
    // A client process stores value at offset of the device's window.
    int clientWrites(const char* device, uint32_t offset, uint16_t value) {
        char o[16], v[16];
        std::snprintf(o, sizeof o, "0x%x", unsigned(offset));
        std::snprintf(v, sizeof v, "0x%x", unsigned(value));
        return spawnChild("pci_window_writer", {device, o, v}).wait();
    }
    std::string line(const char* address) { return deviceListLine(std::string("pci-") + address); }
    // Two boards, the first one's device opened by this process.
    kalvo::platform::HANDLE startTwoBoardsHoldingTheFirst(const char* rescanMillis) {
        sysfs_.addDevice(kFirst, kVendor, kTolvaDevice, tolvaBars(0xfe000000));
        sysfs_.addDevice(kSecond, kVendor, kTolvaDevice, tolvaBars(0xfd000000));
        startHost(rescanMillis);
        return kalvo::boardlib::openBoardDevice("\\\\.\\tolva0", 64);
    }

    kalvo::testing::IsolatedEnvironment env_;
    FakeSysfs sysfs_{env_.work().file("sys")};
    kalvo::drivertest::PrivateHost host_;
};

TEST_F(PciHost, StartsTheBoardsWithTheDriversIdsAndLeavesOtherDevicesAlone) {
    sysfs_.addDevice(kFirst, kVendor, kTolvaDevice, tolvaBars(0xfe000000));
    sysfs_.addDevice(kSecond, kVendor, kTolvaDevice, tolvaBars(0xfd000000));
    sysfs_.addDevice("0000:05:00.0", kVendor, 0x0042, tolvaBars(0xfc000000));
    sysfs_.addDevice("0000:00:1f.0", 0x8086, kTolvaDevice, {});
    startHost();
    const std::string list = devctl("list").output;
    for (const char* address : {kFirst, kSecond}) {
        EXPECT_NE(line(address).find(" tolva "), std::string::npos) << list;
        EXPECT_NE(line(address).find(" started"), std::string::npos) << list;
        // Written in place, as to the kernel's attribute: "1" over the "0".
        EXPECT_EQ(sysfs_.read(sysfs_.folder(address) + "/enable").substr(0, 1), "1");
    }
    EXPECT_EQ(list.find("0000:05:00.0"), std::string::npos) << list;
    EXPECT_EQ(list.find("0000:00:1f.0"), std::string::npos) << list;
    // The drivers without IDs in the registry are named, with what to do.
    EXPECT_NE(host_.log().find("driver Kvmdrv serves no PCI board: its registry key "
                               "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Kvmdrv"
                               "\\Parameters has no VendorID and DeviceID"),
              std::string::npos)
        << host_.log();
    EXPECT_EQ(devctl("log").output.find("ErrorCode="), std::string::npos);
}

TEST_F(PciHost, AClientProcessWritesThroughItsViewIntoTheBoardsWindow) {
    sysfs_.addDevice(kFirst, kVendor, kTolvaDevice, tolvaBars(0xfe000000));
    sysfs_.addDevice(kSecond, kVendor, kTolvaDevice, tolvaBars(0xfd000000));
    startHost();
    // Each board's view maps its own resource file: the write lands in the
    // file of that board at the offset written, and in no other.
    EXPECT_EQ(clientWrites("\\\\.\\tolva0", 0x208, 0x1234), 0) << host_.log();
    EXPECT_EQ(clientWrites("\\\\.\\tolva1", 0x20A, 0x5678), 0) << host_.log();
    EXPECT_EQ(sysfs_.load<uint16_t>(kFirst, 2, 0x208), 0x1234);
    EXPECT_EQ(sysfs_.load<uint16_t>(kSecond, 2, 0x20A), 0x5678);
    EXPECT_EQ(sysfs_.load<uint16_t>(kFirst, 2, 0x20A), 0);
    EXPECT_EQ(sysfs_.load<uint16_t>(kSecond, 2, 0x208), 0);
    EXPECT_EQ(devctl("handles").output.rfind("handles 0\nviews 0\n", 0), 0u);
}

TEST_F(PciHost, ABoardWhoseWindowCannotBeMappedIsLoggedAndTheOtherWorks) {
    auto bars = tolvaBars(0xfe000000);
    bars[2].fileLength = 0x800;  // half the BAR
    sysfs_.addDevice(kFirst, kVendor, kTolvaDevice, bars);
    sysfs_.addDevice(kSecond, kVendor, kTolvaDevice, tolvaBars(0xfd000000));
    startHost();
    EXPECT_NE(line(kFirst).find("start failed"), std::string::npos) << devctl("list").output;
    EXPECT_NE(line(kSecond).find("started"), std::string::npos) << devctl("list").output;
    // The driver's own entry for a window it cannot map: its device, the
    // window's bus address and length.
    const std::string log = devctl("log").output;
    EXPECT_NE(log.find("\\Device\\Tolva0 ErrorCode=0xC0070004"), std::string::npos) << log;
    EXPECT_NE(log.find("Strings=\"Tolva0\",\"4261416960\",\"4096\""), std::string::npos) << log;
    EXPECT_NE(host_.log().find("board pci-0000:03:00.0: " + sysfs_.barFile(kFirst, 2) +
                               " holds 2048 bytes, less than its range (4096 bytes)"),
              std::string::npos)
        << host_.log();
    EXPECT_EQ(clientWrites("\\\\.\\tolva1", 0x210, 0x0BAD), 0) << host_.log();
    EXPECT_EQ(sysfs_.load<uint16_t>(kSecond, 2, 0x210), 0x0BAD);
}

TEST_F(PciHost, ABoardPulledAndPutBackIsRemovedAndStartedAgain) {
    using namespace kalvo::platform;
    HANDLE held = startTwoBoardsHoldingTheFirst("0");
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    // Pulled with a handle open: surprise removal now, the remove once the
    // handle is closed.
    sysfs_.unplug(kFirst);
    auto rescan = devctl("rescan");
    EXPECT_EQ(rescan.exitCode, 0) << rescan.output;
    EXPECT_NE(rescan.output.find("removed pci-0000:03:00.0"), std::string::npos) << rescan.output;
    EXPECT_NE(line(kFirst).find("surprise removed"), std::string::npos) << devctl("list").output;
    rq::StatusBlock status{};
    EXPECT_NE(kalvo::boardlib::requestStatus(held, &status), 0);
    kalvo::boardlib::closeBoardDevice(held);
    EXPECT_EQ(devctl("rescan").exitCode, 0);
    EXPECT_EQ(line(kFirst), "") << devctl("list").output;
    EXPECT_NE(line(kSecond).find("started"), std::string::npos);

    // Put back: a new device, started, whose window works.
    sysfs_.plug(kFirst);
    rescan = devctl("rescan");
    EXPECT_NE(rescan.output.find("added pci-0000:03:00.0"), std::string::npos) << rescan.output;
    EXPECT_NE(line(kFirst).find("started"), std::string::npos) << devctl("list").output;
    const std::string link = line(kFirst).substr(line(kFirst).find("\\??\\") + 4);
    const std::string device = "\\\\.\\" + link.substr(0, link.find(' '));
    EXPECT_EQ(clientWrites(device.c_str(), 0x220, 0x4242), 0) << host_.log();
    EXPECT_EQ(sysfs_.load<uint16_t>(kFirst, 2, 0x220), 0x4242);
}

// Another board put in the slot between two looks (here with --rescan-ms 0,
// so nothing looks in between) is not the old one: the old device is
// surprise-removed and removed, the new board gets a device of its own at
// its own addresses.
TEST_F(PciHost, ABoardReplacedBetweenScansIsARemovalAndAnArrival) {
    sysfs_.addDevice(kFirst, kVendor, kTolvaDevice, tolvaBars(0xfe000000));
    startHost("0");
    ASSERT_NE(line(kFirst).find("started"), std::string::npos) << devctl("list").output;
    sysfs_.remove(kFirst);
    sysfs_.addDevice(kFirst, kVendor, kTolvaDevice, tolvaBars(0xfc000000));
    auto rescan = devctl("rescan");
    EXPECT_EQ(rescan.exitCode, 0) << rescan.output;
    EXPECT_NE(rescan.output.find("removed pci-0000:03:00.0\nadded pci-0000:03:00.0\n"),
              std::string::npos)
        << rescan.output;
    ASSERT_NE(line(kFirst).find("started"), std::string::npos) << devctl("list").output;
    const std::string link = line(kFirst).substr(line(kFirst).find("\\??\\") + 4);
    const std::string device = "\\\\.\\" + link.substr(0, link.find(' '));
    EXPECT_EQ(clientWrites(device.c_str(), 0x230, 0x5151), 0) << host_.log();
    EXPECT_EQ(sysfs_.load<uint16_t>(kFirst, 2, 0x230), 0x5151);
}

// The removal of a surprise-removed device waits for its last handle, but
// nothing waits with it: the admin request answers at once, the periodic
// scan goes on, and the host's stop (SIGTERM, with the handle still open)
// closes the handle and ends in a moment.
TEST_F(PciHost, AnAdminRemoveWithAHandleOpenAnswersAtOnceAndTheHostStillStops) {
    using namespace kalvo::platform;
    HANDLE held = startTwoBoardsHoldingTheFirst("50");
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_EQ(devctl("surprise pci-0000:03:00.0").exitCode, 0);
    auto removal = std::async(std::launch::async, [] { return devctl("remove pci-0000:03:00.0"); });
    if (removal.wait_for(20s) != std::future_status::ready) {
        ADD_FAILURE() << "the remove waits for the handle";
        kalvo::boardlib::closeBoardDevice(held);  // lets it end
        removal.wait();
        return;
    }
    const auto answer = removal.get();
    EXPECT_EQ(answer.exitCode, 0) << answer.output;
    EXPECT_NE(
        answer.output.find("removal of pci-0000:03:00.0 pending until the last handle closes"),
        std::string::npos)
        << answer.output;
    // The scan is not held up by it: a board pulled now goes.
    sysfs_.unplug(kSecond);
    EXPECT_TRUE(eventually([&] { return line(kSecond).empty(); })) << devctl("list").output;

    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(host_.stop(), 0) << host_.log();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);  // well under a second unloaded
    kalvo::boardlib::closeBoardDevice(held);
}

TEST_F(PciHost, ThePeriodicScanSeesAPullWithoutBeingAsked) {
    sysfs_.addDevice(kFirst, kVendor, kTolvaDevice, tolvaBars(0xfe000000));
    sysfs_.addDevice(kSecond, kVendor, kTolvaDevice, tolvaBars(0xfd000000));
    startHost("50");
    ASSERT_NE(line(kSecond).find("started"), std::string::npos) << devctl("list").output;
    sysfs_.unplug(kSecond);
    EXPECT_TRUE(eventually([&] { return line(kSecond).empty(); })) << devctl("list").output;
    EXPECT_NE(line(kFirst).find("started"), std::string::npos) << devctl("list").output;
}

// The network chip as far as a line connect needs it: when the driver sets
// the start command, the chip reports the line running.
class ChipThread {
  public:
    explicit ChipThread(const std::string& window) {
        int fd = ::open(window.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return;
        void* p = mmap(nullptr, kWindowLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        if (p == MAP_FAILED) return;
        memory_ = static_cast<uint8_t*>(p);
        thread_ = std::thread([this] { run(); });
    }
    ~ChipThread() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (memory_) munmap(memory_, kWindowLength);
    }
    bool mapped() const { return memory_ != nullptr; }
    uint32_t starts() const { return starts_; }

  private:
    void run() {
        std::atomic_ref<uint32_t> command(
            *reinterpret_cast<uint32_t*>(memory_ + chip::kCommandRegister));
        while (!stop_) {
            const uint32_t value = command.load();
            if ((value & chip::kCommandStart) && !(value & chip::kCommandRunning)) {
                command.store(value | chip::kCommandRunning);
                ++starts_;
            }
            std::this_thread::sleep_for(1ms);
        }
    }
    uint8_t* memory_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<uint32_t> starts_{0};
    std::thread thread_;
};

TEST_F(PciHost, AnApplicationsDioWordReachesTheBoardsWindowThroughTheWholeStack) {
    sysfs_.addDevice(kFirst, kVendor, kTolvaDevice, tolvaBars(0xfe000000));
    ChipThread chipThread(sysfs_.barFile(kFirst, 2));
    ASSERT_TRUE(chipThread.mapped());
    startHost();
    // One board of the 64-bit library's kind; DIO_1 at station 3, word 0.
    env_.work().write("Kalvo.ini", kalvo::apitest::boardsIni({"Pcimaster64"}) +
                                       kalvo::apitest::unitIni("DIO_1", 1, 1, 3, "0"));
    {
        // Loading the library in the first process starts the line.
        kalvo::apitest::KalvoLibrary kv;
        ASSERT_TRUE(kv.loaded());
        ASSERT_EQ(kv.KV_CheckBoard(1), 0) << host_.log();
        ASSERT_EQ(kv.KV_DIO_Open(1), 0);
        EXPECT_TRUE(eventually([&] { return chipThread.starts() > 0; }));
        EXPECT_EQ(kv.KV_DIO_OutData(1, 0xA55A), 0);
        // Station 3's output block in the GM area.
        EXPECT_EQ(sysfs_.load<uint16_t>(kFirst, 2, chip::kGmArea + 8 * 3), 0xA55A);
        EXPECT_EQ(kv.KV_DIO_Close(1), 0);
    }
    // The library's unload in the last process cleared the outputs.
    EXPECT_EQ(sysfs_.load<uint16_t>(kFirst, 2, chip::kGmArea + 8 * 3), 0);
}

}  // namespace
