// The frame's pieces in-process: the unit kind table, the placement a unit
// takes, and the named objects the families build on.
#include <gtest/gtest.h>

#include "api/frame/board_calls.h"
#include "api/frame/board_manager.h"
#include "api/frame/named_semaphore.h"
#include "api/frame/shared_map.h"
#include "api/frame/unit.h"
#include "api/frame/unit_kind_table.h"
#include "tests/support/temp_dir.h"

#include <set>
#include <string>

namespace kalvo::api {
namespace {

// Each row of the bound-call table fills its own slot: with every name bound
// to a distinct address the set is complete, and leaving out any one row
// leaves it incomplete.
TEST(BoardCallTable, EachNameFillsItsOwnSlot) {
    std::set<std::string> names;
    for (const BoardCallEntry& call : kBoardCallTable) names.insert(call.name);
    EXPECT_EQ(names.size(), kBoardCallTable.size());

    static char addresses[kBoardCallTable.size()];
    for (size_t missing = 0; missing <= kBoardCallTable.size(); ++missing) {
        BoardCalls calls;
        calls.bindAll([&](const char* name) -> void* {
            for (size_t i = 0; i < kBoardCallTable.size(); ++i)
                if (std::string(kBoardCallTable[i].name) == name)
                    return i == missing ? nullptr : &addresses[i];
            return nullptr;
        });
        EXPECT_EQ(calls.complete(), missing == kBoardCallTable.size()) << "row " << missing;
        if (missing < kBoardCallTable.size()) {
            EXPECT_FALSE(kBoardCallTable[missing].bound(calls)) << kBoardCallTable[missing].name;
        }
    }
}

TEST(UnitKindTable, KindsByNameAcrossFamiliesAndTheFamilysFirstAsFallback) {
    EXPECT_EQ(kindCodeByName("dio"), 0x101);
    EXPECT_EQ(kindCodeByName("Enca"), 0x204);
    EXPECT_EQ(kindCodeByName("ENC"), 0x104);
    EXPECT_EQ(kindCodeByName(""), -1);
    EXPECT_EQ(kindCodeByName("DIOX"), -1);

    const UnitFamily* enc = findFamily(kFamilyEnc);
    ASSERT_NE(enc, nullptr);
    EXPECT_STREQ(validatedKind(*enc, 0x104).name, "ENC");
    EXPECT_STREQ(validatedKind(*enc, 0x101).name, "ENCA");  // another family's kind
    EXPECT_STREQ(validatedKind(*findFamily(kFamilySio), -1).name, "SIO");
    EXPECT_EQ(findFamily(0), nullptr);
    EXPECT_EQ(findFamily(6), nullptr);
}

class TestUnit : public Unit {
  public:
    using Unit::Unit;
    int32_t Open() override { return 0; }
    void Close() override {}
};

UnitPlacement placement(std::initializer_list<int32_t> offsets) {
    UnitPlacement p{};
    p.family = kFamilyAda;
    p.unit = 7;
    p.kind = 0x101;  // a DIO kind: not the ADA family's
    p.board = 2;
    p.line = 1;
    p.base = 5;
    for (auto& o : p.offsets) o = -1;
    int i = 0;
    for (int32_t o : offsets) p.offsets[i++] = o;
    return p;
}

TEST(UnitPlacementTaken, OffsetListEndsAtTheFirstNegativeAndHoldsAtMostSixteen) {
    BoardManager boards;
    TestUnit two(placement({0, 1, -1, 4}), boards);
    EXPECT_EQ(two.offsetCount(), 2);
    EXPECT_EQ(two.offset(2), -1);

    UnitPlacement full = placement({});
    for (int i = 0; i < 16; ++i) full.offsets[i] = i;
    TestUnit sixteen(full, boards);
    EXPECT_EQ(sixteen.offsetCount(), 16);
    EXPECT_EQ(sixteen.offset(15), 15);

    EXPECT_EQ(two.unitName(), "ADA(7)");
    EXPECT_EQ(two.kindName(), "ADA");
    EXPECT_EQ(two.kind(), 0x102);
    EXPECT_EQ(two.boardIndex(), 1);
    EXPECT_EQ(two.lineIndex(), 0);
    EXPECT_EQ(two.outputStation(), 5);
    EXPECT_EQ(two.inputStation(), 37);
}

TEST(UnitPlacementTaken, NoConfiguredBoardFailsTheCheck) {
    BoardManager boards;  // no board: every placement is refused
    TestUnit unit(placement({0}), boards);
    EXPECT_FALSE(unit.CheckInfo());
    int32_t condition = 5;
    EXPECT_EQ(unit.GetCondition(&condition), 0);
    EXPECT_EQ(condition, 0);  // the failed register read counts as absent
}

TEST(BoardManagerChecks, BoardCallsOnAnEmptyTable) {
    BoardManager boards;
    void* address = nullptr;
    EXPECT_EQ(boards.checkBoard(1), kRetArgument);
    EXPECT_EQ(boards.attachMemory(1, 1, &address), kRetArgument);
    uint16_t word = 0;
    EXPECT_EQ(boards.getMemShort(0, 0, &word, 0, 0, 1), kRetArgument);
    EXPECT_EQ(boards.getMemShort(-1, 0, &word, 0, 0, 1), kRetArgument);
}

class NamedObjects : public ::testing::Test {
    testing::IsolatedEnvironment env_;
};

TEST_F(NamedObjects, SharedMapIsZeroFilledForItsCreatorAndSharedAfterwards) {
    SharedMap first;
    ASSERT_TRUE(first.create("AXSA(1)PairMap", 64));
    EXPECT_TRUE(first.createdFirst());
    EXPECT_FALSE(first.create("AXSA(1)PairMap", 64));  // already holds one
    static_cast<uint8_t*>(first.view())[3] = 0x5A;

    SharedMap second;
    ASSERT_TRUE(second.create("AXSA(1)PairMap", 64));
    EXPECT_FALSE(second.createdFirst());
    EXPECT_EQ(static_cast<uint8_t*>(second.view())[3], 0x5A);

    first.destroy();
    second.destroy();
    SharedMap again;
    ASSERT_TRUE(again.create("AXSA(1)PairMap", 64));
    EXPECT_TRUE(again.createdFirst());
    EXPECT_EQ(static_cast<uint8_t*>(again.view())[3], 0);
}

TEST_F(NamedObjects, NamedSemaphoreIsOneLockUnderOneName) {
    NamedSemaphore a, b;
    ASSERT_TRUE(a.create("KVDIO(1)Smph"));
    ASSERT_TRUE(b.create("KVDIO(1)Smph"));
    a.wait();
    platform::Semaphore probe = platform::Semaphore::createOrOpen("KVDIO(1)Smph", 1, 1);
    EXPECT_EQ(probe.wait(0), platform::WAIT_TIMEOUT);  // held through a
    a.release();
    EXPECT_EQ(probe.wait(0), platform::WAIT_OBJECT_0);
    probe.release();
    a.close();
    EXPECT_FALSE(a.valid());
    EXPECT_TRUE(b.valid());
}

}  // namespace
}  // namespace kalvo::api
