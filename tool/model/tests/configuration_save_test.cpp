#include "tool/model/configuration_save.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "api/configfiles/board_library_ini.h"
#include "api/configfiles/kalvo_ini_class.h"
#include "api/configfiles/kalvo_ini_reader.h"
#include "tests/support/temp_dir.h"

namespace kalvo::tool {
using namespace kalvo::configfiles;
namespace {

using kalvo::testing::TempDir;

SaveBoardSlot board(int32_t no, const std::string& lib, int32_t lineSettings, int32_t baud = -1,
                    int32_t longFrame = -1) {
    SaveBoardSlot slot;
    slot.BoardNo = no;
    slot.LibName = lib;
    slot.LineSettings = lineSettings;
    slot.Baudrate = {baud, 3};
    slot.LongFrame = {longFrame, 1};
    return slot;
}

SaveStationSection station(int32_t boardNo, int32_t address) {
    SaveStationSection s;
    s.BoardNo = boardNo;
    s.LineNo = 1;
    s.Address = address;
    s.Rec.Unit = {"未使用", "未使用", "未使用", "未使用"};
    s.Rec.Code = {"0", "0", "0", "0"};
    return s;
}

// Two PC-card boards around a PCI board: the card boards are instances 0
// and 1 of their library, the PCI board in between does not shift them.
ConfigurationSaveInput mixedBoards() {
    ConfigurationSaveInput in;
    in.Boards[0] = board(1, "Cardmaster", 1, 12, 0);
    in.Boards[1] = board(2, "Pcimaster64", 0, 6, 1);
    in.Boards[3] = board(3, "Cardmaster", 1, 6, -1);
    in.Units = {{"DIO_1", {1, 1, 0, "0", ""}}, {"ADA_1", {3, 1, 2, "0,1,2,3", ""}}};
    for (int a = 0; a < 32; ++a) in.Stations.push_back(station(1, a));
    return in;
}

TEST(ConfigurationSave, BoardLibraryEntriesAreNumberedPerLibrary) {
    std::array<SaveBoardSlot, kBoardSlots> boards;
    boards[0] = board(1, "KV40MST", 1);
    boards[1] = board(2, "Cardmaster", 1);
    boards[2] = board(3, "cardmaster", 1);  // another name: compared exactly
    boards[3] = board(4, "KV40MST", 1);
    std::vector<TKVDllIniInfo> entries = boardLibraryEntries(boards);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].BoardIndex, 0);
    EXPECT_EQ(entries[1].BoardIndex, 0);
    EXPECT_EQ(entries[2].BoardIndex, 0);
    EXPECT_EQ(entries[3].BoardIndex, 1);
    EXPECT_EQ(entries[3].LineCount, 1);
}

TEST(ConfigurationSave, LibrariesReadWhatTheToolSaved) {
    kalvo::testing::IsolatedEnvironment env;
    ASSERT_TRUE(saveConfiguration(env.workDir() + "/", mixedBoards()).ok());

    const std::string kalvo = kalvoIniFileName();
    EXPECT_EQ(readBoardCount(kalvo), 3);
    KalvoBoardSection b1 = readBoardSection(kalvo, 1);
    EXPECT_EQ(b1.kind, "Cardmaster");
    EXPECT_EQ(b1.stationAddr[0], 0);
    EXPECT_EQ(b1.stationSize[0], 32);
    EXPECT_EQ(b1.byteBusSize[0], 4);
    EXPECT_EQ(b1.stationSize[1], -1);  // lines 2-4 stay unstarted
    EXPECT_EQ(readBoardSection(kalvo, 3).kind, "Cardmaster");

    TKalvoIniClass tool(kalvo);
    EXPECT_EQ(tool.readInteger("BOARD_1", "Baudrate_1", -2), 12);  // numbered from 1 here
    EXPECT_EQ(tool.readInteger("BOARD_1", "LongFrame_1", -2), 0);
    EXPECT_EQ(tool.readInteger("BOARD_2", "Baudrate_1", -2), -2);   // kind without line settings
    EXPECT_EQ(tool.readInteger("BOARD_3", "LongFrame_1", -2), -2);  // -1 is not written
    EXPECT_EQ(tool.readInteger("BOARD_1", "Baudrate_2", -2), -2);   // line 1 only

    KalvoUnitSection ada = readUnitSection(kalvo, "ADA", 1);
    EXPECT_EQ(ada.board, 3);
    EXPECT_EQ(ada.base, 2);
    EXPECT_EQ(ada.offsets.count, 4);
    EXPECT_EQ(tool.readStation(1, 1, 31).Unit[0], "未使用");

    const std::string card = boardLibraryIniFileName("Cardmaster");
    EXPECT_EQ(readBoardBaudCode(card, 0), 12);  // numbered from 0 there
    EXPECT_EQ(readBoardBaudCode(card, 1), 6);
    TKalvoIniClass cardIni(card);
    EXPECT_EQ(cardIni.readInteger("BOARD_0", "LongFrame_0", -2), 0);
    EXPECT_EQ(cardIni.readInteger("BOARD_1", "LongFrame_0", -2), -2);
    EXPECT_FALSE(std::filesystem::exists(env.work().file("Pcimaster64.ini")));
}

