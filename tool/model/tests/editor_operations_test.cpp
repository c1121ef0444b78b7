#include <gtest/gtest.h>

#include "tool/model/editor_operations.h"
#include "tool/model/tests/model_test_support.h"

namespace kalvo::tool::test {
namespace {

struct EditorOperations : ::testing::Test {
    const ModelTable& t = exampleModels();
    ConfigModel m{t};
    void SetUp() override { m.startNew(oneBoard(1)); }
    const TStaAddRec& at(int a) { return m.at(0, 0, a); }
    bool empty(int a) { return at(a).StaType == kStaNew && at(a).Head && at(a).StaAddr == a; }
};

TEST_F(EditorOperations, PlacementNeedsFreeAddressesWithinTheLine) {
    EXPECT_EQ(placeStation(m, 0, 0, 29, kStaAxs4), DropResult::overlap);
    EXPECT_TRUE(empty(29) && empty(30) && empty(31));

    ASSERT_EQ(placeStation(m, 0, 0, 11, kStaMst), DropResult::placed);
    EXPECT_EQ(placeStation(m, 0, 0, 10, kStaAxs2), DropResult::overlap);
    EXPECT_TRUE(empty(10));
    ASSERT_EQ(removeStation(m, 0, 0, 11), DropResult::placed);
    ASSERT_EQ(placeStation(m, 0, 0, 10, kStaAxs2), DropResult::placed);
    EXPECT_FALSE(at(11).Head);
    EXPECT_EQ(at(11).StaType, kStaAxs2);
    EXPECT_EQ(at(11).StaAddr, 10);
    // A drop on a continuation address changes nothing.
    EXPECT_EQ(placeStation(m, 0, 0, 11, kStaMst), DropResult::onContinuation);
    EXPECT_EQ(at(11).StaType, kStaAxs2);
}

// A refused drop says why, naming the addresses.
TEST_F(EditorOperations, ARefusedDropSaysWhy) {
    ASSERT_EQ(placeStation(m, 0, 0, 11, kStaMst), DropResult::placed);
    ASSERT_EQ(placeStation(m, 0, 0, 4, kStaAxs4), DropResult::placed);
    const struct {
        int type, address;
        DropResult result;
        const char* says;
    } cases[] = {
        {kStaAxs4, 29, DropResult::overlap,
         "address 29: an AXS4 station needs 4 free addresses (29 to 32), and the line ends at 31"},
        {kStaAxs2, 10, DropResult::overlap,
         "address 10: an AXS2 station needs 2 free addresses (10 to 11), and address 11 holds the "
         "MST station there"},
        {kStaMst, 6, DropResult::onContinuation,
         "address 6: a continuation address of the AXS4 station at 4; drop on a free address"},
        {kStaMst, 20, DropResult::placed, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(placeStation(m, 0, 0, c.address, c.type), c.result) << c.says;
        EXPECT_EQ(dropRefusal(m, 0, 0, c.address, c.result), c.says);
    }
}

TEST_F(EditorOperations, ReplacingOrRemovingAStationFreesItsContinuationAddresses) {
    ASSERT_EQ(placeStation(m, 0, 0, 4, kStaAxs4), DropResult::placed);
    for (int a = 5; a <= 7; ++a) EXPECT_FALSE(at(a).Head);
    ASSERT_EQ(placeStation(m, 0, 0, 4, kStaMst), DropResult::placed);
    for (int a = 5; a <= 7; ++a) EXPECT_TRUE(empty(a)) << a;
    ASSERT_EQ(placeStation(m, 0, 0, 20, kStaRfid3), DropResult::placed);
    ASSERT_EQ(removeStation(m, 0, 0, 20), DropResult::placed);
    for (int a = 20; a <= 22; ++a) EXPECT_TRUE(empty(a)) << a;
}

TEST_F(EditorOperations, DraggingCopiesAStationExceptOntoItself) {
    ASSERT_EQ(placeStation(m, 0, 0, 3, kStaAxs2), DropResult::placed);
    EXPECT_EQ(duplicateStation(m, 0, 0, 3, 3), DropResult::ignored);
    EXPECT_EQ(duplicateStation(m, 0, 0, 3, 4), DropResult::ignored);  // own continuation
    ASSERT_EQ(duplicateStation(m, 0, 0, 3, 9), DropResult::placed);
    EXPECT_EQ(at(3).StaType, kStaAxs2);
    EXPECT_EQ(at(9).StaType, kStaAxs2);
    EXPECT_EQ(at(9).StaAddr, 9);
    EXPECT_EQ(at(10).StaAddr, 9);
    EXPECT_EQ(at(9).Slot[0].Seq, 2);  // renumbered: the copy is AXSA_2
    ASSERT_EQ(moveStation(m, 0, 0, 9, 20), DropResult::placed);
    EXPECT_TRUE(empty(9) && empty(10));
    EXPECT_EQ(at(21).StaAddr, 20);
}

TEST_F(EditorOperations, AStationDialogChangeThatNeedsTakenAddressesLeavesTheNetworkAsItWas) {
    ASSERT_EQ(placeStation(m, 0, 0, 0, kStaMst), DropResult::placed);
    ASSERT_EQ(placeStation(m, 0, 0, 1, kStaMst), DropResult::placed);
    const int32_t dio = model(t, "QMDIO16"), ada = model(t, "QMADA04");
    ASSERT_EQ(setStationModules(m, 0, 0, 1, {dio, 0, 0, 0}).Result, ModulesResult::changed);
    const Network before = m.network();
    ModulesOutcome r = setStationModules(m, 0, 0, 0, {ada, dio, 0, 0});
    EXPECT_EQ(r.Result, ModulesResult::overlap);
    EXPECT_NE(r.Message.find("overlap"), std::string::npos);
    EXPECT_EQ(m.at(0, 0, 0).Module[0], 0);
    EXPECT_EQ(m.at(0, 0, 1).Module[0], dio);
    EXPECT_EQ(m.at(0, 0, 1).Slot[0].Seq, 1);
    (void)before;
    // Rules of the module combos.
    const int32_t sio = model(t, "QMSIO01"), last = model(t, "QMSC20*");
    EXPECT_EQ(setStationModules(m, 0, 0, 0, {dio, sio, 0, 0}).Result, ModulesResult::notOffered);
    EXPECT_EQ(setStationModules(m, 0, 0, 0, {last, dio, 0, 0}).Result, ModulesResult::afterEnd);
    EXPECT_EQ(setStationModules(m, 0, 0, 0, {0, dio, 0, 0}).Result, ModulesResult::afterEnd);
    EXPECT_EQ(setStationModules(m, 0, 0, 0, {model(t, "QMSA40* + QMSA04*"), 0, 0, 0}).Result,
              ModulesResult::notOffered);
    ASSERT_EQ(placeStation(m, 0, 0, 8, kStaAxs4), DropResult::placed);
    EXPECT_EQ(setStationModules(m, 0, 0, 8, {dio, 0, 0, 0}).Result, ModulesResult::fixedModules);
    // An MST station grown to two addresses takes the next one.
    ASSERT_EQ(removeStation(m, 0, 0, 1), DropResult::placed);
    ASSERT_EQ(setStationModules(m, 0, 0, 0, {ada, dio, 0, 0}).Result, ModulesResult::changed);
    EXPECT_FALSE(at(1).Head);
    EXPECT_EQ(at(0).AddrCount, 2);
}

TEST_F(EditorOperations, ApplyingBoardSettingsDropsTheStationsOfARemovedBoard) {
    BoardSettings two = boardSettingsFromKinds({0, 3, 1, 0}, {{{3, 0}, {12, 1}, {3, 0}, {3, 0}}});
    EXPECT_EQ(two[0].BoardNo, 0);
    EXPECT_EQ(two[1].BoardNo, 1);
    EXPECT_EQ(two[2].BoardNo, 2);
    m.startNew(two);
    ASSERT_EQ(placeStation(m, 1, 0, 0, kStaAxs2), DropResult::placed);
    ASSERT_EQ(placeStation(m, 2, 0, 0, kStaAxs2), DropResult::placed);
    EXPECT_EQ(m.at(2, 0, 0).Slot[0].Seq, 2);
    // Slot 2 becomes unused; slot 1 becomes a KV40MST board at 6 Mbit/s.
    BoardSettings changed =
        boardSettingsFromKinds({0, 4, 0, 0}, {{{3, 0}, {6, 1}, {3, 0}, {3, 0}}});
    applyBoardSettings(m, changed);
    EXPECT_EQ(m.boardCount(), 1);
    EXPECT_EQ(m.boards()[1].Kind, 4);
    EXPECT_EQ(m.boards()[1].Line[0].Baudrate, 6);
    EXPECT_EQ(m.at(1, 0, 0).StaType, kStaAxs2);
    EXPECT_EQ(m.at(2, 0, 0).StaType, kStaNew);
    EXPECT_EQ(m.pageCount(), 1);
    // A board in a slot used again starts empty.
    applyBoardSettings(m, two);
    EXPECT_EQ(m.at(2, 0, 1).StaType, kStaNew);
    EXPECT_EQ(m.boardCount(), 2);
}

}  // namespace
}  // namespace kalvo::tool::test
