// What differs between the builds, run against each build's static library:
// names and device paths, the board range, the bus width in the write count
// register, and the 8-byte accesses.
#include "boardlib/tests/board_fixture.h"

namespace kalvo::boardlib::test {
namespace {

class Variant : public BoardTest {};

TEST_F(Variant, DevicePathsAndBoardRange) {
    ASSERT_EQ(KV_open(1), 0);
    const Trace r = devices.requests();
    ASSERT_FALSE(r.empty());
    if (kBuild.scanInstances) {
        EXPECT_EQ(r.front(), std::string("open ") + kBuild.deviceBase + "0");  // the scan
    } else {
        // Straight to its own instance: no scan, no ID word read.
        EXPECT_EQ(r.front(), std::string("open ") + kBuild.deviceBase + "1");
        EXPECT_TRUE(bus.trace(0x808, 0x80a).empty());
    }
    EXPECT_EQ(KV_open(kBuild.boardCount), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_close(kBuild.boardCount), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_stop(kBuild.boardCount, 0), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_stop(1, 1), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_maxline(), 1);
}

TEST_F(Variant, AccessCountsFollowTheBusWidth) {
    openBoard(0);
    const uint32_t longs[2] = {1, 2};
    ASSERT_EQ(KV_SetMemLong(0, 0, longs, 0, 0, 2), 0);
    const char* count = kBuild.busWidth == 2 ? "W2 40c=4" : "W2 40c=2";
    EXPECT_EQ(bus.trace(0x40c, 0x40e), Trace{count});

    bus.clear();
    const uint64_t dlongs[2] = {0x0102030405060708, 0x1112131415161718};
    ASSERT_EQ(KV_SetMemDLong(0, 0, dlongs, 0, 0, 2), 0);
    Trace expected;
    const char* perElement = kBuild.busWidth == 2 ? "W2 40c=4" : "W2 40c=2";
    if (kBuild.access64) {
        expected = {perElement, "W8 200=102030405060708", perElement, "W8 208=1112131415161718"};
    } else {
        expected = {perElement, "W4 200=5060708",  "W4 204=1020304",
                    perElement, "W4 208=15161718", "W4 20c=11121314"};
    }
    EXPECT_EQ(bus.trace(), expected);

    uint64_t value = 0;
    bus.clear();
    ASSERT_EQ(KV_GetReg64(0, 0, 0x200, &value), 0);
    EXPECT_EQ(value, dlongs[0]);
    EXPECT_EQ(bus.trace(), kBuild.access64 ? Trace{"R8 200"} : (Trace{"R4 200", "R4 204"}));

    const uint16_t words[2] = {7, 8};
    bus.clear();
    ASSERT_EQ(KV_SetMemShort(0, 0, words, 1, 0, 2), 0);
    EXPECT_EQ(bus.trace().front(), "W2 40c=2");  // 16-bit words are one access on every bus
}

}  // namespace
}  // namespace kalvo::boardlib::test