TEST(ConfigurationSave, SecondSaveReplacesKalvoIniAndMergesTheLibraryIni) {
    TempDir dir;
    dir.write("Cardmaster.ini",
              "[BOARD_0]\r\nBaudrate_0=3\r\nLongFrame_0=1\r\nOwn=7\r\n"
              "[BOARD_9]\r\nBaudrate_0=6\r\n");
    ASSERT_TRUE(saveConfiguration(dir.path(), mixedBoards()).ok());

    ConfigurationSaveInput second;
    second.Boards[2] = board(1, "Cardmaster", 1, 6, -1);
    second.Units = {{"SIO_1", {1, 1, 5, "0", ""}}};
    ASSERT_TRUE(saveConfiguration(dir.path() + "\\", second).ok());

    TKalvoIniClass kalvo(dir.file("Kalvo.ini"));
    EXPECT_EQ(kalvo.document().sections(), (std::vector<std::string>{"KALVO", "BOARD_1", "SIO_1"}));
    EXPECT_EQ(kalvo.readBoardCount(), 1);

    TKalvoIniClass card(dir.file("Cardmaster.ini"));
    EXPECT_EQ(card.readInteger("BOARD_0", "Baudrate_0", -2), 6);
    EXPECT_EQ(card.readInteger("BOARD_0", "LongFrame_0", -2), 0);  // from the first save
    EXPECT_EQ(card.readInteger("BOARD_0", "Own", -2), 7);
    EXPECT_EQ(card.readInteger("BOARD_1", "Baudrate_0", -2), 6);  // the first save's board 3
    EXPECT_EQ(card.readInteger("BOARD_9", "Baudrate_0", -2), 6);
}

TEST(ConfigurationSave, FailuresAreReportedAndKeepTheEarlierFiles) {
    TempDir dir;
    ConfigurationSaveInput in = mixedBoards();
    EXPECT_FALSE(saveConfiguration(dir.file("no-such-folder"), in).ok());
    EXPECT_FALSE(dir.exists("no-such-folder"));

    dir.write("Kalvo.ini", "[KALVO]\r\nConfigTool=1\r\nBoard=4\r\n");
    std::filesystem::create_directory(dir.file("Cardmaster.ini"));
    ConfigurationSaveResult result = saveConfiguration(dir.path(), in);
    EXPECT_EQ(result.FailedFiles, std::vector<std::string>{dir.file("Cardmaster.ini")});
    EXPECT_EQ(TKalvoIniClass(dir.file("Kalvo.ini")).readBoardCount(), 3);  // still written

    std::filesystem::remove(dir.file("Cardmaster.ini"));
    in.Units.push_back({"DIO_2", {1, 1, 0, "1\n[KALVO]\nBoard=4", ""}});
    result = saveConfiguration(dir.path(), in);
    EXPECT_EQ(result.FailedFiles, std::vector<std::string>{dir.file("Kalvo.ini")});
    TKalvoIniClass kalvo(dir.file("Kalvo.ini"));
    EXPECT_EQ(kalvo.readBoardCount(), 3);
    EXPECT_EQ(kalvo.readUnit("DIO_2").Offset, "");  // the refused value is not stored
}

}  // namespace
}  // namespace kalvo::tool
