// The open and close pattern every family shares, seen through the DIO
// calls: unit number range, open twice, close twice, placements from
// Kalvo.ini and from the caller, and the checks a placement must pass.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "tests/support/api_test_folder.h"
#include "tests/support/kalvo_loader.h"

namespace kalvo::apitest {
namespace {

class UnitCalls : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.work().write("Kalvo.ini",
                          boardsIni({"TestBoard"}) + unitIni("DIO_1", 1, 1, 3, "0") +
                              unitIni("DIO_2", 1, 1, 32, "0") + unitIni("DIO_3", 1, 1, 0, "0,16") +
                              unitIni("DIO_4", 2, 1, 0, "0") + unitIni("DIO_5", 1, 1, 0, "x"));
        kv_ = std::make_unique<KalvoLibrary>();
        ASSERT_TRUE(kv_->loaded());
    }
    UnitPlacement placement(int unit, int base, std::initializer_list<int32_t> offsets) {
        UnitPlacement p{};
        p.family = 99;  // overwritten by the call
        p.unit = unit;
        p.kind = 0x101;
        p.board = 1;
        p.line = 1;
        p.base = base;
        for (auto& o : p.offsets) o = -1;
        int i = 0;
        for (int32_t o : offsets) p.offsets[i++] = o;
        return p;
    }
    std::vector<std::string> log() { return logLines(env_.work()); }

    testing::IsolatedEnvironment env_;
    std::unique_ptr<KalvoLibrary> kv_;
};

TEST_F(UnitCalls, UnitNumbersOutsideTheTableAreRefusedEverywhere) {
    for (int unit : {0, 1025, -1}) {
        EXPECT_EQ(kv_->KV_DIO_Open(unit), 9);
        EXPECT_EQ(kv_->KV_DIO_Close(unit), 9);
        uint16_t word = 0;
        EXPECT_EQ(kv_->KV_DIO_InData(unit, &word), 9);
        EXPECT_EQ(kv_->KV_DIO_OutData(unit, 1), 9);
        int32_t condition = 0;
        EXPECT_EQ(kv_->KV_DIO_GetCondition(unit, &condition), 9);
        UnitPlacement p = placement(unit, 0, {0});
        EXPECT_EQ(kv_->KV_DIO_OpenEx(&p), 9);
    }
    EXPECT_EQ(kv_->KV_DIO_OpenEx(nullptr), 9);
    EXPECT_TRUE(hasLine(log(), "**   DIO(1025)--- KV_DIO_Open"));
    EXPECT_TRUE(hasLine(log(), "##    DIO(1025) KV_DIO_Open End: Ret(9h)"));
}

TEST_F(UnitCalls, OpenTwiceKeepsTheUnitOpenAndCloseTwiceReportsNotOpen) {
    EXPECT_EQ(kv_->KV_DIO_Open(1), 0);
    EXPECT_EQ(kv_->KV_DIO_Open(1), 1);
    EXPECT_EQ(kv_->KV_DIO_OutData(1, 0x55), 0);  // still open
    EXPECT_EQ(kv_->KV_DIO_Close(1), 0);
    EXPECT_EQ(kv_->KV_DIO_Close(1), 2);
    uint16_t word = 0;
    EXPECT_EQ(kv_->KV_DIO_InData(1, &word), 2);
    EXPECT_EQ(kv_->KV_DIO_Open(1), 0);  // a closed unit opens again

    auto lines = log();
    EXPECT_TRUE(
        hasLine(lines, "##    DIO(1)-DIO: Board(1)-Line(1)-BaseId(3)-UseId(1): OffsetId(0)"));
    EXPECT_TRUE(hasLine(lines, "##    DIO(1) KV_DIO_Open End: Ret(1h)"));
    EXPECT_TRUE(hasLine(lines, "**   DIO(1)--- KV_DIO_Close"));
    EXPECT_TRUE(hasLine(lines, "##    DIO(1) KV_DIO_Close End: Ret(2h)"));
}

TEST_F(UnitCalls, PlacementsThatFailTheCheckAreRefusedAndLeaveTheSlotEmpty) {
    EXPECT_EQ(kv_->KV_DIO_Open(2), 9);  // base 32
    EXPECT_EQ(kv_->KV_DIO_Open(3), 9);  // an offset of 16
    EXPECT_EQ(kv_->KV_DIO_Open(4), 9);  // board 2 is not configured
    EXPECT_EQ(kv_->KV_DIO_Open(5), 9);  // no offset
    EXPECT_EQ(kv_->KV_DIO_Open(6), 9);  // no section
    EXPECT_EQ(kv_->KV_DIO_Close(2), 2);

    UnitPlacement base32 = placement(10, 32, {0});
    EXPECT_EQ(kv_->KV_DIO_OpenEx(&base32), 9);
    UnitPlacement offset16 = placement(10, 0, {0, 16});
    EXPECT_EQ(kv_->KV_DIO_OpenEx(&offset16), 9);
    UnitPlacement line2 = placement(10, 0, {0});
    line2.line = 2;
    EXPECT_EQ(kv_->KV_DIO_OpenEx(&line2), 9);
    UnitPlacement good = placement(10, 31, {15});
    EXPECT_EQ(kv_->KV_DIO_OpenEx(&good), 0);
    EXPECT_EQ(good.family, 1);    // the call writes its family code into the caller's record
    EXPECT_EQ(base32.family, 1);  // refused or not
}

