#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tool/model/config_dat.h"
#include "tool/model/configuration_files.h"
#include "tool/model/editor_operations.h"
#include "tool/model/tests/model_test_support.h"
#include "tool/model/text_encoding.h"

namespace kalvo::tool::test {
namespace {

struct SaveLoad : ::testing::Test {
    const ModelTable& t = exampleModels();
    kalvo::testing::TempDir dir;
    ConfigModel m{t};
    void SetUp() override { m.setFolder(dir.path()); }
    void mst(int slot, int address, std::vector<std::string> codes) {
        ASSERT_EQ(placeStation(m, slot, 0, address, kStaMst), DropResult::placed);
        std::array<int32_t, kModules> modules{};
        for (size_t i = 0; i < codes.size(); ++i) modules[i] = model(t, codes[i]);
        ASSERT_EQ(setStationModules(m, slot, 0, address, modules).Result, ModulesResult::changed);
    }
    void place(int slot, int address, int type) {
        ASSERT_EQ(placeStation(m, slot, 0, address, type), DropResult::placed);
    }
    std::string ini() { return dir.read("Kalvo.ini"); }
    bool has(const std::string& text) { return ini().find(text) != std::string::npos; }
};

TEST_F(SaveLoad, FourBoardsWithEveryStationTypeRoundTripByteForByte) {
    m.startNew(boardSettingsFromKinds({1, 2, 3, 4}, {{{3, 0}, {6, 1}, {12, 1}, {6, 0}}}));
    for (int b = 0; b < kBoardSlots; ++b) {
        mst(b, 0, {"QMDIO16", "QMADA04", "QMDIO32"});             // addresses 0-1
        mst(b, 2, {"QMSIO01", "QMSA40*", "QMSA04*", "QMDIO16"});  // 2-4
        place(b, 5, kStaAxs2);
        place(b, 7, kStaAxs4);
        place(b, 11, kStaRfid2);
        place(b, 13, kStaRfid3);
        mst(b, 16, {"QMSC20*"});
        place(b, 17, kStaMst);  // no modules
        ASSERT_EQ(duplicateStation(m, b, 0, 0, 30), DropResult::placed);
    }
    ASSERT_TRUE(saveConfiguration(m).ok());
    const std::string first = ini();
    const std::string card = dir.read("Cardmaster.ini"), kv40 = dir.read("KV40MST.ini");

    ModelTable same = exampleModels();
    ConfigModel loaded(same);
    loaded.setFolder(dir.path());
    LoadResult r = loadConfiguration(loaded);
    ASSERT_TRUE(r.ok()) << r.Message;
    EXPECT_TRUE(r.Skipped.empty()) << r.Skipped[0];
    ASSERT_TRUE(saveConfiguration(loaded).ok());
    EXPECT_EQ(ini(), first);
    EXPECT_EQ(dir.read("Cardmaster.ini"), card);
    EXPECT_EQ(dir.read("KV40MST.ini"), kv40);
    EXPECT_EQ(loaded.at(3, 0, 8).StaType, kStaAxs4);
    EXPECT_FALSE(loaded.at(3, 0, 8).Head);
    EXPECT_EQ(loaded.at(3, 0, 31).StaAddr, 31);  // a load keeps every address's own
}

// Axis and RFID stations placed from the palette hold the slots a reload
// gives them, also when their model's slot count is not four per module:
// saved, reopened and saved again, the files are the same bytes.
TEST_F(SaveLoad, PlacedStationsHoldTheSlotsAReloadGivesThem) {
    ModelTable odd = tableFromText(
        "[Config]\nUnitCount=4\n"
        "[Model_0]\nModel=MRUM02*\nType=AXSA\nCode=39\nId=1\nCh=2\nSeries=MRU\n"
        "[Model_1]\nModel=MRUM04*\nType=AXSA\nCode=40\nId=2\nCh=2\nSeries=MRU\n"
        "[Model_2]\nModel=KVZC220\nType=RFID\nCode=50\nId=2\nCh=2\nSeries=KVZ\n"
        "[Model_3]\nModel=KVZC220\nType=RFID\nCode=51\nId=3\nCh=2\nSeries=KVZ\n");
    ConfigModel placed(odd);
    placed.setFolder(dir.path());
    placed.startNew(oneBoard(1));
    const int at[] = {0, 4, 10, 20};
    const int32_t types[] = {kStaAxs2, kStaAxs4, kStaRfid2, kStaRfid3};
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(placeStation(placed, 0, 0, at[i], types[i]), DropResult::placed);
    ASSERT_TRUE(saveConfiguration(placed).ok());
    const std::string first = ini(), dat = buildConfigDat(placed);
    ConfigModel loaded(odd);
    loaded.setFolder(dir.path());
    ASSERT_TRUE(loadConfiguration(loaded).ok());
    for (int i = 0; i < 4; ++i)
        for (int s = 0; s < kSlots; ++s)
            EXPECT_EQ(loaded.at(0, 0, at[i]).Slot[size_t(s)].Unit,
                      placed.at(0, 0, at[i]).Slot[size_t(s)].Unit)
                << types[i] << " slot " << s;
    ASSERT_TRUE(saveConfiguration(loaded).ok());
    EXPECT_EQ(ini(), first);
    EXPECT_EQ(buildConfigDat(loaded), dat);
}

TEST_F(SaveLoad, UnitSectionsAreNamedByTheirNumbersWithTheirSlotsAsOffsets) {
    m.startNew(oneBoard(1));
    mst(0, 0, {"QMADA04", "QMADA04"});
    mst(0, 2, {"QMDIO16", "QMDIO16", "QMDIO16"});
    place(0, 4, kStaAxs4);
    ASSERT_TRUE(saveConfiguration(m).ok());
    EXPECT_TRUE(has("[ADA_1]\r\nBoard=1\r\nLine=1\r\nBase=0\r\nOffset=0,1,2,3\r\n"));
    EXPECT_TRUE(has("[ADA_2]\r\nBoard=1\r\nLine=1\r\nBase=0\r\nOffset=4,5,6,7\r\n"));
    EXPECT_TRUE(has("[DIO_3]\r\nBoard=1\r\nLine=1\r\nBase=2\r\nOffset=2\r\n"));
    EXPECT_TRUE(
        has("[AXSA_1]\r\nBoard=1\r\nLine=1\r\nBase=4\r\nOffset=0,1,2,3,4,5,6,7,8,9,10,"
            "11,12,13,14,15\r\n"));
    EXPECT_TRUE(has("[CTR_1_1_5]\r\nMstFlg=0\r\nUnit_0=MRUM04*\r\nCode_0=40\r\n"));
    const std::string u(kUnusedText);
    EXPECT_TRUE(has("[CTR_1_1_31]\r\nMstFlg=2\r\nUnit_0=" + u + "\r\nCode_0=0\r\nUnit_1=" + u +
                    "\r\nCode_1=0\r\nUnit_2=" + u + "\r\nCode_2=0\r\nUnit_3=" + u +
                    "\r\nCode_3=0\r\n"));
    EXPECT_FALSE(has("Kind=\r\n"));
    EXPECT_FALSE(has("Baudrate"));
}

TEST_F(SaveLoad, LineSettingsGoToTheBoardLibraryIniNumberedFromZero) {
    m.startNew(boardSettingsFromKinds({3, 1, 3, 0}, {{{12, 1}, {3, 0}, {6, 0}, {3, 0}}}));
    dir.write("Cardmaster.ini", "[BOARD_5]\r\nBaudrate_0=3\r\n[BOARD_0]\r\nOwn=7\r\n");
    ASSERT_TRUE(saveConfiguration(m).ok());
    EXPECT_TRUE(
        has("[BOARD_1]\r\nKind=Cardmaster\r\nLineMax=1\r\nStationAddr_1=0\r\n"
            "StationSize_1=32\r\nBaudrate_1=12\r\nLongFrame_1=1\r\n"));
    EXPECT_TRUE(
        has("[BOARD_2]\r\nKind=Pcimaster64\r\nLineMax=1\r\nStationAddr_1=0\r\n"
            "StationSize_1=32\r\n[BOARD_3]"));
    const std::string card = dir.read("Cardmaster.ini");
    EXPECT_NE(card.find("[BOARD_0]\r\nOwn=7\r\nBaudrate_0=12\r\nLongFrame_0=1\r\n"),
              std::string::npos);
    EXPECT_NE(card.find("[BOARD_1]\r\nBaudrate_0=6\r\nLongFrame_0=0\r\n"), std::string::npos);
    EXPECT_NE(card.find("[BOARD_5]\r\nBaudrate_0=3\r\n"), std::string::npos);
}

TEST_F(SaveLoad, LoadFailsWithoutTheToolMarkOrBoards) {
    struct Case {
        const char* text;
        LoadStatus status;
    } cases[] = {
        {"[KALVO]\r\nBoard=1\r\n[BOARD_1]\r\nKind=Pcimaster64\r\nLineMax=1\r\n",
         LoadStatus::notToolFile},
        {"[KALVO]\r\nConfigTool=1\r\nBoard=0\r\n", LoadStatus::noBoards},
        {"[KALVO]\r\nConfigTool=1\r\nBoard=-3\r\n", LoadStatus::noBoards},
        {"[KALVO]\r\nConfigTool=1\r\nBoard=5\r\n", LoadStatus::tooManyBoards},
        {"[KALVO]\r\nConfigTool=1\r\n", LoadStatus::ok},  // Board defaults to 1
    };
    LoadResult missing = loadConfiguration(m);
    EXPECT_EQ(missing.Status, LoadStatus::missing);
    EXPECT_NE(missing.Message.find("Kalvo.ini does not exist"), std::string::npos);
    for (const Case& c : cases) {
        dir.write("Kalvo.ini", c.text);
        LoadResult r = loadConfiguration(m);
        EXPECT_EQ(r.Status, c.status) << c.text;
        if (!r.ok()) {
            EXPECT_NE(r.Message.find("[KALVO]"), std::string::npos) << r.Message;
        }
    }
    // Board = 1 with the default kind "MRMST01": no row matches, no lines.
    EXPECT_EQ(m.boards()[0].BoardNo, 1);
    EXPECT_EQ(m.boards()[0].LineCount, 0);
    EXPECT_EQ(m.pageCount(), 0);
}

TEST_F(SaveLoad, SavingAfterLoadingWritesTheLibraryNamesOfTheLineKeys) {
    dir.write("Kalvo.ini",
              "[KALVO]\r\nConfigTool=1\r\nBoard=1\r\n[BOARD_1]\r\nKind=Pcimaster64\r\n"
              "LineMax=1\r\nStaAdd_1=5\r\nStaSize_1=16\r\n");
    ASSERT_TRUE(loadConfiguration(m).ok());
    ASSERT_TRUE(saveConfiguration(m).ok());
    EXPECT_TRUE(has("StationAddr_1=0\r\nStationSize_1=32\r\n"));
    EXPECT_FALSE(has("StaAdd_1"));
}

TEST_F(SaveLoad, AShiftJisFolderLoadsWithItsJapaneseTextsIntact) {
    // 未使用 in Shift-JIS is 96 A2 8E 67 97 70.
    const std::string sjisUnused = "\x96\xA2\x8E\x67\x97\x70";
    std::string text =
        "[KALVO]\r\nConfigTool=1\r\nBoard=1\r\n[BOARD_1]\r\nKind=Pcimaster64\r\nLineMax=1\r\n"
        "[DIO_1]\r\nBoard=1\r\nLine=1\r\nBase=3\r\nOffset=0\r\n"
        "[CTR_1_1_3]\r\nMstFlg=1\r\nUnit_0=QMDIO16\r\nCode_0=17\r\n";
    for (int k = 1; k < 4; ++k)
        text += "Unit_" + std::to_string(k) + "=" + sjisUnused + "\r\nCode_" + std::to_string(k) +
                "=0\r\n";
    ASSERT_FALSE(isValidUtf8(text));
    dir.write("Kalvo.ini", text);
    LoadResult r = loadConfiguration(m);
    ASSERT_TRUE(r.ok()) << r.Message;
    EXPECT_TRUE(r.Cp932);
    EXPECT_TRUE(r.Skipped.empty()) << r.Skipped[0];
    EXPECT_EQ(m.at(0, 0, 3).StaType, kStaMst);
    EXPECT_EQ(m.at(0, 0, 3).Slot[0].Seq, 1);
    ASSERT_TRUE(saveConfiguration(m).ok());
    EXPECT_TRUE(isValidUtf8(ini()));
    EXPECT_TRUE(has("Unit_1=" + std::string(kUnusedText)));

    // A model table in Shift-JIS: its names arrive as UTF-8.
    dir.write("ModelTbl.ini",
              "[Config]\r\nUnitCount=1\r\n[Model_0]\r\nModel=QMDIO16\r\nName=\x83\x66\x83\x57"
              "\r\nType=DIO\r\nCode=17\r\nId=1\r\nCh=1\r\nSeries=QMS\r\n");
    ModelTable sjis;
    ASSERT_EQ(sjis.load(dir.file("ModelTbl.ini")), ModelTable::Source::loaded);
    EXPECT_TRUE(sjis.readAsCp932());
    EXPECT_EQ(sjis.list()[1].Info.Name, "\xE3\x83\x87\xE3\x82\xB8");  // デジ
}

}  // namespace
}  // namespace kalvo::tool::test
