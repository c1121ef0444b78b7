// The DIO calls against the stand-in board: every word is checked in the
// board's GM area itself, not only read back through the library.
#include <gtest/gtest.h>

#include "platform/page_file_map.h"
#include "tests/support/api_test_folder.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_board/test_board_window.h"
#include "tests/support/kalvo_loader.h"

namespace kalvo::apitest {
namespace {

// DIO_1 at station 3 on word 0; DIO_2 at station 5 with offsets 3 and 4.
std::string dioIni() {
    return boardsIni({"TestBoard"}) + unitIni("DIO_1", 1, 1, 3, "0") +
           unitIni("DIO_2", 1, 1, 5, "3,4");
}

class Dio : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.work().write("Kalvo.ini", dioIni());
        kv_ = std::make_unique<KalvoLibrary>();
        ASSERT_TRUE(kv_->loaded());
        window_ = platform::PageFileMap::createOrOpen(testboard::windowName(0), 4096);
        ASSERT_TRUE(window_.valid());
        ASSERT_EQ(kv_->KV_DIO_Open(1), 0);
        ASSERT_EQ(kv_->KV_DIO_Open(2), 0);
    }
    // GM word 4 * station + offset, as the board holds it.
    volatile uint16_t& gm(int station, int offset) {
        auto* base = static_cast<uint8_t*>(window_.data()) + testboard::kGmOffset;
        return reinterpret_cast<volatile uint16_t*>(base)[station * 4 + offset];
    }
    void setCondition(uint64_t bits) {
        auto* reg = reinterpret_cast<volatile uint64_t*>(static_cast<uint8_t*>(window_.data()) +
                                                         testboard::kConditionOffset);
        *reg = bits;
    }

    testing::IsolatedEnvironment env_;
    std::unique_ptr<KalvoLibrary> kv_;
    platform::PageFileMap window_;
};

TEST_F(Dio, OutputWordsAreWrittenAtTheOutputStationAsSixteenBits) {
    EXPECT_EQ(kv_->KV_DIO_OutData(1, 0x12345), 0);
    EXPECT_EQ(gm(3, 0), 0x2345);
    uint16_t word = 0;
    EXPECT_EQ(kv_->KV_DIO_InOData(1, &word), 0);
    EXPECT_EQ(word, 0x2345);

    gm(3, 0) = 0x0001;
    EXPECT_EQ(kv_->KV_DIO_OutDataBit(1, 5, 1), 0);
    EXPECT_EQ(gm(3, 0), 0x0021);
    EXPECT_EQ(kv_->KV_DIO_OutDataBit(1, 0, 0), 0);
    EXPECT_EQ(gm(3, 0), 0x0020);
    EXPECT_EQ(kv_->KV_DIO_OutDataBit(1, 15, 7), 0);  // any non-zero sets
    EXPECT_EQ(gm(3, 0), 0x8020);
    int32_t bit = -1;
    EXPECT_EQ(kv_->KV_DIO_InODataBit(1, 15, &bit), 0);
    EXPECT_EQ(bit, 1);
    EXPECT_EQ(kv_->KV_DIO_InODataBit(1, 0, &bit), 0);
    EXPECT_EQ(bit, 0);
}

TEST_F(Dio, InputWordsAreReadAtStationBasePlus32) {
    gm(35, 0) = 0xBEEF;
    gm(3, 0) = 0x1111;
    uint16_t word = 0;
    EXPECT_EQ(kv_->KV_DIO_InData(1, &word), 0);
    EXPECT_EQ(word, 0xBEEF);
    int32_t bit = -1;
    EXPECT_EQ(kv_->KV_DIO_InDataBit(1, 4, &bit), 0);
    EXPECT_EQ(bit, 0);
    EXPECT_EQ(kv_->KV_DIO_InDataBit(1, 5, &bit), 0);
    EXPECT_EQ(bit, 1);
}

