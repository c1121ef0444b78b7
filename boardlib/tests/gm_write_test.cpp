// The window protocols as the chip sees them: the write count register
// before every block of a GM write, the reset fill, the baud-rate bits, and
// one access per element and register.
#include <algorithm>
#include <chrono>
#include <climits>

#include "boardlib/tests/board_fixture.h"

namespace kalvo::boardlib::test {
namespace {

class GmWrite : public BoardTest {
  protected:
    void SetUp() override {
        BoardTest::SetUp();
        openBoard();
    }
};

TEST_F(GmWrite, BytesLoadTheCountBeforeEachBlock) {
    uint8_t data[28];
    for (int i = 0; i < 28; ++i) data[i] = static_cast<uint8_t>(0xA0 + i);

    // Station 1, offset 3, 12 bytes: element 11 starts 5 before the block
    // end, then a tail of 7 (no whole middle block).
    ASSERT_EQ(KV_SetMemByte(0, 0, data, 1, 3, 12), 0);
    Trace expected = {"W2 40c=5"};
    char text[32];
    for (uint32_t i = 0; i < 12; ++i) {
        if (i == 5) expected.push_back("W2 40c=7");
        platform::formatTo(text, "W1 %x=%x", 0x20b + i, data[i]);
        expected.push_back(text);
    }
    EXPECT_EQ(bus.trace(), expected);

    // Station 0, 20 bytes: 8, a middle block whose count is checked before
    // every byte, and a tail of 4.
    bus.clear();
    ASSERT_EQ(KV_SetMemByte(0, 0, data, 0, 0, 20), 0);
    expected = {"W2 40c=8"};
    for (uint32_t i = 0; i < 20; ++i) {
        if (i == 8) expected.push_back("W2 40c=8");
        if (i == 16) expected.push_back("W2 40c=4");
        if (i >= 8 && i < 16) expected.push_back("R2 40c");
        platform::formatTo(text, "W1 %x=%x", 0x200 + i, data[i]);
        expected.push_back(text);
    }
    EXPECT_EQ(bus.trace(), expected);
    EXPECT_EQ(std::memcmp(window() + 0x200, data, 20), 0);
}

TEST_F(GmWrite, MiddleBlocksAreReArmedWhenTheCountReadsZero) {
    uint8_t data[28] = {};
    // 28 bytes from 0: head 8, middle 16, tail 4. The chip has counted the
    // first middle block down to 0 when the second begins.
    ASSERT_EQ(KV_SetMemByte(0, 0, data, 0, 0, 28), 0);
    Trace regs = bus.trace(0x40c, 0x40e);
    Trace expected = {"W2 40c=8", "W2 40c=8"};
    for (int i = 0; i < 16; ++i) {
        expected.push_back("R2 40c");
        if (i == 8) expected.push_back("W2 40c=8");
    }
    expected.push_back("W2 40c=4");
    EXPECT_EQ(regs, expected);
}

TEST_F(GmWrite, ShortsLongsAndEightByteElements) {
    const uint16_t words[2] = {0x1111, 0x2222};
    ASSERT_EQ(KV_SetMemShort(0, 0, words, 0, 2, 2), 0);
    EXPECT_EQ(bus.trace(), (Trace{"W2 40c=2", "W2 204=1111", "W2 206=2222"}));

    bus.clear();
    const uint32_t longs[2] = {0x01020304, 0x05060708};
    ASSERT_EQ(KV_SetMemLong(0, 0, longs, 0, 0, 2), 0);
    EXPECT_EQ(bus.trace(), (Trace{"W2 40c=2", "W4 200=1020304", "W4 204=5060708"}));

    bus.clear();
    const uint64_t dlongs[3] = {0x1111111122222222, 0x3333333344444444, 0x5555555566666666};
    ASSERT_EQ(KV_SetMemDLong(0, 0, dlongs, 1, 1, 3), 0);
    EXPECT_EQ(bus.trace(), (Trace{"W2 40c=2", "W4 210=22222222", "W4 214=11111111", "W2 40c=2",
                                  "W4 218=44444444", "W4 21c=33333333", "W2 40c=2",
                                  "W4 220=66666666", "W4 224=55555555"}));

    uint64_t back[3] = {};
    bus.clear();
    ASSERT_EQ(KV_GetMemDLong(0, 0, back, 2, 0, 3), 0);
    EXPECT_EQ(std::memcmp(back, dlongs, sizeof back), 0);
    EXPECT_EQ(bus.trace().size(), 6u);  // two 32-bit loads per element, no register
}

TEST_F(GmWrite, ReadsCopyOneAccessPerElement) {
    for (int i = 0; i < 16; ++i) window()[0x200 + 8 * 3 + i] = static_cast<uint8_t>(i);
    uint16_t words[3] = {};
    ASSERT_EQ(KV_GetMemShort(0, 0, words, 3, 1, 3), 0);
    EXPECT_EQ(bus.trace(), (Trace{"R2 21a", "R2 21c", "R2 21e"}));
    EXPECT_EQ(words[0], 0x0302);
    EXPECT_EQ(words[2], 0x0706);
}

TEST_F(GmWrite, ResetFillsTheStartedStationsBlocks) {
    ASSERT_EQ(KV_start(0, 0, 2, 3, 0), 0);
    std::memset(window() + 0x200, 0xEE, 512);
    bus.clear();
    ASSERT_EQ(KV_reset(0, 0, 0x51234), 0);  // only the low 16 bits count
    for (int i = 0; i < 512; i += 2) {
        uint16_t w;
        std::memcpy(&w, window() + 0x200 + i, 2);
        const bool inside = i >= 16 && i < 40;
        EXPECT_EQ(w, inside ? 0x1234 : 0xEEEE) << "GM byte " << i;
    }
    // 12 words from word 8: a head of 4, then two whole blocks.
    Trace regs = bus.trace(0x40c, 0x40e);
    EXPECT_EQ(regs.front(), "W2 40c=4");
    EXPECT_EQ(std::count(regs.begin(), regs.end(), "W2 40c=4"), 3);

    // Stopped: nothing recorded, nothing written.
    ASSERT_EQ(KV_stop(0, 0), 0);
    bus.clear();
    EXPECT_EQ(KV_reset(0, 0, 0x7777), 0);
    EXPECT_TRUE(bus.trace().empty());
}

TEST_F(GmWrite, StartClampsTheStationRange) {
    struct Case {
        int32_t address, count;
        std::string sent;
        int32_t a, n;
    } cases[] = {{70, 5, "connect 63 1", 63, 1},
                 {10, 0, "connect 10 1", 10, 1},
                 {60, 10, "connect 60 4", 60, 4},
                 {5, INT32_MAX, "connect 5 59", 5, 59}};
    for (const Case& c : cases) {
        devices.clear();
        ASSERT_EQ(KV_start(0, 0, c.address, c.count, 0), 0);
        EXPECT_EQ(devices.requests(), Trace{c.sent});
        int32_t a = -1, n = -1;
        ASSERT_EQ(KV_GetCnectStat(0, 0, &a, &n), 0);
        EXPECT_EQ(a, c.a);
        EXPECT_EQ(n, c.n);
    }
    devices.clear();
    ASSERT_EQ(KV_start_lf(0, 0, 1, 2, 0), 0);
    EXPECT_EQ(devices.requests(), Trace{"connectLF 1 2"});

    // A failed start keeps the range of the last good one.
    devices.failPrefix = "connect";
    EXPECT_EQ(KV_start(0, 0, 7, 7, 0), KV_ERR_START);
    int32_t a = -1, n = -1;
    KV_GetCnectStat(0, 0, &a, &n);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(n, 2);
}

TEST_F(GmWrite, StopOfALineNeverStarted) {
    int32_t a = -1, n = -1;
    EXPECT_EQ(KV_stop(0, 0), 0);
    EXPECT_EQ(devices.requests(), Trace{"disconnect"});
    KV_GetCnectStat(0, 0, &a, &n);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(n, 0);
}

TEST_F(GmWrite, BaudBitsBetweenTheGmmRequestAndTheConnect) {
    const uint16_t setup = 0x1F3F;  // bits 6 and 7 set, others too
    std::memcpy(window() + 0x498, &setup, 2);

    // No baud code: one request, the register untouched.
    ASSERT_EQ(KV_start(0, 0, 4, 1, 0), 0);
    EXPECT_EQ(devices.requests(), Trace{"connect 4 1"});
    EXPECT_TRUE(bus.trace(0x498, 0x49a).empty());

    ASSERT_EQ(KV_config(0, 0, 6), 0);
    devices.clear();
    auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(KV_start(0, 0, 4, 1, 0), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(300));
    EXPECT_EQ(devices.requests(), (Trace{"gmm 4 1", "connect 4 1"}));
    EXPECT_EQ(bus.trace(0x498, 0x49a), (Trace{"R2 498", "W2 498=1fbf"}));

    for (auto [code, bits] : {std::pair{3, 0x1f7f}, std::pair{12, 0x1fff}, std::pair{0, 0x1fff}}) {
        KV_config(0, 0, code);
        bus.clear();
        ASSERT_EQ(KV_ConnectGMM(0, 0), 0);
        char text[32];
        platform::formatTo(text, "W2 498=%x", bits);
        EXPECT_EQ(bus.trace(0x498, 0x49a).back(), text) << "baud " << code;
        std::memcpy(window() + 0x498, &setup, 2);
    }

    // The GMM request fails: no baud bits, no connect, code 15.
    KV_config(0, 0, 6);
    devices.failPrefix = "gmm";
    devices.clear();
    bus.clear();
    EXPECT_EQ(KV_start(0, 0, 4, 1, 0), KV_ERR_START);
    EXPECT_EQ(devices.requests(), Trace{"gmm 4 1"});
    EXPECT_TRUE(bus.trace(0x498, 0x49a).empty());
    EXPECT_EQ(KV_Connect(0, 0, nullptr), KV_ERR_ARGUMENT);
    KV_CONNECT_RECORD record = {"9", 2};
    EXPECT_EQ(KV_Connect(0, 0, &record), KV_ERR_REQUEST);
}

TEST_F(GmWrite, RegistersAreOneAccessOfTheirWidth) {
    ASSERT_EQ(KV_SetReg16(0, 0, 0x10498, 0x12345), 0);  // offset and value cut to 16 bits
    ASSERT_EQ(KV_SetReg32(0, 0, 0x100, 0x7abcdef0), 0);
    ASSERT_EQ(KV_SetReg64(0, 0, 0x428, 0x8000000000000001), 0);
    EXPECT_EQ(bus.trace(),
              (Trace{"W2 498=2345", "W4 100=7abcdef0", "W4 428=1", "W4 42c=80000000"}));
    uint64_t v64 = 0;
    uint16_t ck = 0;
    bus.clear();
    ASSERT_EQ(KV_GetReg64(0, 0, 0x428, &v64), 0);
    ASSERT_EQ(KV_Ck(0, 0, &ck), 0);
    EXPECT_EQ(v64, 0x8000000000000001u);
    EXPECT_EQ(bus.trace(), (Trace{"R4 428", "R4 42c", "R2 478"}));
}

TEST_F(GmWrite, StationSlots) {
    uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    devices.ownStation = 64 + 6;  // the low 6 bits are the own address
    ASSERT_EQ(KV_Put(0, 0, data), 0);
    EXPECT_EQ(bus.trace(), (Trace{"W4 30=4030201", "W4 34=8070605"}));

    uint8_t back[8] = {};
    bus.clear();
    ASSERT_EQ(KV_Get(0, 0, 64 + 6, back), 0);  // station 70 reads slot 6
    EXPECT_EQ(bus.trace(), (Trace{"R4 30", "R4 34"}));
    EXPECT_EQ(std::memcmp(back, data, 8), 0);

    // Without the own address there is nothing to write: -1, not 0.
    devices.failPrefix = "status";
    bus.clear();
    EXPECT_EQ(KV_Put(0, 0, data), KV_ERR_REQUEST);
    EXPECT_TRUE(bus.trace().empty());
}

TEST_F(GmWrite, SlotAddresses) {
    void* address = nullptr;
    ASSERT_EQ(KV_Attach(0, 0, &address), 0);
    EXPECT_EQ(address, window());
    ASSERT_EQ(KV_Alloc(0, 0, 63, &address), 0);
    EXPECT_EQ(address, window() + 504);
    ASSERT_EQ(KV_Map(0, 0, "12", &address), 0);
    EXPECT_EQ(address, window() + 96);
    EXPECT_TRUE(devices.requests().empty());

    devices.nameSlot = 7;
    ASSERT_EQ(KV_Map(0, 0, "ST07", &address), 0);
    EXPECT_EQ(address, window() + 56);
    EXPECT_EQ(devices.requests(), Trace{"name ST07"});

    // Unknown name, too long a text, no such station: the address stays.
    void* const kept = address;
    devices.nameSlot = -1;
    EXPECT_EQ(KV_Map(0, 0, "ST08", &address), KV_ERR_REQUEST);
    EXPECT_EQ(KV_Map(0, 0, "ABCDEFGHIJKL", &address), KV_ERR_REQUEST);
    EXPECT_EQ(KV_Map(0, 0, "99", &address), KV_ERR_ARGUMENT);
    devices.nameSlot = 64;
    EXPECT_EQ(KV_Map(0, 0, "ST09", &address), KV_ERR_ARGUMENT);
    devices.failPrefix = "name";
    EXPECT_EQ(KV_Map(0, 0, "ST10", &address), KV_ERR_REQUEST);
    EXPECT_EQ(address, kept);
    EXPECT_EQ(KV_Alloc(0, 0, 64, &address), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_Alloc(0, 0, -1, &address), KV_ERR_ARGUMENT);
    EXPECT_EQ(address, kept);
}

TEST_F(GmWrite, AccessesThatWouldLeaveTheWindowAreRefused) {
    uint8_t bytes[16] = {};
    uint16_t word = 0;
    uint64_t wide = 0;
    EXPECT_EQ(KV_SetMemByte(0, 0, bytes, 0, 3584, 1), KV_ERR_ARGUMENT);  // 0x200 + 3584 = 4096
    EXPECT_EQ(KV_SetMemByte(0, 0, bytes, 0, 3583, 2), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_GetMemShort(0, 0, &word, 0, 0, -1), KV_ERR_ARGUMENT);  // count 65535
    EXPECT_EQ(KV_GetReg16(0, 0, 4095, &word), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_GetReg64(0, 0, 4089, &wide), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_SetReg32(0, 0, 0xFFFF, 1), KV_ERR_ARGUMENT);
    EXPECT_TRUE(bus.trace().empty());
    // The last byte of the window is still reachable.
    EXPECT_EQ(KV_SetMemByte(0, 0, bytes, 0, 3583, 1), 0);
    EXPECT_EQ(KV_GetReg64(0, 0, 4088, &wide), 0);
}

}  // namespace
}  // namespace kalvo::boardlib::test
