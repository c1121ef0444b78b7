// Opening and closing boards, the choice of the device instance, the
// library ini, a window that cannot be mapped, and the finish at unload.
#include <atomic>
#include <optional>
#include <thread>

#include "boardlib/frame/board_open.h"
#include "boardlib/tests/board_fixture.h"

namespace kalvo::boardlib::test {
namespace {

using Ids = std::vector<std::optional<uint16_t>>;

int32_t choose(int32_t board, const Ids& ids) {
    InstanceChoice choice(board);
    for (size_t i = 0; i < ids.size(); ++i)
        if (choice.add(static_cast<int32_t>(i), ids[i])) break;
    return choice.chosen();
}

TEST(InstanceChoice, NumberedBoardsFirstThenUnnumberedInOrder) {
    const Ids ids = {0x0001, 0x00FF, 0x0000};
    EXPECT_EQ(choose(1, ids), 0);
    EXPECT_EQ(choose(2, ids), 1);  // ordinal 2 less the two numbered below: first unnumbered
    EXPECT_EQ(choose(0, ids), 2);
    EXPECT_EQ(choose(3, ids), -1);
    // An unmappable window counts as unnumbered.
    EXPECT_EQ(choose(0, {std::nullopt, 0x0001}), 0);
    EXPECT_EQ(choose(2, {0x0004, std::nullopt, 0x0000}), 1);
    // Boards repeating a number below this one must not push the ordinal
    // below the list of unnumbered boards.
    EXPECT_EQ(choose(1, {0x0000, 0x0000, 0x00FF}), -1);
    EXPECT_EQ(choose(3, {0x0000, 0x0000, 0x0000, 0x0000}), -1);
}

class Frame : public BoardTest {};

TEST_F(Frame, OpenTwiceCloseAndRanges) {
    ASSERT_EQ(KV_open(0), 0);
    EXPECT_EQ(KV_open(0), KV_ERR_ALREADY_OPEN);
    void* address = nullptr;
    EXPECT_EQ(KV_Attach(0, 0, &address), 0);  // still open and usable
    EXPECT_EQ(address, window(0));
    EXPECT_EQ(KV_close(0), 0);
    EXPECT_EQ(KV_close(0), KV_ERR_NOT_OPEN);
    EXPECT_EQ(KV_Attach(0, 0, &address), KV_ERR_NOT_OPEN);
    for (int32_t board : {-1, 4, 99}) {
        EXPECT_EQ(KV_open(board), KV_ERR_ARGUMENT);
        EXPECT_EQ(KV_close(board), KV_ERR_ARGUMENT);
    }
    // The device is closed and the window given back.
    const Trace r = devices.requests();
    EXPECT_EQ(r.back(), "close 0");
    EXPECT_EQ(r[r.size() - 2], "unmap 0");
}

TEST_F(Frame, TheScanFindsBoardsByTheirIdWord) {
    devices.setId(0, 0x0001);
    devices.setId(1, 0x00FF);
    devices.setId(2, 0x0000);
    devices.board(3).present = false;
    ASSERT_EQ(KV_open(1), 0);
    ASSERT_EQ(KV_open(2), 0);
    ASSERT_EQ(KV_open(0), 0);
    EXPECT_EQ(KV_open(3), KV_ERR_NO_DEVICE);
    void* address = nullptr;
    KV_Attach(1, 0, &address);
    EXPECT_EQ(address, window(0));
    KV_Attach(2, 0, &address);
    EXPECT_EQ(address, window(1));
    KV_Attach(0, 0, &address);
    EXPECT_EQ(address, window(2));
    EXPECT_EQ(KV_stop(3, 0), KV_ERR_NOT_OPEN);
}

TEST_F(Frame, NoDeviceAndUnmappableWindow) {
    devices.board(0).present = false;
    EXPECT_EQ(KV_open(0), KV_ERR_NO_DEVICE);
    EXPECT_EQ(KV_start(0, 0, 1, 1, 0), KV_ERR_NOT_OPEN);
    EXPECT_EQ(devices.requests(), Trace{"open \\\\.\\KVMDRV0"});

    // No window can be mapped: every instance ranks as unnumbered, board 1
    // gets the second one, and stays open without its window.
    devices.board(0).present = true;
    for (int i = 0; i < 4; ++i) devices.board(i).mapFails = true;
    ASSERT_EQ(KV_open(1), 0);
    uint8_t bytes[8] = {};
    uint16_t word = 0;
    uint64_t wide = 0;
    void* address = nullptr;
    EXPECT_EQ(KV_Attach(1, 0, &address), KV_ERR_NOT_MAPPED);
    EXPECT_EQ(KV_Alloc(1, 0, 1, &address), KV_ERR_NOT_MAPPED);
    EXPECT_EQ(KV_Map(1, 0, "1", &address), KV_ERR_NOT_MAPPED);
    EXPECT_EQ(KV_Put(1, 0, bytes), KV_ERR_NOT_MAPPED);
    EXPECT_EQ(KV_Get(1, 0, 1, bytes), KV_ERR_NOT_MAPPED);
    EXPECT_EQ(KV_GetReg16(1, 0, 0, &word), KV_ERR_NOT_MAPPED);
    EXPECT_EQ(KV_SetReg64(1, 0, 0, 1), KV_ERR_NOT_MAPPED);
    EXPECT_EQ(KV_GetMemByte(1, 0, bytes, 0, 0, 1), KV_ERR_NOT_MAPPED);
    EXPECT_EQ(KV_SetMemShort(1, 0, &word, 0, 0, 1), KV_ERR_NOT_MAPPED);
    EXPECT_EQ(KV_GetMemDLong(1, 0, &wide, 0, 0, 1), KV_ERR_NOT_MAPPED);
    EXPECT_EQ(KV_Ck(1, 0, &word), KV_ERR_NOT_MAPPED);
    EXPECT_EQ(KV_Free(1, 0), 0);
    EXPECT_EQ(KV_UnMap(1, 0), 0);
    EXPECT_EQ(KV_reset(1, 0, 5), 0);
    EXPECT_EQ(address, nullptr);
}

class FrameWithIni : public BoardTest {
    void prepareFolder(const testing::TempDir& dir) override {
        dir.write("Dualmaster.ini", "[BOARD_0]\r\nBaudrate_0=3\r\n[BOARD_1]\r\nBaudrate_0=12\r\n");
    }
};

TEST_F(FrameWithIni, TheBaudCodeComesFromTheLibraryIni) {
    openBoard(0);
    ASSERT_EQ(KV_start(0, 0, 1, 1, 0), 0);
    EXPECT_EQ(devices.requests(), (Trace{"gmm 1 1", "connect 1 1"}));
    EXPECT_EQ(bus.trace(0x498, 0x49a), (Trace{"R2 498", "W2 498=40"}));
    ASSERT_EQ(KV_config(0, 0, -1), 0);  // off again
    devices.clear();
    ASSERT_EQ(KV_start(0, 0, 1, 1, 0), 0);
    EXPECT_EQ(devices.requests(), Trace{"connect 1 1"});
}

TEST_F(Frame, UnloadInTheOnlyProcessResetsAndStops) {
    openBoard(0);
    ASSERT_EQ(KV_start(0, 0, 3, 2, 0), 0);
    std::memset(window() + 0x200, 0x5A, 512);
    devices.clear();
    libraryDetach();
    EXPECT_EQ(devices.requests(), (Trace{"disconnect", "unmap 0", "close 0"}));
    for (int i = 24; i < 40; ++i) EXPECT_EQ(window()[0x200 + i], 0) << i;
    EXPECT_EQ(window()[0x200 + 23], 0x5A);
    EXPECT_EQ(window()[0x200 + 40], 0x5A);
    ASSERT_TRUE(libraryAttach());  // for the fixture's teardown
}

// A mail wait in one thread and KV_close of its board in another, in
// either order: the wait ends (the close signals it) and touches nothing the
// close freed (the sanitizer build checks that).
TEST_F(Frame, AMailWaitAcrossKvCloseEndsWithoutTouchingTheFreedBoard) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        openBoard(0);
        ASSERT_EQ(KV_MailOpen(0, 0), 0);
        std::atomic<bool> entered{false};
        int32_t code = 0;
        std::thread waiter([&] {
            uint16_t status = 0;
            entered = true;
            code = KV_MailWaitObject(0, 0, &status);
        });
        if (round % 2) {
            while (!entered) std::this_thread::yield();  // close while it waits, or just before
        }
        EXPECT_EQ(KV_close(0), 0);
        waiter.join();
        EXPECT_NE(code, KV_OK);
        uint16_t status = 0;
        EXPECT_EQ(KV_MailWaitObject(0, 0, &status), KV_ERR_NOT_OPEN);
    }
}

// The unload wakes a mail wait in another thread by closing its board; the
// wait's result line is written before the unload frees the log (the
// sanitizer build checks that nothing freed is touched and nothing leaks).
TEST_F(Frame, AMailWaitWokenByTheUnloadLogsBeforeTheLogIsFreed) {
    openBoard(0);
    ASSERT_EQ(KV_MailOpen(0, 0), 0);
    std::atomic<bool> entered{false};
    int32_t code = 0;
    std::thread waiter([&] {
        uint16_t status = 0;
        entered = true;
        code = KV_MailWaitObject(0, 0, &status);
    });
    while (!entered) std::this_thread::yield();
    libraryDetach();
    waiter.join();
    EXPECT_NE(code, KV_OK);
    ASSERT_TRUE(libraryAttach());  // for the fixture's teardown
}

}  // namespace
}  // namespace kalvo::boardlib::test
