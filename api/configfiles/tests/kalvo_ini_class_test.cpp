#include "api/configfiles/kalvo_ini_class.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace kalvo::configfiles {
namespace {

using kalvo::testing::TempDir;

TEST(KalvoIniClass, EmptyObjectReadsTheToolDefaults) {
    TempDir dir;
    TKalvoIniClass ini(dir.file("Kalvo.ini"));
    EXPECT_FALSE(ini.readFailed());
    EXPECT_EQ(ini.readToolMark(), 0);
    EXPECT_EQ(ini.readBoardCount(), 1);

    TKVIniBoardRec board = ini.readBoard(1);
    EXPECT_EQ(board.Kind, "MRMST01");
    EXPECT_EQ(board.LineMax, 1);
    EXPECT_EQ(board.StaAdd[1], 0);
    EXPECT_EQ(board.StaSize[1], 32);
    EXPECT_EQ(board.BusSize[1], 4);
    EXPECT_EQ(board.Baudrate[1], -1);
    EXPECT_EQ(board.LongFrame[1], -1);

    TKVIniStlRec unit = ini.readUnit("DIO_1");
    EXPECT_EQ(unit.Board, -1);
    EXPECT_EQ(unit.Line, 0);
    EXPECT_EQ(unit.Base, 0);
    EXPECT_EQ(unit.Offset, "");

    TKVSIniCtrRec station = ini.readStation(1, 1, 0);
    EXPECT_EQ(station.MstFlg, 2);
    EXPECT_EQ(station.Unit[3], "");
    EXPECT_EQ(station.Code[0], "");
}

TEST(KalvoIniClass, RecordsWrittenAndReadBackThroughTheFile) {
    TempDir dir;
    TKalvoIniClass out = TKalvoIniClass::createEmpty(dir.file("Kalvo.ini"));
    out.writeToolMark(1);
    out.writeBoardCount(2);
    TKVIniBoardRec board;
    board.Kind = "Cardmaster";
    board.Baudrate = {12, -1};
    board.LongFrame = {-1, 1};
    EXPECT_TRUE(out.writeBoard(1, board));
    EXPECT_TRUE(out.writeUnit("ADA_2", {1, 1, 4, "4,5,6,7", ""}));
    EXPECT_TRUE(out.writeUnit("SIO_1", {2, 1, 0, "0", "SIO"}));
    TKVSIniCtrRec station;
    station.MstFlg = 1;
    station.Unit = {"QMSA40*", "未使用", "未使用", "未使用"};
    station.Code = {"64", "0", "0", "0"};
    EXPECT_TRUE(out.writeStation(1, 1, 31, station));
    ASSERT_TRUE(out.updateFile());

    const std::string text = dir.read("Kalvo.ini");
    EXPECT_EQ(text.find("[KALVO]\r\nConfigTool=1\r\nBoard=2\r\n[BOARD_1]\r\nKind=Cardmaster\r\n"
                        "LineMax=1\r\nStationAddr_1=0\r\nStationSize_1=32\r\nBaudrate_1=12\r\n["),
              0u)
        << text;  // no bus size, no -1 values, no line 2 beyond LineMax
    EXPECT_NE(text.find("[ADA_2]\r\nBoard=1\r\nLine=1\r\nBase=4\r\nOffset=4,5,6,7\r\n[SIO_1]"),
              std::string::npos);  // "Kind" left out when empty

    TKalvoIniClass in(dir.file("Kalvo.ini"));
    EXPECT_EQ(in.readToolMark(), 1);
    EXPECT_EQ(in.readBoardCount(), 2);
    TKVIniBoardRec b = in.readBoard(1);
    EXPECT_EQ(b.Kind, "Cardmaster");
    EXPECT_EQ(b.Baudrate[0], 12);
    // The tool reads its line values back under its own names, which it
    // never writes: they come back as the defaults.
    EXPECT_EQ(b.StaSize[0], 32);
    EXPECT_EQ(b.BusSize[0], 4);
    EXPECT_EQ(in.readUnit("sio_1").Kind, "SIO");
    EXPECT_EQ(in.readUnit("ADA_2").Offset, "4,5,6,7");
    TKVSIniCtrRec s = in.readStation(1, 1, 31);
    EXPECT_EQ(s.MstFlg, 1);
    EXPECT_EQ(s.Unit, station.Unit);
    EXPECT_EQ(s.Code, station.Code);
}

TEST(KalvoIniClass, WritesThatWouldNotReadBackAreRefused) {
    TempDir dir;
    TKalvoIniClass ini = TKalvoIniClass::createEmpty(dir.file("Kalvo.ini"));
    EXPECT_FALSE(ini.writeUnit("DIO_1", {1, 1, 0, "0\r\n[BOARD_1]\r\nKind=evil", ""}));
    EXPECT_FALSE(ini.writeString("DIO]_1", "Board", "1"));
    EXPECT_FALSE(ini.writeString("DIO_1", "Bo=ard", "1"));
    EXPECT_FALSE(ini.writeString("DIO_1", "[Board", "1"));
    EXPECT_FALSE(ini.writeString("DIO_1", std::string("a\0b", 3), "1"));
    EXPECT_TRUE(ini.writeUnit("a/b\\c_1", {3, 1, 2, "0", ""}));
    ASSERT_TRUE(ini.updateFile());

    TKalvoIniClass back(dir.file("Kalvo.ini"));
    EXPECT_FALSE(back.document().hasSection("BOARD_1"));
    EXPECT_EQ(back.readUnit("A/B\\C_1").Board, 3);
}

TEST(KalvoIniClass, UpdateKeepsWhatItDidNotTouch) {
    TempDir dir;
    const std::string original = "; notes\n[BOARD_0]\nBaudrate_0=3\nMine=x\n\n[Other]\nk=v\n";
    dir.write("Cardmaster.ini", original);
    ::chmod(dir.file("Cardmaster.ini").c_str(), 0640);

    TKalvoIniClass ini(dir.file("Cardmaster.ini"));
    TKVDllIniInfo entry;
    entry.BoardIndex = 0;
    entry.LineCount = 1;
    entry.Baudrate = {12, 6};  // line index 1 is beyond LineCount
    EXPECT_TRUE(ini.writeLineSettings(entry));
    ASSERT_TRUE(ini.updateFile());

    EXPECT_EQ(dir.read("Cardmaster.ini"),
              "; notes\n[BOARD_0]\nBaudrate_0=12\nMine=x\n\n[Other]\nk=v\n");
    struct stat st;
    ASSERT_EQ(::stat(dir.file("Cardmaster.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);  // no temporary left behind
}

// A file that exists but cannot be read must not be replaced by the few
// keys written into the empty object.
TEST(KalvoIniClass, UnreadableFileIsNotOverwritten) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("Cardmaster.ini"));
    TKalvoIniClass ini(dir.file("Cardmaster.ini"));
    EXPECT_TRUE(ini.readFailed());
    ini.writeInteger("BOARD_0", "Baudrate_0", 3);
    EXPECT_FALSE(ini.updateFile());
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("Cardmaster.ini")));

