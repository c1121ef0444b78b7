#include <gtest/gtest.h>

#include "sim/description/network_description.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace kalvo::sim;

const char* const kFile =
    "# two boards\n"
    "[board 0]\n"
    "station 3 model=DIO16 addresses=2   ; a comment\n"
    "station 5 echo\n"
    "station 8 addresses=4 model=MRUM04*\n"
    "unit DIO_1 station=3 offsets=0,1\n"
    "unit AXSA_2 station=8 offsets=0,1,2,3,4,5,6,7 kind=AXSA hold\n"
    "\r\n"
    "[ board 2 ]\n"
    "station 0\n"
    "unit SIO_1 station=0 offsets=0,1,2,3\n";

TEST(NetworkFile, ParsesStationsAndUnitsAndReadsBackWhatItWrites) {
    std::string error = "x";
    NetworkDescription spec = parseNetworkText(kFile, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(spec.boards.size(), 2u);
    const BoardNetwork& b0 = spec.boards[0];
    EXPECT_EQ(b0.board, 0u);
    ASSERT_EQ(b0.stations.size(), 3u);
    EXPECT_EQ(b0.stations[0].address, 3);
    EXPECT_EQ(b0.stations[0].addressCount, 2);
    EXPECT_EQ(b0.stations[0].model, "DIO16");
    EXPECT_FALSE(b0.stations[0].echo);
    EXPECT_TRUE(b0.stations[1].echo);
    EXPECT_EQ(b0.stations[2].addressCount, 4);
    ASSERT_EQ(b0.units.size(), 2u);
    EXPECT_EQ(b0.units[0].name(), "DIO_1");
    EXPECT_EQ(b0.units[0].station, 3);
    EXPECT_EQ(b0.units[0].offsets, (std::vector<int>{0, 1}));
    EXPECT_EQ(b0.units[1].family, "AXSA");
    EXPECT_EQ(b0.units[1].number, 2);
    EXPECT_EQ(b0.units[1].kind, "AXSA");
    EXPECT_FALSE(b0.units[0].hold);
    EXPECT_TRUE(b0.units[1].hold);
    EXPECT_EQ(spec.boards[1].board, 2u);
    EXPECT_EQ(spec.boards[1].units[0].offsets.size(), 4u);

    std::string text = formatNetworkText(spec);
    NetworkDescription again = parseNetworkText(text, &error);
    ASSERT_EQ(error, "") << text;
    EXPECT_EQ(formatNetworkText(again), text);
    EXPECT_EQ(again.boards[0].units[1].offsets, b0.units[1].offsets);
    EXPECT_TRUE(again.boards[0].units[1].hold);
}

TEST(NetworkFile, RefusesBadLinesNamingTheLine) {
    struct Case {
        const char* text;
        const char* where;
        const char* reason;
    };
    const Case cases[] = {
        {"station 1\n", "line 1", "before the first [board N]"},
        {"[board 0]\nstation 32\n", "line 2", "0 to 31"},
        {"[board 0]\nstation -1\n", "line 2", "0 to 31"},
        {"[board 0]\nstation 30 addresses=3\n", "line 2", "does not fit"},
        {"[board 0]\nstation 1 addresses=2\nstation 2\n", "line 3", "overlaps station 1"},
        {"[board 0]\nstation 1 colour=red\n", "line 2", "unknown station option"},
        {"[board 0]\nstation 1 echo echo\n", "line 2", "twice"},
        {"[board 0]\n[board 0]\n", "line 2", "listed twice"},
        {"[board x]\n", "line 1", "[board N]"},
        {"[board 0] extra\n", "line 1", "[board N]"},
        {"[board 0]\nwire 1\n", "line 2", "unknown keyword"},
        {"[board 0]\nstation 1\nunit ENC_1 station=1 offsets=0\n", "line 3", "FAMILY_N"},
        {"[board 0]\nstation 1\nunit DIO_0 station=1 offsets=0\n", "line 3", "FAMILY_N"},
        {"[board 0]\nstation 1\nunit DIO_1 station=1\n", "line 3", "needs station= and offsets="},
        {"[board 0]\nstation 1\nunit DIO_1 station=1 offsets=0,16\n", "line 3", "offsets"},
        {"[board 0]\nstation 1\nunit DIO_1 station=1 offsets=0,,1\n", "line 3", "offsets"},
        {"[board 0]\nstation 1\nunit DIO_1 station=2 offsets=0\n", "line 3", "no station"},
        {"[board 0]\nstation 1\nunit DIO_1 station=1 offsets=0 hold hold\n", "line 3", "twice"},
        {"[board 0]\nstation 1\nunit DIO_1 station=1 offsets=0\n[board 1]\nstation 1\n"
         "unit DIO_1 station=1 offsets=0\n",
         "line 6", "listed twice"},
    };
    for (const Case& c : cases) {
        std::string error;
        NetworkDescription spec = parseNetworkText(c.text, &error);
        EXPECT_TRUE(spec.boards.empty()) << c.text;
        EXPECT_NE(error.find(std::string(c.where) + ": "), std::string::npos) << c.text << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << error;
    }
}

TEST(NetworkFile, LoadsFromAFileOrAFolderAndNamesThePathInErrors) {
    kalvo::testing::TempDir dir;
    dir.write("net.txt", "[board 1]\nstation 4 echo\n");
    dir.write("bad.txt", "[board 1]\nstation 4 echo\nbogus\n");
    std::string error;
    NetworkDescription spec = loadNetworkDescription(dir.file("net.txt"), {}, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(spec.boards.size(), 1u);
    EXPECT_TRUE(spec.boards[0].stations[0].echo);

    loadNetworkFile(dir.file("bad.txt"), &error);
    EXPECT_EQ(error.rfind(dir.file("bad.txt") + ": line 3: ", 0), 0u) << error;
    loadNetworkFile(dir.file("missing.txt"), &error);
    EXPECT_NE(error.find("cannot read"), std::string::npos);
    // A folder is read as a configuration folder.
    loadNetworkDescription(dir.path(), {}, &error);
    EXPECT_NE(error.find("no Kalvo.ini"), std::string::npos) << error;
}

}  // namespace
