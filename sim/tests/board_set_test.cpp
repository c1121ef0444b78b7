// The board-set description: what the text yields, and that bad text is
// reported rather than crashing.
#include <gtest/gtest.h>

#include <random>

#include "sim/board_layout.h"
#include "sim/board_set.h"

namespace kalvo::sim {
namespace {

std::vector<BoardSpec> parsed(std::string_view text) {
    std::string error;
    auto boards = parseBoardSet(text, &error);
    EXPECT_TRUE(boards) << text << ": " << error;
    return boards.value_or(std::vector<BoardSpec>{});
}

TEST(BoardSet, KindsIdsCountsAndFaults) {
    auto boards = parsed("tolva:id=0, tolva:id=1 ,kvmdrv:id=0x00FF");
    ASSERT_EQ(boards.size(), 3u);
    EXPECT_EQ(boards[0], (BoardSpec{"tolva", 0, {}}));
    EXPECT_EQ(boards[1], (BoardSpec{"tolva", 1, {}}));
    EXPECT_EQ(boards[2], (BoardSpec{"kvmdrv", 0x00FF, {}}));

    // Without an id the n-th board of a kind is numbered n, unnumbered from 4.
    boards = parsed("tolva:count=5,cardmaster,tolva");
    ASSERT_EQ(boards.size(), 7u);
    for (uint16_t n = 0; n < 4; ++n) EXPECT_EQ(boards[n].idWord, n);
    EXPECT_EQ(boards[4].idWord, kUnnumberedBoardId);
    EXPECT_EQ(boards[5].idWord, 0);  // the first of its kind
    EXPECT_EQ(boards[6].idWord, kUnnumberedBoardId);

    boards = parsed("kvmdrv : id = 1 : count=2 : fault=extra-resources:fault=fail-memory-map");
    ASSERT_EQ(boards.size(), 2u);
    EXPECT_EQ(boards[1].idWord, 1);
    EXPECT_TRUE(boards[1].faults.extraResources);
    EXPECT_TRUE(boards[1].faults.failMemoryMap);
    EXPECT_FALSE(boards[1].faults.oneMemoryRange);

    EXPECT_TRUE(parsed("").empty());
    EXPECT_TRUE(parsed("  ").empty());
    EXPECT_EQ(parsed("tolva:count=64").size(), kMaxBoards);
}

TEST(BoardSet, FormattedSetReadsBackTheSame) {
    std::vector<BoardSpec> boards = parsed(
        "tolva:id=0x0001:fault=one-memory-range,kvmdrv:id=0xFFFF:fault=fail-control-map,"
        "cardmaster:fault=extra-resources:fault=fail-memory-map");
    EXPECT_EQ(parsed(formatBoardSet(boards)), boards);
    EXPECT_EQ(parsed(formatBoardSet(defaultBoardSet())), defaultBoardSet());
}

TEST(BoardSet, BadTextIsReportedWithItsPlace) {
    const char* bad[] = {
        "pci",
        "tolva,",
        ",tolva",
        "tolva:id",
        "tolva:id=",
        "tolva:id=x",
        "tolva:id=0x",
        "tolva:id=-1",
        "tolva:id=65536",
        "tolva:id=1:id=2",
        "tolva:count=0",
        "tolva:count=65",
        "tolva:count=2:count=2",
        "tolva:fault=fire",
        "tolva:colour=red",
        "tolva:count=60,kvmdrv:count=5",
        "tolva::id=1",
        "TOLVA",
        "tolva:id=0x1FFFF",
        "tolva:id=99999999999999999999",
    };
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(parseBoardSet(text, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    std::string error;
    parseBoardSet("tolva,kvmdrv:fault=fire", &error);
    EXPECT_NE(error.find("board entry 2"), std::string::npos) << error;
    EXPECT_NE(error.find("fire"), std::string::npos) << error;
    EXPECT_FALSE(parseBoardSet("nonsense", nullptr));  // no place for the reason: still fine
}

TEST(BoardSet, ArbitraryBytesNeverCrashTheParser) {
    std::mt19937 random(12345);
    const std::string alphabet = "tolvakmdrcsie=:,0x19Ff- \t\n\x01\xff";
    for (int round = 0; round < 5000; ++round) {
        std::string text(random() % 40, ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        std::string error;
        auto boards = parseBoardSet(text, &error);
        if (boards) {
            EXPECT_LE(boards->size(), kMaxBoards);
        } else {
            EXPECT_FALSE(error.empty()) << text;
        }
    }
    std::string withNul("tolva\0:id=1", 11);
    EXPECT_FALSE(parseBoardSet(withNul, nullptr));
}

}  // namespace
}  // namespace kalvo::sim