    // Writing into a folder that does not exist fails and creates nothing.
    TKalvoIniClass lost = TKalvoIniClass::createEmpty(dir.file("missing/Kalvo.ini"));
    lost.writeToolMark(1);
    EXPECT_FALSE(lost.updateFile());
    EXPECT_FALSE(dir.exists("missing"));
}

TEST(KalvoIniClass, GarbageFilesLoadWithoutHarm) {
    TempDir dir;
    std::string garbage;
    for (int i = 0; i < 70000; ++i) garbage += static_cast<char>((i * 7919) % 256);
    garbage += "\n[" + std::string(1 << 20, 'x') + "\n=\n[]\n]=[\n";
    dir.write("Kalvo.ini", garbage);

    TKalvoIniClass ini(dir.file("Kalvo.ini"));
    (void)ini.readBoard(1);
    (void)ini.readStation(1, 1, 1);
    EXPECT_EQ(ini.readUnit("DIO_1").Board, -1);
    EXPECT_TRUE(ini.writeBoardCount(3));
    ASSERT_TRUE(ini.updateFile());
    TKalvoIniClass back(dir.file("Kalvo.ini"));
    EXPECT_EQ(back.readBoardCount(), 3);
    EXPECT_EQ(back.document().serialize().substr(0, garbage.size()), garbage);
}

}  // namespace
}  // namespace kalvo::configfiles
