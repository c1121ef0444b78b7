// Device creation and naming, board start with its resources, the error
// log, stop and removal.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "tests/support/driver_harness.h"

namespace kalvo::drivertest {
namespace {

namespace rq = kalvo::requests;
using namespace platform;

TEST(DeviceNaming, BoardsTakeTheFirstFreeNumberAndAnEleventhGetsNone) {
    DriverHarness h("tolva:count=11");
    ASSERT_TRUE(h.loaded());
    h.addAndStartAll();
    std::vector<std::string> expected;
    for (int n = 0; n < 10; ++n) {
        expected.push_back("Tolva" + std::to_string(n));
        EXPECT_EQ(h.pnpState(n), "started") << n;
    }
    EXPECT_EQ(h.deviceNames(), expected);
    EXPECT_EQ(h.pnpState(10), "add device failed");
    EXPECT_FALSE(NT_SUCCESS(h.lastPnpStatus(10)));
    kernel::FileId file = 0;
    EXPECT_EQ(h.open("\\\\.\\tolva9", &file), STATUS_SUCCESS);
    EXPECT_NE(h.open("\\\\.\\tolva10", &file), STATUS_SUCCESS);
}

TEST(DeviceNaming, AStaleLinkMovesTheBoardToTheNextNumber) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_EQ(h.createStaleLink(u"Tolva0"), STATUS_SUCCESS);
    ASSERT_TRUE(h.addAndStartAll());
    EXPECT_EQ(h.deviceNames(), std::vector<std::string>{"Tolva1"});
    kernel::FileId file = 0;
    ASSERT_EQ(h.open("\\\\.\\tolva1", &file), STATUS_SUCCESS);
    EXPECT_TRUE(h.status(file));
}

TEST(BoardStart, TakesTheTwoMemoryRangesInTheirOrderAmongOtherResources) {
    DriverHarness h("tolva:fault=extra-resources");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    kernel::FileId file = 0;
    ASSERT_EQ(h.open("\\\\.\\tolva0", &file), STATUS_SUCCESS);
    uint64_t resets = h.sim().resetCount(0);
    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_RESET, {}, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(h.sim().resetCount(0), resets + 1);  // the control window is the first range
    auto r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY,
                     rq::encodeMapRequest(rq::MapRequest{0, 0, 4096}, 64), 24);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    auto out = rq::decodeMapRequest(r.output, 64);
    h.memoryWindow(0)[0x808] = 0x3C;
    EXPECT_EQ(*reinterpret_cast<volatile uint8_t*>(out->address + 0x808), 0x3C);
}

TEST(BoardStart, OneMemoryRangeIsNotEnough) {
    DriverHarness h("tolva:fault=one-memory-range");
    ASSERT_TRUE(h.loaded());
    h.addAndStartAll();
    EXPECT_EQ(h.pnpState(0), "start failed");
    EXPECT_EQ(h.lastPnpStatus(0), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(h.errorLog().empty());
    EXPECT_EQ(h.sim().liveMappings(), 0u);
}

TEST(BoardStart, AFailedWindowMappingIsLoggedWithNameAddressAndLength) {
    for (const char* fault : {"fail-control-map", "fail-memory-map"}) {
        SCOPED_TRACE(fault);
        DriverHarness h(std::string("tolva:fault=") + fault);
        ASSERT_TRUE(h.loaded());
        h.addAndStartAll();
        EXPECT_EQ(h.pnpState(0), "start failed");
        EXPECT_EQ(h.lastPnpStatus(0), STATUS_INSUFFICIENT_RESOURCES);
        EXPECT_EQ(h.sim().liveMappings(), 0u);  // nothing stays mapped
        auto log = h.errorLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(static_cast<uint32_t>(log[0].errorCode), 0xC0070004u);
        bool control = std::string(fault) == "fail-control-map";
        uint64_t address = control ? h.sim().controlWindowAddress(0) : h.memoryWindowAddress(0);
        uint32_t length = control ? 0x80 : 0x1000;
        EXPECT_EQ(log[0].strings, (std::vector<std::string>{
                                      "Tolva0", std::to_string(static_cast<uint32_t>(address)),
                                      std::to_string(length)}));
    }
}

TEST(BoardStop, StopsTheLineClearsTheEnableRegistersAndKeepsViews) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    kernel::FileId file = 0;
    ASSERT_EQ(h.open("\\\\.\\tolva0", &file), STATUS_SUCCESS);
    auto r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY,
                     rq::encodeMapRequest(rq::MapRequest{0, 0, 4096}, 64), 24);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    auto view = rq::decodeMapRequest(r.output, 64)->address;
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "4", 1), STATUS_SUCCESS);
    h.close(file);  // a handle open would refuse the stop

    h.write32(0, 0x800, 0xFFFFFFFF);
    h.bus().clear();
    ASSERT_EQ(h.stop(0), STATUS_SUCCESS);
    auto w800 = h.bus().writesTo(h.memoryWindowAddress(0) + 0x800);
    auto w802 = h.bus().writesTo(h.memoryWindowAddress(0) + 0x802);
    ASSERT_EQ(w800.size(), 1u);
    ASSERT_EQ(w802.size(), 1u);
    EXPECT_EQ(w800[0].width, 2u);
    EXPECT_EQ(w800[0].value & 0xFFFF, 0u);
    EXPECT_LT(w800[0].when, w802[0].when + std::chrono::nanoseconds(1));
    EXPECT_EQ(h.sim().liveMappings(), 0u);

    // The timer is stopped: nothing touches the board any more.
    h.bus().clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    EXPECT_TRUE(h.bus().all().empty());
    // The view made before the stop is still memory of the process.
    *reinterpret_cast<volatile uint8_t*>(view + 0x10) = 0x77;
    EXPECT_EQ(h.memoryWindow(0)[0x10], 0x77);

    // A new start begins idle, station fields kept.
    ASSERT_EQ(h.start(0), STATUS_SUCCESS);
    ASSERT_EQ(h.open("\\\\.\\tolva0", &file), STATUS_SUCCESS);
    auto s = h.status(file);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->lineState, 0);
    EXPECT_EQ(s->address, 4);
    EXPECT_EQ(s->size, 1);
}

TEST(BoardRemoval, RemovesTheDeviceAndItsLink) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    kernel::FileId file = 0;
    ASSERT_EQ(h.open("\\\\.\\tolva0", &file), STATUS_SUCCESS);
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "1", 1), STATUS_SUCCESS);
    h.close(file);
    ASSERT_EQ(h.remove(0), STATUS_SUCCESS);
    EXPECT_TRUE(h.deviceNames().empty());
    EXPECT_EQ(h.sim().liveMappings(), 0u);
    EXPECT_EQ(h.open("\\\\.\\tolva0", &file), STATUS_OBJECT_NAME_NOT_FOUND);
}

}  // namespace
}  // namespace kalvo::drivertest
