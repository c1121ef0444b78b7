#include <gtest/gtest.h>

#include <string>

#include "sim/description/network_description.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace kalvo::sim;
using kalvo::testing::TempDir;

const char* const kUnused = "\xE6\x9C\xAA\xE4\xBD\xBF\xE7\x94\xA8";

// A station section as the configuration tool writes it.
std::string ctr(int board, int address, int flag, const std::string& unit0 = "",
                const std::string& code0 = "0") {
    std::string s = "[CTR_" + std::to_string(board) + "_1_" + std::to_string(address) + "]\r\n";
    s += "MstFlg=" + std::to_string(flag) + "\r\n";
    s +=
        "Unit_0=" + (unit0.empty() ? std::string(kUnused) : unit0) + "\r\nCode_0=" + code0 + "\r\n";
    for (int m = 1; m < 4; ++m)
        s += "Unit_" + std::to_string(m) + "=" + kUnused + "\r\nCode_" + std::to_string(m) +
             "=0\r\n";
    return s;
}

std::string toolFolderIni() {
    std::string ini =
        "[KALVO]\r\nConfigTool=1\r\nBoard=2\r\n"
        "[BOARD_1]\r\nKind=Pcimaster64\r\nLineMax=1\r\nStationAddr_1=0\r\nStationSize_1=32\r\n"
        "[BOARD_2]\r\nKind=Cardmaster\r\nLineMax=1\r\nStationAddr_1=0\r\nStationSize_1=32\r\n"
        "[DIO_1]\r\nBoard=1\r\nLine=1\r\nBase=1\r\nOffset=0,1\r\n"
        "[AXSA_1]\r\nBoard=1\r\nLine=1\r\nBase=4\r\nOffset=0,1,2,3,4,5,6,7,8,9,10,11\r\n"
        "[ENC_1]\r\nBoard=2\r\nLine=1\r\nBase=9\r\nOffset=0\r\n";
    for (int a = 0; a < 32; ++a) {
        if (a == 1)
            ini += ctr(1, a, 1, "QMDIO16", "17");
        else if (a == 4)
            ini += ctr(1, a, 1, "MRUM04*", "40");
        else if (a >= 5 && a <= 7)
            ini += ctr(1, a, 0, "MRUM04*", "40");
        else if (a == 20)
            ini += ctr(1, a, 1, "MYSTERY", "3");
        else if (a == 21)
            ini += ctr(1, a, 1, "ODD1", "5");
        else if (a == 22)
            ini += ctr(1, a, 1, "ODD2", "6");
        else if (a == 23)
            ini += ctr(1, a, 1, "QMDIO16", "17x");
        else
            ini += ctr(1, a, 2);
    }
    for (int a = 0; a < 32; ++a) ini += ctr(2, a, 2);
    return ini;
}

const char* const kModelTable =
    "[Config]\r\nUnitCount=5\r\n"
    "[Model_0]\r\nModel=QMDIO16\r\nType=DIO\r\nCode=17\r\nId=1\r\nCh=1\r\nSeries=QMS\r\n"
    "[Model_1]\r\nModel=MRUM04*\r\nType=AXSA\r\nCode=40\r\nId=3\r\nCh=4\r\nSeries=MRU\r\n"
    "[Model_2]\r\nModel=MYSTERY\r\nType=DIO\r\nCode=99\r\nSeries=QMS\r\n"
    // Not in the tool's model list: an unknown series, a type that is no
    // unit type.
    "[Model_3]\r\nModel=ODD1\r\nType=DIO\r\nCode=5\r\nSeries=XYZ\r\n"
    "[Model_4]\r\nModel=ODD2\r\nType=dio\r\nCode=6\r\nSeries=QMS\r\n";

