// The device control requests as the board library sends them, served by
// the driver modules loaded into an in-process kernel with simulated boards.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "tests/support/driver_harness.h"

namespace kalvo::drivertest {
namespace {

namespace rq = kalvo::requests;
using namespace platform;

class StartedTolva : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(h.loaded());
        ASSERT_TRUE(h.addAndStartAll());
        ASSERT_EQ(h.open("\\\\.\\tolva0", &file), STATUS_SUCCESS);
    }

    std::vector<uint8_t> mapBlock64(int32_t command, uint64_t address, uint32_t length) {
        return rq::encodeMapRequest(rq::MapRequest{command, address, length}, 64);
    }

    DriverHarness h{"tolva"};
    kernel::FileId file = 0;
};

TEST_F(StartedTolva, ConnectKeepsWhatTheStatusBlockReports) {
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "7", 3), STATUS_SUCCESS);
    auto s = h.status(file);
    ASSERT_TRUE(s);
    EXPECT_NE(s->lineState, rq::LineState::Idle);
    EXPECT_EQ(s->address, 7);
    EXPECT_EQ(s->size, 3);

    // Only seven digits of the text count; only the low byte of the size,
    // as a signed byte.
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "12345678", 200), STATUS_SUCCESS);
    s = h.status(file);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->address, 1234567);
    EXPECT_EQ(s->size, -56);
}

TEST_F(StartedTolva, ConnectTextMustStartWithADigit) {
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "5", 2), STATUS_SUCCESS);
    ASSERT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_DISCONNECT, {}, 0).status, STATUS_SUCCESS);
    auto before = h.status(file);
    ASSERT_TRUE(before);

    for (const char* text : {" 7", ""}) {  // a blank, a NUL
        for (uint32_t code :
             {rq::IOCTL_TOLVA_CONNECT, rq::IOCTL_TOLVA_CONNECT_LF, rq::IOCTL_TOLVA_CONNECT_GMM}) {
            EXPECT_EQ(h.connect(file, code, text, 9), STATUS_INVALID_PARAMETER) << text;
        }
    }
    auto after = h.status(file);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->lineState, rq::LineState::Idle);
    EXPECT_EQ(after->address, before->address);
    EXPECT_EQ(after->size, before->size);
}

TEST_F(StartedTolva, LengthsAreCheckedExactlyWhereTheInterfaceSaysSo) {
    auto connect = rq::toBytes(rq::makeConnectBlock(1, 1));
    connect.pop_back();
    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_CONNECT, connect, 0).status, STATUS_INVALID_PARAMETER);
    connect.resize(13, 0);
    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_CONNECT_LF, connect, 0).status,
              STATUS_INVALID_PARAMETER);

    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_STATUS, {}, 16).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_STATUS, {}, 11).status, STATUS_INVALID_PARAMETER);
    auto ok = h.ioctl(file, rq::IOCTL_TOLVA_STATUS, {1, 2, 3}, 12);  // input is ignored
    EXPECT_EQ(ok.status, STATUS_SUCCESS);
    EXPECT_EQ(ok.output.size(), 12u);

    auto map = mapBlock64(0, 0, 4096);
    map.resize(12);
    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY, map, 12).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.caller64().viewCount(), 0u);
}

TEST_F(StartedTolva, NameMailAndOptionRequestsSucceedWithoutEffect) {
    auto name = rq::toBytes(rq::makeNameBlock("STATION1"));
    auto r = h.ioctl(file, rq::IOCTL_TOLVA_NAME, name, 20);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_TRUE(r.output.empty());  // the caller's block stays as sent: slot -1
    for (uint32_t code : {rq::IOCTL_TOLVA_MAIL, rq::IOCTL_TOLVA_OPT2, rq::IOCTL_TOLVA_OPT3}) {
        r = h.ioctl(file, code, {}, 0);
        EXPECT_EQ(r.status, STATUS_SUCCESS);
        EXPECT_TRUE(r.output.empty());
    }
    r = h.ioctl(file, rq::tolvaCode(0x80c), {}, 16);
    EXPECT_EQ(r.status, STATUS_NOT_IMPLEMENTED);
    EXPECT_TRUE(r.output.empty());
}

