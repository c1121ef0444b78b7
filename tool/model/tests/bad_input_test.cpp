// Damaged and hostile files: no crash, the load's skip rules, and the check
// naming each problem with its section.
#include <gtest/gtest.h>

#include <random>

#include "tests/support/temp_dir.h"
#include "tool/model/config_dat.h"
#include "tool/model/configuration_check.h"
#include "tool/model/configuration_files.h"
#include "tool/model/editor_operations.h"
#include "tool/model/station_layout.h"
#include "tool/model/tests/model_test_support.h"

namespace kalvo::tool::test {
namespace {

const char kHead[] =
    "[KALVO]\r\nConfigTool=1\r\nBoard=1\r\n[BOARD_1]\r\nKind=Pcimaster64\r\nLineMax=1\r\n";

std::string ctr(int address, int flag, const std::string& unit = "QMDIO16",
                const std::string& code = "17") {
    return "[CTR_1_1_" + std::to_string(address) + "]\r\nMstFlg=" + std::to_string(flag) +
           "\r\nUnit_0=" + unit + "\r\nCode_0=" + code + "\r\n";
}
std::string unit(const std::string& section, const std::string& body) {
    return "[" + section + "]\r\n" + body;
}

struct BadInput : ::testing::Test {
    const ModelTable& t = exampleModels();
    kalvo::testing::TempDir dir;
    ConfigModel m{t};
    void SetUp() override { m.setFolder(dir.path()); }
    std::vector<std::string> check(const std::string& text) {
        dir.write("Kalvo.ini", text);
        LoadResult r = loadConfiguration(m);
        // Whatever was loaded can be shown, numbered, saved and imaged.
        (void)buildConfigDat(m);
        return checkConfiguration(m, r);
    }
    static bool mentions(const std::vector<std::string>& problems, const std::string& a,
                         const std::string& b) {
        for (const std::string& p : problems)
            if (p.find(a) != std::string::npos && p.find(b) != std::string::npos) return true;
        return false;
    }
};

TEST_F(BadInput, EveryProblemIsNamedWithItsSection) {
    struct Case {
        std::string text;
        std::string section;
        std::string what;
    } cases[] = {
        {unit("DIO_1", "Board=7\r\nLine=1\r\nBase=1\r\nOffset=0\r\n"), "[DIO_1]",
         "Board 7 is not a configured board"},
        {unit("DIO_1", "Board=1\r\nLine=2\r\nBase=1\r\nOffset=0\r\n"), "[DIO_1]", "Line 2"},
        {unit("DIO_1", "Board=1\r\nLine=1\r\nBase=-4\r\nOffset=0\r\n"), "[DIO_1]", "Base -4"},
        {unit("DIO_1", "Board=1\r\nLine=1\r\nBase=40\r\nOffset=0\r\n"), "[DIO_1]", "Base 40"},
        {unit("DIO_1", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=\r\n"), "[DIO_1]", "Offset is empty"},
        {ctr(1, 1) + unit("DIO_1", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0,16,-1\r\n"), "[DIO_1]",
         "Offset item 16"},
        {ctr(1, 1) + unit("DIO_1", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0,x\r\n"), "[DIO_1]",
         "\"x\" is not a number"},
        {ctr(1, 1) + unit("DIO_1", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0,5\r\n"), "[DIO_1]",
         "Offset 5 lies at address 2, outside its station"},
        {unit("DIO_1", "Board=1\r\nLine=1\r\nBase=3\r\nOffset=0\r\n"), "[DIO_1]",
         "holds no station head"},
        {ctr(1, 1) + unit("DIO_1", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0\r\n") +
             unit("DIO_2", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0\r\n"),
         "[DIO_2]", "also taken by [DIO_1]"},
        {ctr(1, 1) + unit("DIO_2", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0\r\n"), "[DIO_2]",
         "never read"},
        {unit("SIO_600", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0\r\n"), "[SIO_600]", "never read"},
        {ctr(4, 1, "QMNONE", "99"), "[CTR_1_1_4]", "\"QMNONE\" with Code_0 \"99\" is no model"},
        {ctr(4, 1, "QMDIO16", "18"), "[CTR_1_1_4]", "is no model"},
        {ctr(4, 0), "[CTR_1_1_4]", "continuation address (MstFlg 0) with no station"},
        {ctr(4, 1, "MRUM04*", "40") + ctr(6, 1) +
             unit("AXSA_1", "Board=1\r\nLine=1\r\nBase=4\r\nOffset=0,1,2,3,4,5,6,7,8,9\r\n"),
         "[CTR_1_1_4]", "overlaps the station at address 6"},
        {ctr(1, 1, "QMADA04", "33") +
             unit("ADA_1", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0,1\r\n"),
         "[CTR_1_1_1]", "slots 2,3 of the MST station carry units of its modules that no unit"},
        {ctr(1, 1, "QMADA04", "33") + unit("DIO_1", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0\r\n"),
         "[DIO_1]", "where its modules (CTR section) put QMADA04 (ADA)"},
        {ctr(1, 1) + unit("DIO_1", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0,1\r\n"), "[DIO_1]",
         "Offset 1 names slot 1 of the station at 1, where its modules (CTR section) put no unit"},
        {"[CTR_1_1_1]\r\nMstFlg=1\r\nUnit_0=QMADA04\r\nCode_0=33\r\nUnit_1=QMADA04\r\nCode_1="
         "33\r\n" +
             unit("ADA_1", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0,1,2,3\r\n") +
             unit("ADA_2", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=4,5,6,7\r\n"),
         "[CTR_1_1_1]",
         "needs 2 addresses (1 to 2), but its continuation addresses (MstFlg 0) end"},
        {ctr(30, 1, "MRUM04*", "40") +
             unit("AXSA_1", "Board=1\r\nLine=1\r\nBase=30\r\nOffset=0,1,2,3,4,5,6,7,8\r\n"),
         "[CTR_1_1_30]", "runs past address 31"},
    };
    for (const Case& c : cases) {
        auto problems = check(kHead + c.text);
        EXPECT_TRUE(mentions(problems, c.section, c.what))
            << c.text << "\n"
            << (problems.empty() ? "(none)" : problems[0]);
    }
    auto board = check("[KALVO]\r\nConfigTool=1\r\nBoard=1\r\n[BOARD_1]\r\nKind=Tolva\r\n");
    EXPECT_TRUE(mentions(board, "[BOARD_1]", "matches no board kind"));
    auto many = check("[KALVO]\r\nConfigTool=1\r\nBoard=1000000\r\n");
    EXPECT_TRUE(mentions(many, "[KALVO]", "at most 4 boards"));
}

TEST_F(BadInput, ACleanFolderHasNoProblems) {
    auto problems = check(std::string(kHead) + ctr(1, 1) +
                          unit("DIO_1", "Board=1\r\nLine=1\r\nBase=1\r\nOffset=0\r\n"));
    EXPECT_TRUE(problems.empty()) << problems[0];
}

TEST_F(BadInput, HugeCountsAndLongListsStayBounded) {
    std::string offsets;
    for (int i = 0; i < 500; ++i) offsets += (i ? "," : "") + std::to_string(i % 40 - 5);
    auto problems =
        check(std::string(kHead) + ctr(0, 1, "MRUM04*", "40") + ctr(1, 0) + ctr(2, 0) + ctr(3, 0) +
              unit("AXSA_1", "Board=1\r\nLine=1\r\nBase=0\r\nOffset=" + offsets + "\r\n"));
    EXPECT_TRUE(mentions(problems, "[AXSA_1]", "Offset item -5"));
    EXPECT_EQ(m.at(0, 0, 0).AddrCount, 4);

    ModelTable huge = tableFromText(
        "[Config]\nUnitCount=1000000\n[Model_0]\nModel=BIG\nType=ADA\nId=1000000\nCh=1000000\n"
        "Series=QMS\n[Model_999999]\nModel=LAST\nType=DIO\nId=-3\nCh=2\nSeries=QMS\n"
        "[Model_1000000]\nModel=BEYOND\nType=DIO\nSeries=QMS\n");
    ASSERT_EQ(huge.list().size(), 3u);
    EXPECT_EQ(huge.list()[1].SlotCount, INT32_MAX);
    EXPECT_EQ(huge.list()[2].SlotCount, -6);
    ConfigModel hm(huge);
    hm.startNew(oneBoard(1));
    TStaAddRec& rec = hm.at(0, 0, 0);
    rec.StaType = kStaMst;
    rec.Module = {1, 2, 1, 0};
    layoutSlots(rec, huge);
    EXPECT_EQ(rec.Slot[15].Unit, 1);
    EXPECT_EQ(rec.Slot[16].Unit, 0);
    EXPECT_FALSE(layoutRows(huge, {1, 0, 0, 0}).Ok);
}

// A unit section on an empty address gives it an address count; placing a
// station there later must not free the next station's head.
TEST_F(BadInput, PlacingOnAnAddressWithAStaleAddressCountKeepsTheNextStation) {
    check(kHead + ctr(4, 1) + unit("DIO_1", "Board=1\r\nLine=1\r\nBase=4\r\nOffset=0\r\n") +
          unit("ADA_1", "Board=1\r\nLine=1\r\nBase=3\r\nOffset=0,13\r\n"));
    ASSERT_EQ(m.at(0, 0, 3).AddrCount, 4);
    ASSERT_EQ(placeStation(m, 0, 0, 3, kStaMst), DropResult::placed);
    EXPECT_EQ(m.at(0, 0, 4).StaType, kStaMst);
    EXPECT_EQ(m.at(0, 0, 4).Slot[0].Unit, model(t, "QMDIO16"));
}

// A damaged folder can put a full station on the last address: its code
// bytes end with the line's 128 IDs instead of running into the next block.
TEST_F(BadInput, ConfigDatNeverWritesPastTheLinesIds) {
    std::string text = kHead + ctr(31, 1, "QMADA04", "33");
    for (int k = 1; k < 4; ++k)
        text += "Unit_" + std::to_string(k) + "=QMADA04\r\nCode_" + std::to_string(k) + "=33\r\n";
    check(text);
    ASSERT_EQ(m.at(0, 0, 31).Slot[15].Unit, model(t, "QMADA04"));
    const std::string image = buildConfigDat(m);
    ASSERT_EQ(image.size(), 294u);
    EXPECT_EQ(uint8_t(image[4 + 2 + 15 + 124]), 33);
    EXPECT_EQ(uint8_t(image[4 + 2 + 142]), 33);
    EXPECT_EQ(image[4 + 2 + 143], 0);
    EXPECT_EQ(image.substr(4 + 2 + 144), std::string(144, '\0'));
}

// An axis model with a huge ID count: the station's unit section lists its
// 16 logical IDs, not millions of offsets.
TEST_F(BadInput, AnAxisModelWithHugeCountsSavesSixteenOffsets) {
    ModelTable big = tableFromText(
        "[Config]\nUnitCount=1\n[Model_0]\nModel=MRUM04*\nType=AXSA\nCode=40\nId=1000000\n"
        "Ch=1000000\nSeries=MRU\n");
    ConfigModel bm(big);
    bm.setFolder(dir.path());
    bm.startNew(oneBoard(1));
    ASSERT_EQ(placeStation(bm, 0, 0, 0, kStaAxs4), DropResult::placed);
    ASSERT_TRUE(saveConfiguration(bm).ok());
    EXPECT_NE(dir.read("Kalvo.ini").find("Offset=0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15\r\n"),
              std::string::npos);
}

TEST_F(BadInput, GarbageFilesNeverCrash) {
    std::mt19937 random(13);
    const std::string pieces[] = {
        "[",     "]",           "=",       "\r\n",     "\n",          "KALVO",    "ConfigTool",
        "Board", "BOARD_1",     "DIO_1",   "CTR_1_1_", "MstFlg",      "Offset",   "Base",
        "Line",  "1",           "-1",      "0,",       "99999999999", "\xFF\x80", "Unit_0",
        "Kind",  "Pcimaster64", "Model_0", "Type",     "UnitCount"};
    for (int round = 0; round < 200; ++round) {
        std::string text = round % 2 ? std::string(kHead) : std::string();
        for (int i = 0; i < 300; ++i) text += pieces[random() % std::size(pieces)];
        check(text);
        tableFromText(text);
    }
}

}  // namespace
}  // namespace kalvo::tool::test
