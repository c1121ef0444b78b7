// The API library's and the board library's reads of the ini files, run in a
// private current directory as an application runs in its project folder.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "api/configfiles/board_library_ini.h"
#include "api/configfiles/kalvo_ini_reader.h"
#include "tests/support/temp_dir.h"

namespace kalvo::configfiles {
namespace {

class LibraryReaders : public ::testing::Test {
  protected:
    kalvo::testing::IsolatedEnvironment env;
    void write(const std::string& text) { env.work().write("Kalvo.ini", text); }
};

TEST_F(LibraryReaders, FileNamesAreAbsoluteInTheCurrentDirectory) {
    EXPECT_EQ(kalvoIniFileName(), env.workDir() + "/Kalvo.ini");
    EXPECT_EQ(boardLibraryIniFileName("Cardmaster"), env.workDir() + "/Cardmaster.ini");
}

TEST_F(LibraryReaders, AbsentFileGivesTheDefaults) {
    const std::string file = kalvoIniFileName();
    EXPECT_EQ(readBoardCount(file), 0);

    KalvoBoardSection board = readBoardSection(file, 1);
    EXPECT_EQ(board.kind, "");
    for (int l = 0; l < kBoardSectionLines; ++l) {
        EXPECT_EQ(board.stationAddr[l], -1);
        EXPECT_EQ(board.stationSize[l], -1);
        EXPECT_EQ(board.byteBusSize[l], 4);
        EXPECT_EQ(board.timeOutTimes[l], 1);
    }

    KalvoUnitSection unit = readUnitSection(file, "DIO", 1);
    EXPECT_EQ(unit.board, -1);
    EXPECT_EQ(unit.line, -1);
    EXPECT_EQ(unit.base, -1);
    EXPECT_EQ(unit.offsets.count, 0);
    EXPECT_EQ(unit.kind, "");

    EXPECT_EQ(readBoardBaudCode(boardLibraryIniFileName("Cardmaster"), 0), -1);
}

TEST_F(LibraryReaders, SectionsAndKeysMatchWithoutRegardToCase) {
    write("[KALVO]\r\nConfigTool=1\r\nBoard=0\r\n");
    EXPECT_EQ(readBoardCount(kalvoIniFileName()), 0);

    write(
        "[KALVO]\r\nBoard=2\r\n"
        "[BOARD_1]\r\nKind=Cardmaster\r\nLineMax=1\r\nStationAddr_1=0\r\nSTATIONSIZE_1=32\r\n"
        "TimeOutTimes_1=3\r\nByteBusSize_2=2\r\nStationAddr_4=5\r\nBaudrate_1=12\r\n"
        "[dio_7]\r\nBoard=1\r\nLine=1\r\nBase=3\r\nOffset=0, 1,2\r\nkind=dio\r\n");
    const std::string file = kalvoIniFileName();
    EXPECT_EQ(readBoardCount(file), 2);

    KalvoBoardSection board = readBoardSection(file, 1);
    EXPECT_EQ(board.kind, "Cardmaster");
    EXPECT_EQ(board.stationAddr, (std::array<int32_t, 4>{0, -1, -1, 5}));
    EXPECT_EQ(board.stationSize, (std::array<int32_t, 4>{32, -1, -1, -1}));
    EXPECT_EQ(board.byteBusSize, (std::array<int32_t, 4>{4, 2, 4, 4}));
    EXPECT_EQ(board.timeOutTimes, (std::array<int32_t, 4>{3, 1, 1, 1}));

    KalvoUnitSection unit = readUnitSection(file, "DIO", 7);
    EXPECT_EQ(unit.board, 1);
    EXPECT_EQ(unit.line, 1);
    EXPECT_EQ(unit.base, 3);
    ASSERT_EQ(unit.offsets.count, 3);
    EXPECT_EQ(unit.offsets.offsets[2], 2);
    EXPECT_EQ(unit.kind, "dio");
}

TEST_F(LibraryReaders, BoardLibraryReadsLineZeroOfItsInstanceSection) {
    env.work().write("Cardmaster.ini",
                     "[board_0]\r\nBaudrate_0=6\r\nBaudrate_1=3\r\n[BOARD_1]\r\nBaudrate_1=12\r\n");
    const std::string file = boardLibraryIniFileName("Cardmaster");
    EXPECT_EQ(readBoardBaudCode(file, 0), 6);
    EXPECT_EQ(readBoardBaudCode(file, 1), -1);  // only line index 0 is read
    EXPECT_EQ(readBoardBaudCode(file, 2), -1);
}

TEST_F(LibraryReaders, LongTextsAreCutAt259Bytes) {
    std::string kind(400, 'k');
    std::string offset = "1,2";
    offset += std::string(300, ' ') + ",3";  // the third field lies beyond 259 bytes
    write("[Board_1]\r\nKind=" + kind + "\r\n[SIO_1]\r\nOffset=" + offset + "\r\n");
    EXPECT_EQ(readBoardSection(kalvoIniFileName(), 1).kind, kind.substr(0, 259));
    EXPECT_EQ(readUnitSection(kalvoIniFileName(), "SIO_1").offsets.count, 2);
}

TEST_F(LibraryReaders, BadInputReadsAsDefaultsOrBoundedValues) {
    const std::string file = kalvoIniFileName();

    std::mt19937 random(7);
    std::string garbage(1 << 16, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    write(garbage);
    (void)readBoardCount(file);
    (void)readBoardSection(file, 1);
    EXPECT_LE(readUnitSection(file, "DIO_1").offsets.count, kMaxOffsets);

    write("[Kalvo]\r\nBoard=" + std::string(1 << 20, '7') +
          "\r\n[ADA_1]\r\nOffset=" + std::string(1 << 20, '1') + "\r\n");
    (void)readBoardCount(file);
    KalvoUnitSection unit = readUnitSection(file, "ADA_1");
    ASSERT_EQ(unit.offsets.count, 1);
    EXPECT_EQ(unit.offsets.offsets[0], INT32_MAX);

    write("[AXSA_1]\r\nOffset=" + std::string(1000, ',') + "\r\n[a/b\\c_1]\r\nBoard=4\r\n");
    EXPECT_EQ(readUnitSection(file, "AXSA_1").offsets.count, 0);
    EXPECT_EQ(readUnitSection(file, "a/b\\c", 1).board, 4);
    EXPECT_EQ(readUnitSection(file, std::string(5000, '/')).board, -1);
}

}  // namespace
}  // namespace kalvo::configfiles
