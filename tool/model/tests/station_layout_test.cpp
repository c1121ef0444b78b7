#include <gtest/gtest.h>

#include "tool/model/editor_operations.h"
#include "tool/model/station_layout.h"
#include "tool/model/tests/model_test_support.h"

namespace kalvo::tool::test {
namespace {

struct Fixture : ::testing::Test {
    const ModelTable& t = exampleModels();
    ConfigModel m{t};
    void SetUp() override { m.startNew(oneBoard(1)); }
    void mst(int address, std::vector<std::string> codes) {
        ASSERT_EQ(placeStation(m, 0, 0, address, kStaMst), DropResult::placed);
        std::array<int32_t, kModules> modules{};
        for (size_t i = 0; i < codes.size(); ++i) modules[i] = model(t, codes[i]);
        ASSERT_EQ(setStationModules(m, 0, 0, address, modules).Result, ModulesResult::changed);
    }
    std::vector<int32_t> seqs(int address, int n) {
        std::vector<int32_t> s;
        for (int i = 0; i < n; ++i) s.push_back(m.at(0, 0, address).Slot[size_t(i)].Seq);
        return s;
    }
};

using StationLayout = Fixture;

TEST_F(StationLayout, InputAndOutputUnitsShareTheIdsAfterTheGeneralUnits) {
    TStaAddRec rec = m.stationTemplate(kStaMst);
    rec.Module = {model(t, "QMDIO16"), model(t, "QMSA40*"), model(t, "QMSA04*"),
                  model(t, "QMDIO16")};
    layoutSlots(rec, t);
    const int32_t dio = model(t, "QMDIO16"), out = model(t, "QMSA04*");
    // DIO in 0; inputs 1-4 overwritten by outputs 1-4; the DIO after them at 5.
    std::vector<int32_t> units;
    for (int s = 0; s < 7; ++s) units.push_back(rec.Slot[size_t(s)].Unit);
    EXPECT_EQ(units, (std::vector<int32_t>{dio, out, out, out, out, dio, 0}));
}

TEST_F(StationLayout, ASpecialModelEndsTheModulesAndSlotsBeyond16AreDropped) {
    TStaAddRec rec = m.stationTemplate(kStaAxs2);
    rec.Module[2] = model(t, "QMDIO16");
    layoutSlots(rec, t);
    EXPECT_EQ(rec.Slot[7].Unit, t.special(kSpecialAxs2));
    EXPECT_EQ(rec.Slot[8].Unit, 0);
    rec = m.stationTemplate(kStaMst);
    rec.Module = {model(t, "MRUM04*"), 0, 0, 0};  // 16 slots, then special: stop
    layoutSlots(rec, t);
    EXPECT_EQ(rec.Slot[15].Unit, model(t, "MRUM04*"));
    EXPECT_EQ(rec.Slot[16].Unit, 0);
}

TEST_F(StationLayout, DialogRowsAndAddressCount) {
    struct Case {
        std::vector<std::string> modules;
        bool ok;
        int32_t addrCount;
        int sharedRows;
    } cases[] = {
        {{"QMDIO16", "QMDIO16", "QMDIO16", "QMDIO16"}, true, 1, 0},
        {{"QMSA40*", "QMSA04*"}, true, 1, 4},
        {{"QMADA04", "QMDIO16"}, true, 2, 0},
        {{"MRUM04*"}, true, 1, 0},  // RowCount Id + 1 = 4
        {{"QMADA04", "QMADA04", "QMADA04", "QMADA04"}, true, 4, 0},
        {{}, true, 1, 0},
    };
    for (const Case& c : cases) {
        std::array<int32_t, kModules> modules{};
        for (size_t i = 0; i < c.modules.size(); ++i) modules[i] = model(t, c.modules[i]);
        StationRows rows = layoutRows(t, modules);
        EXPECT_EQ(rows.Ok, c.ok) << c.modules.size();
        EXPECT_EQ(rows.AddrCount, c.addrCount) << c.modules.size();
        int shared = 0;
        for (const auto& r : rows.Rows) shared += r.Label == kSharedLabel;
        EXPECT_EQ(shared, c.sharedRows);
    }
    // Shared rows show the output model.
    StationRows rows = layoutRows(t, {model(t, "QMSA40*"), model(t, "QMSA04*"), 0, 0});
    EXPECT_EQ(rows.Rows[0].Index, model(t, "QMSA04*"));
    // 16 rows used: one more general unit does not fit.
    ModelTable wide = tableFromText(
        "[Config]\nUnitCount=2\n[Model_0]\nModel=W8\nType=ADA\nId=2\nCh=4\nSeries=QMS\n"
        "[Model_1]\nModel=D1\nType=DIO\nId=1\nCh=1\nSeries=QMS\n");
    EXPECT_TRUE(layoutRows(wide, {1, 1, 0, 0}).Ok);
    EXPECT_FALSE(layoutRows(wide, {1, 1, 2, 0}).Ok);
}

TEST_F(StationLayout, NumbersDioSlotsSinglyAndAdaSioUnitsTogether) {
    mst(0, {"QMADA04", "QMADA04"});
    mst(2, {"QMDIO16", "QMDIO16", "QMDIO16"});
    mst(3, {"QMSIO01", "QMDIO16"});
    EXPECT_EQ(seqs(0, 8), (std::vector<int32_t>{1, 1, 1, 1, 2, 2, 2, 2}));
    EXPECT_EQ(seqs(2, 4), (std::vector<int32_t>{1, 2, 3, 0}));
    EXPECT_EQ(seqs(3, 5), (std::vector<int32_t>{1, 1, 1, 1, 4}));
    ASSERT_EQ(placeStation(m, 0, 0, 8, kStaAxs4), DropResult::placed);
    ASSERT_EQ(placeStation(m, 0, 0, 12, kStaAxs2), DropResult::placed);
    EXPECT_EQ(seqs(8, 16), std::vector<int32_t>(16, 1));
    EXPECT_EQ(seqs(12, 9), (std::vector<int32_t>{2, 2, 2, 2, 2, 2, 2, 2, 0}));
}

// An ADA unit that ends on slot 15 ends its numbering there: the next
// station's ADA unit is one unit with one number, not split in two.
TEST_F(StationLayout, AnAdaUnitEndingOnTheLastSlotDoesNotSplitTheNextOne) {
    mst(0, {"QMADA04", "QMADA04", "QMADA04", "QMADA04"});
    mst(4, {"QMADA04"});
    EXPECT_EQ(seqs(0, 16)[15], 4);
    EXPECT_EQ(seqs(4, 4), (std::vector<int32_t>{5, 5, 5, 5}));
}

TEST_F(StationLayout, AUnitOfTypeNewHasNoNumber) {
    ModelTable nt = tableFromText(
        "[Config]\nUnitCount=2\n[Model_0]\nModel=N1\nType=NEW\nId=1\nCh=1\nSeries=QMS\n"
        "[Model_1]\nModel=D1\nType=DIO\nId=1\nCh=1\nSeries=QMS\n");
    ConfigModel n(nt);
    n.startNew(oneBoard(1));
    ASSERT_EQ(placeStation(n, 0, 0, 0, kStaMst), DropResult::placed);
    TStaAddRec& rec = n.at(0, 0, 0);
    rec.Module = {1, 2, 0, 0};
    layoutSlots(rec, nt);
    renumber(n);
    EXPECT_EQ(rec.Slot[0].Seq, 0);
    EXPECT_EQ(rec.Slot[1].Seq, 1);
}

}  // namespace
}  // namespace kalvo::tool::test