// Placement numbers at the ends of the 32-bit range are refused, never
// wrapped into a valid index (nor undefined arithmetic under the sanitizers).
TEST_F(UnitCalls, PlacementsAtTheEndsOfTheIntegerRangeAreRefused) {
    struct Row {
        int32_t board, line, base;
    };
    const Row rows[] = {{1, 1, INT32_MAX}, {1, 1, INT32_MIN},     {INT32_MIN, 1, 0},
                        {INT32_MAX, 1, 0}, {1, INT32_MIN, 0},     {1, INT32_MAX, 0},
                        {0, 1, 0},         {1, 1, INT32_MAX - 31}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.board) + "/" + std::to_string(row.line) + "/" +
                     std::to_string(row.base));
        UnitPlacement p = placement(30, row.base, {0});
        p.board = row.board;
        p.line = row.line;
        EXPECT_EQ(kv_->KV_DIO_OpenEx(&p), 9);
    }
    env_.work().write("Kalvo.ini", boardsIni({"TestBoard"}) +
                                       unitIni("DIO_7", 1, 1, INT32_MAX, "0") +
                                       unitIni("DIO_8", INT32_MIN, 1, 0, "0"));
    EXPECT_EQ(kv_->KV_DIO_Open(7), 9);
    EXPECT_EQ(kv_->KV_DIO_Open(8), 9);
}

// Every family's OpenEx writes its family code into the caller's record.
TEST_F(UnitCalls, OpenExOfEveryFamilyWritesItsFamilyCode) {
    struct Row {
        int32_t (*call)(UnitPlacement*);
        int32_t family;
    };
    const Row rows[] = {{kv_->KV_DIO_OpenEx, 1},
                        {kv_->KV_ADA_OpenEx, 2},
                        {kv_->KV_AXSA_OpenEx, 3},
                        {kv_->KV_SIO_OpenEx, 5}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.family);
        ASSERT_NE(row.call, nullptr);
        UnitPlacement refused = placement(40, 32, {0});  // base 32: refused
        EXPECT_EQ(row.call(&refused), 9);
        EXPECT_EQ(refused.family, row.family);
    }
}

TEST_F(UnitCalls, OpenExCountsOffsetsUpToTheFirstNegativeOrAllSixteen) {
    UnitPlacement two = placement(20, 0, {0, 1, -1, 3});
    EXPECT_EQ(kv_->KV_DIO_OpenEx(&two), 0);
    UnitPlacement all = placement(21, 0, {});
    for (int i = 0; i < 16; ++i) all.offsets[i] = i;
    EXPECT_EQ(kv_->KV_DIO_OpenEx(&all), 0);
    UnitPlacement odd = placement(22, 0, {2});
    odd.kind = 0x999;  // no kind: the family's first
    EXPECT_EQ(kv_->KV_DIO_OpenEx(&odd), 0);

    auto lines = log();
    EXPECT_TRUE(hasLine(lines, "**   DIO(20)--- KV_DIO_OpenEx"));
    EXPECT_TRUE(
        hasLine(lines, "##    DIO(20)-DIO: Board(1)-Line(1)-BaseId(0)-UseId(2): OffsetId(0,1)"));
    EXPECT_TRUE(hasLine(lines,
                        "##    DIO(21)-DIO: Board(1)-Line(1)-BaseId(0)-UseId(16): "
                        "OffsetId(0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15)"));
    EXPECT_TRUE(
        hasLine(lines, "##    DIO(22)-DIO: Board(1)-Line(1)-BaseId(0)-UseId(1): OffsetId(2)"));
    EXPECT_TRUE(hasLine(lines, "##    DIO(20) KV_DIO_OpenEx End: Ret(0h)"));
}

TEST_F(UnitCalls, UnitsLeftOpenAreClosedWhenTheLibraryUnloads) {
    EXPECT_EQ(kv_->KV_DIO_Open(1), 0);
    kv_->unload();
    auto lines = log();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), "##    ---------- Kalvo DLL (Kalvo.dll) Service Stop -----------");
}

}  // namespace
}  // namespace kalvo::apitest