TEST_F(Dio, BitNumbersOutsideTheWordChangeNothing) {
    gm(3, 0) = 0x00F0;
    int32_t bit = 9;
    for (int bitNo : {16, -1}) {
        EXPECT_EQ(kv_->KV_DIO_OutDataBit(1, bitNo, 1), 3);
        EXPECT_EQ(kv_->KV_DIO_InDataBit(1, bitNo, &bit), 3);
        EXPECT_EQ(kv_->KV_DIO_InODataBit(1, bitNo, &bit), 3);
    }
    EXPECT_EQ(gm(3, 0), 0x00F0);
    EXPECT_EQ(bit, 9);
}

TEST_F(Dio, OnlyTheFirstOffsetIsUsed) {
    EXPECT_EQ(kv_->KV_DIO_OutData(2, 0xA5A5), 0);
    EXPECT_EQ(gm(5, 3), 0xA5A5);
    EXPECT_EQ(gm(5, 4), 0);
    gm(37, 3) = 0x0033;
    gm(37, 4) = 0x0044;
    uint16_t word = 0;
    EXPECT_EQ(kv_->KV_DIO_InData(2, &word), 0);
    EXPECT_EQ(word, 0x0033);
}

TEST_F(Dio, MissingOutPointersAreRefusedNotFollowed) {
    EXPECT_EQ(kv_->KV_DIO_InData(1, nullptr), 3);
    EXPECT_EQ(kv_->KV_DIO_InOData(1, nullptr), 3);
    EXPECT_EQ(kv_->KV_DIO_InDataBit(1, 0, nullptr), 3);
    EXPECT_EQ(kv_->KV_DIO_InODataBit(1, 0, nullptr), 3);
    EXPECT_EQ(kv_->KV_DIO_GetCondition(1, nullptr), 3);
}

TEST_F(Dio, AWordTheBoardRefusesIsReportedNotPassedOffAsRead) {
    // Station 31, word 15: the input word lies past the GM area, which the
    // board library refuses; the caller's variable stays as it was.
    UnitPlacement p{1, 9, 0x101, 1, 1, 31, {15, -1}};
    ASSERT_EQ(kv_->KV_DIO_OpenEx(&p), 0);
    uint16_t word = 0x7777;
    EXPECT_EQ(kv_->KV_DIO_InData(9, &word), 3);
    EXPECT_EQ(word, 0x7777);
    EXPECT_EQ(kv_->KV_DIO_OutData(9, 0x1234), 0);  // the output word is inside
    EXPECT_EQ(gm(31, 15), 0x1234);
}

TEST_F(Dio, ConditionFollowsTheStationsBitInTheConditionRegister) {
    int32_t condition = -1;
    setCondition(0);
    EXPECT_EQ(kv_->KV_DIO_GetCondition(1, &condition), 0);
    EXPECT_EQ(condition, 0);
    setCondition(uint64_t{1} << 35);  // station 3's input block
    EXPECT_EQ(kv_->KV_DIO_GetCondition(1, &condition), 0);
    EXPECT_EQ(condition, 1);
    EXPECT_EQ(kv_->KV_DIO_GetCondition(2, &condition), 0);
    EXPECT_EQ(condition, 0);
    setCondition(uint64_t{1} << 3);  // the output block's bit is not the unit's
    EXPECT_EQ(kv_->KV_DIO_GetCondition(1, &condition), 0);
    EXPECT_EQ(condition, 0);
}

KALVO_CHILD(toggle_bit) {
    return toggleOwnBit(std::stoi(args.at(0)), std::stoi(args.at(1)));
}

TEST_F(Dio, TwoProcessesChangingDifferentBitsOfOneWordLoseNoUpdate) {
    // Call lines off: the test is about the lock, not the log's speed.
    env_.work().write("KalvoLog.ini", "[LOG]\nLOGLEVEL=101H\n");
    gm(3, 0) = 0;
    const std::string count = "100000";
    auto a = testing::spawnChild("toggle_bit", {"2", count});
    auto b = testing::spawnChild("toggle_bit", {"9", count});
    EXPECT_EQ(a.wait(std::chrono::seconds(240)), 0);
    EXPECT_EQ(b.wait(std::chrono::seconds(240)), 0);
    EXPECT_EQ(gm(3, 0), (1u << 2) | (1u << 9));
}

