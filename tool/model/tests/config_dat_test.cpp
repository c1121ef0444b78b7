#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tool/model/config_dat.h"
#include "tool/model/editor_operations.h"
#include "tool/model/tests/model_test_support.h"

namespace kalvo::tool::test {
namespace {

// A hand-built image: header, then per board its index, the line word at
// block offset 2 and code bytes at block offset 15 + logical ID.
struct Image {
    std::string bytes;
    explicit Image(uint16_t boards) : bytes(4, '\0') {
        bytes[0] = 1;
        bytes[2] = char(boards);
    }
    size_t board(uint16_t index, uint16_t lineWord) {
        size_t at = bytes.size();
        bytes.append(290, '\0');
        bytes[at] = char(index);
        bytes[at + 4] = char(lineWord & 0xFF);
        bytes[at + 5] = char(lineWord >> 8);
        return at + 2;  // line block
    }
    void code(size_t block, size_t offset, int code) { bytes[block + offset] = char(code); }
};

struct ConfigDat : ::testing::Test {
    const ModelTable& t = exampleModels();
    ConfigModel m{t};
};

TEST_F(ConfigDat, OneBoardInSlotTwoIsBoardIndexZero) {
    m.startNew(boardSettingsFromKinds({0, 1, 0, 0}, {{{3, 0}, {3, 0}, {3, 0}, {3, 0}}}));
    Image expected(1);
    expected.board(0, 0x0001);
    EXPECT_EQ(buildConfigDat(m), expected.bytes);
    EXPECT_EQ(buildConfigDat(m).size(), 294u);
}

TEST_F(ConfigDat, TwelveMegabitWithLongFrameIsWord0103) {
    m.startNew(oneBoard(3, 12, 1));
    std::string image = buildConfigDat(m);
    EXPECT_EQ(uint8_t(image[4 + 4]), 0x03);
    EXPECT_EQ(uint8_t(image[4 + 5]), 0x01);
    EXPECT_EQ(datLineWord(6, 0), 0x0002);
    EXPECT_EQ(datLineWord(0, 1), 0x0001);  // no rate: the long-frame value alone
}

TEST_F(ConfigDat, StationsFillTheirLogicalIdsWithUnitCodes) {
    m.startNew(oneBoard(1, 3, 0));
    const int32_t dio = model(t, "QMDIO16"), ada = model(t, "QMADA04");
    // MST at 5: two DIO and an ADA of four channels: six units in slots 0-5.
    ASSERT_EQ(placeStation(m, 0, 0, 5, kStaMst), DropResult::placed);
    ASSERT_EQ(setStationModules(m, 0, 0, 5, {dio, dio, ada, 0}).Result, ModulesResult::changed);
    // AXS4 at 28: 16 units, IDs 112-127.
    ASSERT_EQ(placeStation(m, 0, 0, 28, kStaAxs4), DropResult::placed);
    Image expected(1);
    size_t block = expected.board(0, 0x0001);
    const int codes[] = {17, 17, 33, 33, 33, 33};
    for (int i = 0; i < 6; ++i) expected.code(block, size_t(35 + i), codes[i]);
    for (int i = 0; i < 16; ++i) expected.code(block, size_t(15 + 112 + i), 40);
    EXPECT_EQ(buildConfigDat(m), expected.bytes);
    EXPECT_EQ(uint8_t(buildConfigDat(m)[4 + 2 + 142]), 40);
}

// A board kind without line settings gets the line word of 3 Mbit/s without
// long frame however its record was reached: New (the dialogs' first items),
// Open (no keys in Kalvo.ini: -1), or another kind's settings changed to it.
TEST_F(ConfigDat, ABoardWithoutLineSettingsHasOneLineWordHoweverItWasReached) {
    const struct {
        const char* name;
        int32_t kind, baud, longFrame;
        uint16_t word;
    } cases[] = {
        {"PCI from New", 1, 3, 0, 0x0001},
        {"PCI read back from Kalvo.ini", 1, -1, -1, 0x0001},
        {"dual PCI after a PC card's 12 Mbit/s", 2, 12, 1, 0x0001},
        {"PC card keeps its own", 3, 12, 1, 0x0103},
        {"PC card read without keys", 3, -1, -1, 0xFFFF},
    };
    for (const auto& c : cases) {
        m.startNew(oneBoard(c.kind, c.baud, c.longFrame));
        m.boards()[0].Line[0] = {c.baud, c.longFrame};
        const std::string image = buildConfigDat(m);
        EXPECT_EQ(uint8_t(image[4 + 4]) | uint8_t(image[4 + 5]) << 8, c.word) << c.name;
    }
}

TEST_F(ConfigDat, EmptySlotsAreSkippedAndUnusedSlotsGiveNoRecord) {
    m.startNew(boardSettingsFromKinds({1, 0, 3, 0}, {{{3, 0}, {3, 0}, {6, 1}, {3, 0}}}));
    ASSERT_EQ(placeStation(m, 2, 0, 2, kStaMst), DropResult::placed);
    TStaAddRec& rec = m.at(2, 0, 2);
    setSlotUnit(rec.Slot[0], t, model(t, "QMDIO16"));
    setSlotUnit(rec.Slot[2], t, model(t, "QMSIO01"));
    Image expected(2);
    expected.board(0, 0x0001);
    size_t block = expected.board(1, 0x0102);
    expected.code(block, 15 + 8, 17);
    expected.code(block, 16 + 8, 49);
    EXPECT_EQ(buildConfigDat(m), expected.bytes);
}

TEST_F(ConfigDat, IsWrittenWholeAndAFailedWriteNamesTheFile) {
    kalvo::testing::TempDir dir;
    m.startNew(oneBoard(1));
    m.setFolder(dir.path());
    std::string error;
    ASSERT_TRUE(writeConfigDat(m, &error)) << error;
    EXPECT_EQ(dir.read("KalvoConfig.dat"), buildConfigDat(m));
    m.setFolder(dir.file("missing-folder"));
    EXPECT_FALSE(writeConfigDat(m, &error));
    EXPECT_NE(error.find("KalvoConfig.dat could not be written"), std::string::npos);
}

}  // namespace
}  // namespace kalvo::tool::test