TEST_F(StartedTolva, MapShowsTheWindowAtItsOffsetDespiteAnUnalignedBase) {
    ASSERT_NE(h.memoryWindowAddress(0) % 0x10000, 0u);  // the point of the test
    uint8_t* window = h.memoryWindow(0);
    for (uint32_t i = 0; i < 4096; ++i) window[i] = static_cast<uint8_t>(i * 7 + 1);

    auto r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY, mapBlock64(0, 0, 4096), 24);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    ASSERT_EQ(r.output.size(), 24u);
    auto out = rq::decodeMapRequest(r.output, 64);
    ASSERT_TRUE(out);
    auto* view = reinterpret_cast<volatile uint8_t*>(out->address);
    EXPECT_EQ(view[0], window[0]);
    EXPECT_EQ(view[4095], window[4095]);
    view[0x10] = 0xA5;  // the same bytes, not a copy
    EXPECT_EQ(window[0x10], 0xA5);

    // A map at an offset shows that byte.
    r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY, mapBlock64(0, 0x808, 8), 24);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    auto at = rq::decodeMapRequest(r.output, 64);
    EXPECT_EQ(*reinterpret_cast<volatile uint8_t*>(at->address), window[0x808]);
}

TEST_F(StartedTolva, UnmapSucceedsOnceForTheAddressTheMapReturned) {
    auto r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY, mapBlock64(0, 0, 4096), 24);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    auto out = rq::decodeMapRequest(r.output, 64);
    ASSERT_EQ(h.caller64().viewCount(), 1u);

    auto unmap = mapBlock64(rq::MapCommand::Unmap, out->address, 4096);
    r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY, unmap, 24);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_TRUE(r.output.empty());
    EXPECT_EQ(h.caller64().viewCount(), 0u);
    EXPECT_FALSE(NT_SUCCESS(h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY, unmap, 24).status));
}

TEST_F(StartedTolva, MapsOnlyInsideTheMemoryWindowAndIntoABigEnoughBlock) {
    struct Case {
        uint64_t offset;
        uint32_t length;
    };
    for (Case c : {Case{0, 4097}, Case{4096, 1}, Case{4000, 200}, Case{0, 0},
                   Case{0xFFFFFFFFFFFFF000ull, 0x2000}, Case{1ull << 32, 16}}) {
        auto r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY, mapBlock64(0, c.offset, c.length), 24);
        EXPECT_EQ(r.status, STATUS_INVALID_PARAMETER) << c.offset << "+" << c.length;
    }
    auto r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY, mapBlock64(0, 0, 4096), 12);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(h.caller64().viewCount(), 0u);
    // The last byte of the window is still in reach.
    r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY, mapBlock64(0, 4095, 1), 24);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
}

TEST_F(StartedTolva, ThirtyTwoBitCallersUseTheTwelveByteBlock) {
    h.useCaller(32);
    auto r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY, mapBlock64(0, 0, 4096), 24);
    EXPECT_EQ(r.status, STATUS_INVALID_PARAMETER);
    r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY,
                rq::encodeMapRequest(rq::MapRequest{0, 0, 4096}, 32), 12);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    ASSERT_EQ(r.output.size(), 12u);
    auto out = rq::decodeMapRequest(r.output, 32);
    EXPECT_EQ(*reinterpret_cast<volatile uint8_t*>(out->address), h.memoryWindow(0)[0]);
}

TEST_F(StartedTolva, ResetPulsesBitThirtyAndLeavesItClear) {
    h.writeControl32(0, 0x50, 0x00001234);  // other bits survive the pulse
    uint64_t resets = h.sim().resetCount(0);
    h.bus().clear();
    auto r = h.ioctl(file, rq::IOCTL_TOLVA_RESET, {}, 0);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(h.sim().resetCount(0), resets + 1);
    EXPECT_EQ(h.readControl32(0, 0x50), 0x00001234u);
    // Two stores: bit 30 set, then cleared.
    auto stores = h.bus().writesTo(h.sim().controlWindowAddress(0) + 0x50);
    ASSERT_EQ(stores.size(), 2u);
    EXPECT_EQ(stores[0].width, 4u);
}