TEST(DioLog, AScriptedRunWritesExactlyTheseLines) {
    testing::IsolatedEnvironment env;
    env.work().write("Kalvo.ini", dioIni());
    env.work().write("KalvoLog.ini", "[LOG]\nLOGLEVEL=FFFFFF0FH\n");
    {
        KalvoLibrary kv;
        ASSERT_TRUE(kv.loaded());
        uint16_t word = 0;
        int32_t value = 0;
        kv.KV_DIO_Open(1);
        kv.KV_DIO_OutData(1, 0x1A5);
        kv.KV_DIO_OutDataBit(1, 1, 1);
        kv.KV_DIO_InOData(1, &word);
        kv.KV_DIO_InODataBit(1, 1, &value);
        kv.KV_DIO_InData(1, &word);
        kv.KV_DIO_InDataBit(1, 16, &value);
        kv.KV_DIO_GetCondition(1, &value);
        kv.KV_CheckBoard(1);
        kv.KV_DIO_Close(1);
        kv.KV_DIO_Close(1);
    }
    const std::vector<std::string> expected = {
        "##    ---------- Kalvo DLL (Kalvo.dll) Service Start ----------",
        "##    Board(1)-TestBoard(1) DLL Func: Load: OK",
        "##    Board(1) Open: Ret(0h)",
        "##    Board(1) Start: Line(1)-StationAddr(0)-StationSize(32)-ByteBusSize(4): Ret(0h)",
        "**   DIO(1)--- KV_DIO_Open",
        "##    DIO(1)-DIO: Board(1)-Line(1)-BaseId(3)-UseId(1): OffsetId(0)",
        "++     DIO(1): CreateSemaphore: OK: Name(KVDIO(1)Smph)",
        "##    DIO(1) KV_DIO_Open End: Ret(0h)",
        "**   DIO(1) KV_DIO_OutData: OutData(1a5h): Ret(0h)",
        "**   DIO(1) KV_DIO_OutDataBit: BitNo(1h)-OutBit(1h): Ret(0h)",
        "**   DIO(1) KV_DIO_InOData: InData(1a7h): Ret(0h)",
        "**   DIO(1) KV_DIO_InODataBit: BitNo(1h)-InBit(1h): Ret(0h)",
        "**   DIO(1) KV_DIO_InData: InData(0h): Ret(0h)",
        "**   DIO(1) KV_DIO_InDataBit: BitNo(10h)-InBit(1h): Ret(3h)",
        "**   DIO(1) KV_DIO_GetCondition: Condition(0h): Ret(0h)",
        "**   KV_CheckBoard: Board(1): Ret(0h)",
        "**   DIO(1)--- KV_DIO_Close",
        "++     DIO(1): DestorySemaphore",
        "##    DIO(1) KV_DIO_Close End: Ret(0h)",
        "**   DIO(1)--- KV_DIO_Close",
        "##    DIO(1) KV_DIO_Close End: Ret(2h)",
        "##    Board(1) DLL Func: UnLoad: OK",
        "##    ---------- Kalvo DLL (Kalvo.dll) Service Stop -----------",
    };
    auto lines = logLines(env.work());
    EXPECT_EQ(lines, expected);
    // Every line carries its stamp: "MM/DD/YY HH:MM:SS ".
    for (auto& raw : readLines(env.work().file("KalvoLog_0000.log")))
        EXPECT_TRUE(raw.size() > 18 && raw[2] == '/' && raw[5] == '/' && raw[8] == ' ' &&
                    raw[11] == ':' && raw[14] == ':' && raw[17] == ' ')
            << raw;
}

}  // namespace
}  // namespace kalvo::apitest
