// Start-up of the loaded library against the stand-in board library: the
// configuration read, binding by "Kind", library instance numbers, the
// first-user rule for starting lines, the board-level calls.
#include <gtest/gtest.h>

#include "platform/page_file_map.h"
#include "tests/support/api_test_folder.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_board/test_board_window.h"
#include "tests/support/kalvo_loader.h"

namespace kalvo::apitest {
namespace {

using testing::IsolatedEnvironment;

class StartUp : public ::testing::Test {
  protected:
    IsolatedEnvironment env_;
    const testing::TempDir& dir() { return env_.work(); }
    std::vector<std::string> calls() { return readLines(dir().file("TestBoard.calls")); }
};

TEST_F(StartUp, WithoutKalvoIniTheLibraryLoadsAndNoUnitFindsABoard) {
    KalvoLibrary kv;
    ASSERT_TRUE(kv.loaded());
    EXPECT_EQ(kv.KV_DIO_Open(1), 9);
    EXPECT_EQ(kv.KV_CheckBoard(1), 3);
    kv.unload();
    auto log = logLines(dir());
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.front(), "##    ---------- Kalvo DLL (Kalvo.dll) Service Start ----------");
    EXPECT_EQ(log.back(), "##    ---------- Kalvo DLL (Kalvo.dll) Service Stop -----------");
}

TEST_F(StartUp, MoreThanFourBoardsFailsStartUpButBoardCallsStillAnswer) {
    dir().write("Kalvo.ini", boardsIni({"TestBoard"}, 5));
    KalvoLibrary kv;
    EXPECT_EQ(kv.KV_DIO_Open(1), 4);
    EXPECT_EQ(kv.KV_CheckBoard(1), 0x100);
    EXPECT_EQ(kv.KV_CheckBoard(5), 3);
    EXPECT_TRUE(calls().empty());  // no board was bound or opened
}

TEST_F(StartUp, TwoBoardsOfOneKindShareTheModuleAsInstancesZeroAndOne) {
    dir().write("Kalvo.ini", boardsIni({"TestBoard", "testboard"}));
    KalvoLibrary kv;
    EXPECT_EQ(kv.KV_CheckBoard(1), 0);
    EXPECT_EQ(kv.KV_CheckBoard(2), 0);
    EXPECT_EQ(calls(),
              (std::vector<std::string>{"open 0", "open 1", "start 0 0 0 32 4", "reset 0 0 0",
                                        "start 1 0 0 32 4", "reset 1 0 0"}));
    auto log = logLines(dir());
    EXPECT_TRUE(hasLine(log, "##    Board(1)-TestBoard(1) DLL Func: Load: OK"));
    EXPECT_TRUE(hasLine(log, "##    Board(2)-testboard(2) DLL Func: Copy form Board(1):OK"));
    EXPECT_TRUE(hasLine(log, "##    Board(2) Open: Ret(0h)"));
    EXPECT_TRUE(hasLine(
        log,
        "##    Board(2) Start: Line(1)-StationAddr(0)-StationSize(32)-ByteBusSize(4): Ret(0h)"));
    kv.unload();
    log = logLines(dir());
    EXPECT_TRUE(hasLine(log, "##    Board(1) DLL Func: UnLoad: OK"));
    EXPECT_TRUE(hasLine(log, "##    Board(2) DLL Func: UnLoad: OK"));
}

TEST_F(StartUp, OnlyLinesWithAStationAndASizeAreStartedWithTheirBusSize) {
    dir().write("Kalvo.ini",
                "[Kalvo]\nBoard=2\n[Board_1]\nKind=TestBoard\nStationAddr_1=4\nStationSize_1=8\n"
                "ByteBusSize_1=2\n[Board_2]\nKind=TestBoard\nStationAddr_1=-1\nStationSize_1=32\n");
    KalvoLibrary kv;
    EXPECT_EQ(calls(),
              (std::vector<std::string>{"open 0", "open 1", "start 0 0 4 8 2", "reset 0 0 0"}));
}

KALVO_CHILD(load_and_report) {
    KalvoLibrary kv;
    return kv.loaded() && kv.KV_CheckBoard(1) == 0 ? 0 : 1;
}

TEST_F(StartUp, ASecondProcessDoesNotStartTheLinesAgain) {
    dir().write("Kalvo.ini", boardsIni({"TestBoard"}));
    KalvoLibrary kv;
    EXPECT_EQ(testing::spawnChild("load_and_report").wait(), 0);
    EXPECT_EQ(calls(),
              (std::vector<std::string>{"open 0", "start 0 0 0 32 4", "reset 0 0 0", "open 0"}));
    // The child wrote its own slot's file.
    EXPECT_TRUE(hasLine(logLines(dir(), "KalvoLog_0100.log"), "##    Board(1) Open: Ret(0h)"));
}

TEST_F(StartUp, AKindNamingNoLibraryOrALibraryLackingACallFailsStartUpOnly) {
    for (const char* kind : {"NoSuchBoardLibrary", "TestBoardShort", ""}) {
        SCOPED_TRACE(kind);
        IsolatedEnvironment env;
        env.work().write("Kalvo.ini", boardsIni({kind}));
        KalvoLibrary kv;
        ASSERT_TRUE(kv.loaded());
        EXPECT_EQ(kv.KV_DIO_Open(1), 4);
        UnitPlacement p{0, 1, 0x101, 1, 1, 0, {0, -1}};
        EXPECT_EQ(kv.KV_DIO_OpenEx(&p), 4);
        EXPECT_EQ(kv.KV_CheckBoard(1), 0x100);
        void* address = nullptr;
        EXPECT_EQ(kv.KV_AttachMemory(1, 1, &address), 0x100);
        auto log = logLines(env.work());
        EXPECT_TRUE(hasLine(log, "@@   Board(1) DLL Func: Load: NG"));
        EXPECT_TRUE(hasLine(log, "##    Board(1) Open: Ret(ah)"));
    }
}

TEST_F(StartUp, ABoardThatDoesNotOpenIsLoadedButNotOpened) {
    dir().write("Kalvo.ini", boardsIni({"TestBoard"}));
    setenv("TESTBOARD_FAIL_OPEN", "1", 1);
    KalvoLibrary kv;
    unsetenv("TESTBOARD_FAIL_OPEN");
    EXPECT_EQ(kv.KV_CheckBoard(1), 4);
    void* address = nullptr;
    EXPECT_EQ(kv.KV_AttachMemory(1, 1, &address), 4);
    EXPECT_EQ(kv.KV_DIO_Open(1), 4);
    EXPECT_EQ(calls(), std::vector<std::string>{"open 0"});  // no line started
}

TEST_F(StartUp, AttachMemoryChecksBoardAndLineAndGivesTheWindow) {
    dir().write("Kalvo.ini", boardsIni({"TestBoard"}));
    KalvoLibrary kv;
    void* address = nullptr;
    EXPECT_EQ(kv.KV_AttachMemory(1, 2, &address), 3);
    EXPECT_EQ(kv.KV_AttachMemory(1, 0, &address), 3);
    EXPECT_EQ(kv.KV_AttachMemory(0, 1, &address), 3);
    EXPECT_EQ(kv.KV_AttachMemory(2, 1, &address), 3);
    EXPECT_EQ(kv.KV_AttachMemory(1, 1, nullptr), 3);
    EXPECT_EQ(address, nullptr);
    ASSERT_EQ(kv.KV_AttachMemory(1, 1, &address), 0);
    ASSERT_NE(address, nullptr);

    // The address is the board's window: what is written there the board sees.
    auto window = platform::PageFileMap::createOrOpen(testboard::windowName(0), 4096);
    static_cast<volatile uint8_t*>(address)[0x10] = 0xA5;
    EXPECT_EQ(static_cast<uint8_t*>(window.data())[0x10], 0xA5);
    EXPECT_TRUE(hasLine(logLines(dir()), "**   KV_AttachMemory: Board(1)-Line(2): Ret(3h)"));
}

TEST_F(StartUp, TimerPeriodCallsReturnThePlatformsResult) {
    KalvoLibrary kv;
    EXPECT_EQ(kv.KV_BeginPeriod(), 0);
    EXPECT_EQ(kv.KV_EndPeriod(), 0);
    auto log = logLines(dir());
    EXPECT_TRUE(hasLine(log, "**   KV_BeginPeriod: Ret(0h)"));
    EXPECT_TRUE(hasLine(log, "**   KV_EndPeriod: Ret(0h)"));
}

}  // namespace
}  // namespace kalvo::apitest