TEST(ConfigurationFolder, ToolWrittenFolderGivesItsStationsUnitsAndModels) {
    TempDir dir;
    dir.write("Kalvo.ini", toolFolderIni());
    dir.write("ModelTbl.ini", kModelTable);
    std::string error;
    auto boards = boardsOfConfigurationFolder(dir.path(), &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(boards.size(), 2u);
    EXPECT_EQ(boards[0].kind, "tolva");
    EXPECT_EQ(boards[1].kind, "cardmaster");
    EXPECT_EQ(boards[1].idWord, 0);

    NetworkDescription spec = loadConfigurationFolder(dir.path(), boards, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(spec.boards.size(), 2u);
    const BoardNetwork& b1 = spec.boards[0];
    EXPECT_EQ(b1.board, 0u);
    ASSERT_EQ(b1.stations.size(), 6u);
    EXPECT_EQ(b1.stations[0].address, 1);
    EXPECT_EQ(b1.stations[0].addressCount, 1);
    EXPECT_EQ(b1.stations[0].model, "QMDIO16(DIO)");
    EXPECT_EQ(b1.stations[1].address, 4);
    EXPECT_EQ(b1.stations[1].addressCount, 4);  // head and three continuation addresses
    EXPECT_EQ(b1.stations[1].model, "MRUM04*(AXSA)");
    // A code that does not match the table's code number stays as written.
    EXPECT_EQ(b1.stations[2].model, "MYSTERY");
    EXPECT_EQ(b1.stations[3].model, "ODD1");
    EXPECT_EQ(b1.stations[4].model, "ODD2");
    EXPECT_EQ(b1.stations[5].model, "QMDIO16");  // a code that is not a number
    ASSERT_EQ(b1.units.size(), 2u);
    EXPECT_EQ(b1.units[0].name(), "DIO_1");
    EXPECT_EQ(b1.units[0].offsets, (std::vector<int>{0, 1}));
    EXPECT_EQ(b1.units[1].name(), "AXSA_1");
    EXPECT_EQ(b1.units[1].offsets.size(), 12u);
    // The ENC unit holds a station of its own but is no simulated unit.
    const BoardNetwork& b2 = spec.boards[1];
    EXPECT_EQ(b2.board, 1u);
    ASSERT_EQ(b2.stations.size(), 1u);
    EXPECT_EQ(b2.stations[0].address, 9);
    EXPECT_TRUE(b2.units.empty());

    // Without a model table the codes are shown as written.
    dir.write("ModelTbl.ini", "");
    spec = loadConfigurationFolder(dir.path(), boards, &error);
    EXPECT_EQ(spec.boards[0].stations[0].model, "QMDIO16");
}

// The model sections are found by name wherever they stand and whatever
// their case; the lowest number wins a model and code given twice; a huge
// "UnitCount" reads only the sections that are there.
TEST(ConfigurationFolder, ModelSectionsAreReadInNumberOrderWhereverTheyStand) {
    TempDir dir;
    dir.write("Kalvo.ini", toolFolderIni());
    dir.write("ModelTbl.ini",
              "[Model_1]\r\nModel=QMDIO16\r\nType=AXSA\r\nCode=17\r\nSeries=QMS\r\n"
              "[model_0]\r\nModel=QMDIO16\r\nType=DIO\r\nCode=17\r\nSeries=QMS\r\n"
              "[Model_04]\r\nModel=MRUM04*\r\nType=AXSA\r\nCode=40\r\nSeries=MRU\r\n"
              "[Config]\r\nUnitCount=2147483647\r\n");
    std::string error;
    auto boards = boardsOfConfigurationFolder(dir.path(), &error);
    NetworkDescription spec = loadConfigurationFolder(dir.path(), boards, &error);
    ASSERT_EQ(error, "");
    ASSERT_GE(spec.boards[0].stations.size(), 2u);
    EXPECT_EQ(spec.boards[0].stations[0].model, "QMDIO16(DIO)");
    EXPECT_EQ(spec.boards[0].stations[1].model, "MRUM04*");  // "Model_04" is no model section
}

TEST(ConfigurationFolder, BoardsMapByLibraryInstanceToTheBoardIdWord) {
    TempDir dir;
    dir.write("Kalvo.ini",
              "[Kalvo]\nBoard=3\n[Board_1]\nKind=Dualmaster\n[Board_2]\nKind=pcimaster64\n"
              "[Board_3]\nKind=DUALMASTER\n"
              "[DIO_2]\nBoard=3\nLine=1\nBase=0\nOffset=0\n");
    std::string error;
    auto derived = boardsOfConfigurationFolder(dir.path(), &error);
    ASSERT_EQ(derived.size(), 3u);
    EXPECT_EQ(derived[0].idWord, 0);
    EXPECT_EQ(derived[2].kind, "kvmdrv");
    EXPECT_EQ(derived[2].idWord, 1);  // the second Dualmaster board

    // Board 3 (Dualmaster instance 1) is the dual board whose ID word is 1,
    // wherever it stands in the set.
    std::vector<BoardSpec> set = {{"kvmdrv", 1, {}}, {"tolva", 0, {}}, {"kvmdrv", 0, {}}};
    NetworkDescription spec = loadConfigurationFolder(dir.path(), set, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(spec.boards.size(), 3u);
    EXPECT_EQ(spec.boards[0].board, 2u);
    EXPECT_EQ(spec.boards[1].board, 1u);
    EXPECT_EQ(spec.boards[2].board, 0u);
    EXPECT_EQ(spec.boards[2].units.at(0).name(), "DIO_2");

    // Without matching ID words, the k-th board of the kind.
    set = {{"kvmdrv", 7, {}}, {"tolva", 9, {}}, {"kvmdrv", 8, {}}};
    spec = loadConfigurationFolder(dir.path(), set, &error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(spec.boards[0].board, 0u);
    EXPECT_EQ(spec.boards[2].board, 2u);

    // Too few boards of a kind.
    set = {{"kvmdrv", 0, {}}, {"tolva", 0, {}}};
    spec = loadConfigurationFolder(dir.path(), set, &error);
    EXPECT_TRUE(spec.boards.empty());
    EXPECT_NE(error.find("Board_3"), std::string::npos) << error;
}

TEST(ConfigurationFolder, HandWrittenIniGetsStationsForItsUnitsAndEchoStations) {
    TempDir dir;
    dir.write("Kalvo.ini",
              "[Kalvo]\nBoard=1\n[Board_1]\nKind=Pcimaster64\n"
              "[SIO_1]\nBoard=1\nLine=1\nBase=2\nOffset=0,1,2,3,4,5,6,7\n"
              "[dio_3]\nBoard=1\nLine=1\nBase=3\nOffset=0, 1\n"  // inside SIO_1's station
              "[ADA_2]\nBoard=1\nLine=1\nBase=10\nOffset=0,1,x,3\nKind=ADA\n"
              "[DIO_X]\nBoard=9\n[Unrelated]\nKey=1\n"
              "[Simulation]\nEcho_1 = 5, 11\n");
    std::string error;
    NetworkDescription spec = loadConfigurationFolder(dir.path(), {{"tolva", 0, {}}}, &error);
    ASSERT_EQ(error, "");
    const BoardNetwork& b = spec.boards.at(0);
    ASSERT_EQ(b.stations.size(), 4u);
    EXPECT_EQ(b.stations[0].address, 2);
    EXPECT_EQ(b.stations[0].addressCount, 2);  // offsets up to 7: two addresses
    EXPECT_EQ(b.stations[1].address, 5);
    EXPECT_TRUE(b.stations[1].echo);
    EXPECT_EQ(b.stations[2].address, 10);
    EXPECT_EQ(b.stations[2].addressCount, 1);  // "x" ends the offset list at 0,1
    EXPECT_EQ(b.stations[3].address, 11);
    EXPECT_TRUE(b.stations[3].echo);
    ASSERT_EQ(b.units.size(), 3u);
    EXPECT_EQ(b.units[1].family, "DIO");
    EXPECT_EQ(b.units[1].station, 3);
    EXPECT_EQ(b.units[2].offsets, (std::vector<int>{0, 1}));
    EXPECT_EQ(b.units[2].kind, "ADA");
}

TEST(ConfigurationFolder, RefusesWhatCannotBeSimulatedWithTheReason) {
    struct Case {
        std::string ini;
        const char* reason;
    };
    const std::string head = "[Kalvo]\nBoard=1\n[Board_1]\nKind=Pcimaster64\n";
    const Case cases[] = {
        {"[Kalvo]\nBoard=5\n", "0 to 4"},
        {"[Kalvo]\nBoard=1\n[Board_1]\nKind=KV40MST\n", "KV40MST"},
        {head + "[CTR_1_1_0]\nMstFlg=0\n", "without a station before it"},
        {head + "[CTR_1_1_3]\nMstFlg=7\n", "MstFlg 7"},
        {head + "[DIO_1]\nBoard=2\nLine=1\nBase=0\nOffset=0\n", "Board 2"},
        {head + "[DIO_1]\nBoard=1\nLine=2\nBase=0\nOffset=0\n", "Line 2"},
        {head + "[DIO_1]\nBoard=1\nLine=1\nBase=32\nOffset=0\n", "Base 32"},
        {head + "[DIO_1]\nBoard=1\nLine=1\nBase=0\nOffset=0,16\n", "Offset 16"},
        {head + "[DIO_1]\nBoard=1\nLine=1\nBase=0\n", "no Offset"},
        {head + "[Simulation]\nEcho_1=40\n", "Echo_1"},
        {head + "[DIO_1]\nBoard=1\nLine=1\nBase=0\nOffset=4\n[Simulation]\nEcho_1=1\n",
         "inside the station at 0"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.write("Kalvo.ini", c.ini);
        std::string error;
        NetworkDescription spec = loadConfigurationFolder(dir.path(), defaultBoardSet(), &error);
        EXPECT_TRUE(spec.boards.empty()) << c.ini;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.ini << "\n-> " << error;
    }
}

}  // namespace