TEST_F(StartedTolva, DisconnectWhileIdleClearsTheAreasAtOnce) {
    uint8_t* window = h.memoryWindow(0);
    std::memset(window, 0x5A, 0x800);
    ASSERT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_DISCONNECT, {}, 0).status, STATUS_SUCCESS);
    for (uint32_t off = 0; off < 0x400; off += 4) ASSERT_EQ(h.read32(0, off), 0u) << off;
    for (uint32_t off = 0x500; off < 0x800; off += 4) ASSERT_EQ(h.read32(0, off), 0u) << off;
    EXPECT_EQ(h.read32(0, 0x44C), 0u);
    EXPECT_EQ(h.read32(0, 0x448), 0x5A5A5A5Au);  // the rest of the registers stay
    EXPECT_EQ(h.read32(0, 0x498), 0x5A5A5A5Au);
}

TEST(BoardNotStarted, RequestsThatNeedTheBoardAnswerNotReady) {
    DriverHarness h("tolva:fault=one-memory-range");  // its start fails
    ASSERT_TRUE(h.loaded());
    h.addAndStartAll();
    ASSERT_EQ(h.pnpState(0), "start failed");
    kernel::FileId file = 0;
    ASSERT_EQ(h.open("\\\\.\\TOLVA0", &file), STATUS_SUCCESS);  // names ignore case
    auto connect = rq::toBytes(rq::makeConnectBlock(3, 1));
    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_CONNECT, connect, 0).status, STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_DISCONNECT, {}, 0).status, STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_RESET, {}, 0).status, STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY,
                      rq::encodeMapRequest(rq::MapRequest{0, 0, 4096}, 64), 24)
                  .status,
              STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(h.caller64().viewCount(), 0u);
    // What needs no board still works: station fields are 0 from creation.
    auto s = h.status(file);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->lineState, 0);
    EXPECT_EQ(s->address, 0);
    EXPECT_EQ(s->size, 0);
    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_NAME, {}, 0).status, STATUS_SUCCESS);
}

TEST(StandInDrivers, DualBoardDriverServesOnlyTheThirtyTwoBitBlock) {
    DriverHarness h("kvmdrv", "Kvmdrv");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    kernel::FileId file = 0;
    ASSERT_EQ(h.open("\\\\.\\KVMDRV0", &file), STATUS_SUCCESS);
    h.useCaller(32);
    auto r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY,
                     rq::encodeMapRequest(rq::MapRequest{0, 0, 4096}, 64), 24);
    EXPECT_EQ(r.status, STATUS_INVALID_PARAMETER);
    r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY,
                rq::encodeMapRequest(rq::MapRequest{0, 0, 4096}, 32), 12);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    auto out = rq::decodeMapRequest(r.output, 32);
    EXPECT_EQ(*reinterpret_cast<volatile uint16_t*>(out->address + 0x808),
              *reinterpret_cast<uint16_t*>(h.memoryWindow(0) + 0x808));
}

TEST(StandInDrivers, PcCardDriverNamesItsDevicesAndTakesBothBlockForms) {
    DriverHarness h("cardmaster:count=2", "Cardmaster");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    EXPECT_EQ(h.deviceNames(), (std::vector<std::string>{"Cardmaster0", "Cardmaster1"}));
    kernel::FileId file = 0;
    ASSERT_EQ(h.open("\\\\.\\Cardmaster1", &file), STATUS_SUCCESS);
    auto r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY,
                     rq::encodeMapRequest(rq::MapRequest{0, 0, 4096}, 64), 24);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    h.useCaller(32);
    r = h.ioctl(file, rq::IOCTL_TOLVA_MAP_MEMORY,
                rq::encodeMapRequest(rq::MapRequest{0, 0, 4096}, 32), 12);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
}

}  // namespace
}  // namespace kalvo::drivertest
