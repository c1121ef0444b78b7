#include "diaglog/log_facility.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "diaglog/tests/log_test_util.h"
#include "platform/clock.h"
#include "platform/format.h"
#include "tests/support/temp_dir.h"

namespace kalvo::diaglog {
namespace {

using test::messageOf;
using test::readFile;
using test::readLines;
using test::writeFile;

constexpr uint32_t kBoardDefault = 0;
constexpr uint32_t kApiDefault = 0xFFFFFF07u;

class LogFacilityTest : public ::testing::Test {
  protected:
    kalvo::testing::IsolatedEnvironment env_;
    LogFacility log_;

    bool openLog(uint32_t defaultLevel = kBoardDefault) {
        return log_.open("DualmasterLog", "DualmasterLog.ini", "DualmasterLog.Map", defaultLevel);
    }
    void writeIni(const std::string& body) { writeFile("DualmasterLog.ini", "[LOG]\r\n" + body); }
    std::vector<std::string> lines(const char* file = "DualmasterLog_0000.log") {
        return readLines(file);
    }
    // Writes one line of each level in the category and returns the levels
    // that reached the file, in order.
    std::vector<std::string> writeEveryLevel(LogType category) {
        for (LogType level : {0x01u, 0x02u, 0x04u, 0x08u, 0x10u, 0x20u}) {
            log_.writef(category | level, "level %x", level);
        }
        std::vector<std::string> out;
        for (const auto& line : lines()) out.push_back(line.substr(line.find("level ")));
        return out;
    }
};

using Levels = std::vector<std::string>;

TEST_F(LogFacilityTest, WithoutIniABoardLibraryWritesNothing) {
    ASSERT_TRUE(openLog(kBoardDefault));
    EXPECT_EQ(log_.levelMask(), 0u);
    EXPECT_EQ(writeEveryLevel(0x10000), Levels{});
    EXPECT_TRUE(env_.work().exists("DualmasterLog_0000.log"));  // created at open, empty
}

TEST_F(LogFacilityTest, WithoutIniTheApiLibraryWritesLevels124OfEveryCategory) {
    ASSERT_TRUE(log_.open("KalvoLog", "KalvoLog.ini", "KalvoLog.Map", kApiDefault));
    for (LogType category : {0x100u, 0x2000u, 0x20000u, 0x80000000u}) {
        for (LogType level : {0x01u, 0x02u, 0x04u, 0x08u, 0x10u, 0x20u}) {
            log_.writef(category | level, "%x", category | level);
        }
    }
    std::vector<std::string> got;
    for (const auto& line : readLines("KalvoLog_0000.log"))
        got.push_back(line.substr(line.rfind(' ') + 1));
    EXPECT_EQ(got, (Levels{"101", "102", "104", "2001", "2002", "2004", "20001", "20002", "20004",
                           "80000001", "80000002", "80000004"}));
}

TEST_F(LogFacilityTest, LogLevelFromTheIni) {
    writeIni("LOGLEVEL=10007H\r\n");
    ASSERT_TRUE(openLog());
    EXPECT_EQ(writeEveryLevel(0x10000), (Levels{"level 1", "level 2", "level 4"}));
    log_.write(0x102, "other category");  // shares no category bit
    EXPECT_EQ(lines().size(), 3u);
    log_.close();

    writeIni("LOGLEVEL=10001H\r\n");
    std::remove("DualmasterLog_0000.log");
    ASSERT_TRUE(openLog());
    EXPECT_EQ(writeEveryLevel(0x10000), Levels{"level 1"});
    log_.close();

    // Without the "H" the value is ignored and the default (0) applies.
    writeIni("LOGLEVEL=10007\r\n");
    std::remove("DualmasterLog_0000.log");
    ASSERT_TRUE(openLog());
    EXPECT_EQ(writeEveryLevel(0x10000), Levels{});
}

TEST_F(LogFacilityTest, LineFormatStampMarkerMessageCrLf) {
    writeIni("LOGLEVEL=FFFFFFFFH\r\n");
    ASSERT_TRUE(openLog());
    const auto before = platform::localTime();
    const char* markers[] = {"@@   ", "**   ", "##    ", "++     ", "--      ", "==       "};
    for (LogType level = 1; level <= 0x20; level <<= 1) {
        log_.writef(0x10000 | level, "%s(%d) KV_open: OK", "Dualmaster", 0);
    }
    const auto after = platform::localTime();
    const auto got = lines();
    ASSERT_EQ(got.size(), 6u);
    auto stampOf = [](const platform::SystemTime& t) {
        char text[32];
        platform::format(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d ", t.month, t.day,
                         t.year % 100, t.hour, t.minute, t.second);
        return std::string(text);
    };
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(got[i]);
        EXPECT_TRUE(test::hasStamp(got[i]));
        const std::string s = got[i].substr(0, 18);
        EXPECT_TRUE(s == stampOf(before) || s == stampOf(after)) << s;
        EXPECT_EQ(got[i].substr(18), std::string(markers[i]) + "Dualmaster(0) KV_open: OK");
    }
}

TEST_F(LogFacilityTest, TickCountAddsTheMillisecondTickAfterTheStamp) {
    writeIni("LOGLEVEL=10007H\r\nLOGTICKCOUNT=1\r\n");
    ASSERT_TRUE(openLog());
    const uint32_t before = platform::timeGetTime();
    log_.write(0x10002, "tick");
    const uint32_t after = platform::timeGetTime();
    const auto got = lines();
    ASSERT_EQ(got.size(), 1u);
    // "[%u] " after the stamp, then the marker and the message.
    ASSERT_TRUE(test::hasStamp(got[0]));
    const size_t close = got[0].find("] ");
    ASSERT_NE(close, std::string::npos);
    ASSERT_EQ(got[0][18], '[');
    const std::string digits = got[0].substr(19, close - 19);
    ASSERT_TRUE(test::isNumber(digits)) << got[0];
    EXPECT_EQ(got[0].substr(close + 2), "**   tick");
    const uint32_t tick = static_cast<uint32_t>(std::stoul(digits));
    EXPECT_LE(tick - before, after - before);  // wrap-safe
}

TEST_F(LogFacilityTest, AHugeMessageIsCutToTheLineRoomKeepingTheLineEnd) {
    writeIni("LOGLEVEL=10007H\r\nLOGTICKCOUNT=1\r\n");
    ASSERT_TRUE(openLog());
    const std::string huge(100000, 'x');
    log_.write(0x10002, huge.c_str());
    log_.writef(0x10002, "%s%s", huge.c_str(), huge.c_str());
    log_.write(0x10002, nullptr);
    log_.writef(0x10002, nullptr);
    const std::string text = readFile("DualmasterLog_0000.log");
    const auto got = lines();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].size(), LogFacility::kLineRoom - 2);
    EXPECT_EQ(got[1].size(), LogFacility::kLineRoom - 2);
    EXPECT_EQ(got[0].back(), 'x');
    EXPECT_EQ(text.size(), 2 * LogFacility::kLineRoom + got[2].size() + got[3].size() + 4);
}

TEST_F(LogFacilityTest, TheThirdLineGoesToTheOtherFileWhichStartsEmpty) {
    writeIni("LOGLEVEL=10007H\r\nLOGMAXLINE=2\r\n");
    writeFile("DualmasterLog_0001.log", "old contents\r\n");
    ASSERT_TRUE(openLog());
    for (int i = 1; i <= 3; ++i) log_.writef(0x10002, "line %d", i);
    EXPECT_EQ(lines("DualmasterLog_0000.log").size(), 2u);
    auto other = lines("DualmasterLog_0001.log");
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(messageOf(other[0], 5), "line 3");
    EXPECT_EQ(log_.fileNumber(), 1);
    EXPECT_EQ(log_.lineCount(), 1);

    // Two more: the fifth switches back and truncates the first file.
    log_.write(0x10002, "line 4");
    log_.write(0x10002, "line 5");
    EXPECT_EQ(lines("DualmasterLog_0001.log").size(), 2u);
    other = lines("DualmasterLog_0000.log");
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(messageOf(other[0], 5), "line 5");
}

TEST_F(LogFacilityTest, ARestartInTheSameSlotContinuesWhereTheCloseLeftOff) {
    writeIni("LOGLEVEL=10007H\r\nLOGMAXLINE=4\r\n");
    ASSERT_TRUE(openLog());
    for (int i = 1; i <= 5; ++i) log_.writef(0x10002, "line %d", i);  // 4 in 00, 1 in 01
    log_.close();
    const std::string ini = readFile("DualmasterLog.ini");
    EXPECT_NE(ini.find("FILENO_00=1"), std::string::npos) << ini;
    EXPECT_NE(ini.find("LOGLINE_00=1"), std::string::npos) << ini;
    // The other keys are never written.
    EXPECT_NE(ini.find("LOGLEVEL=10007H\r\nLOGMAXLINE=4\r\n"), std::string::npos) << ini;

    ASSERT_TRUE(openLog());
    EXPECT_EQ(log_.slot(), 0);
    EXPECT_EQ(log_.fileNumber(), 1);
    EXPECT_EQ(log_.lineCount(), 1);
    for (int i = 6; i <= 9; ++i) log_.writef(0x10002, "line %d", i);  // 3 more in 01, then 00
    const auto first = lines("DualmasterLog_0001.log");
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(messageOf(first[0], 5), "line 5");
    EXPECT_EQ(messageOf(first[3], 5), "line 8");
    const auto second = lines("DualmasterLog_0000.log");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(messageOf(second[0], 5), "line 9");
}

TEST_F(LogFacilityTest, SlotsCountProcessesAndOnlyTheCreatorIsFirstUser) {
    writeIni("LOGLEVEL=10007H\r\n");
    ASSERT_TRUE(openLog());
    EXPECT_TRUE(log_.firstUser());
    EXPECT_EQ(log_.processCount(), 1);

    LogFacility second;
    ASSERT_TRUE(second.open("DualmasterLog", "DualmasterLog.ini", "DualmasterLog.Map", 0));
    EXPECT_EQ(second.slot(), 1);
    EXPECT_FALSE(second.firstUser());
    EXPECT_EQ(log_.processCount(), 2);
    second.write(0x10002, "from slot 1");
    EXPECT_EQ(lines("DualmasterLog_0100.log").size(), 1u);
    second.close();
    EXPECT_EQ(log_.processCount(), 1);
    EXPECT_EQ(second.processCount(), 0);

    // A different library has its own map and its own slot 0.
    LogFacility other;
    ASSERT_TRUE(other.open("Pcimaster64Log", "Pcimaster64Log.ini", "Pcimaster64Log.Map", 0));
    EXPECT_EQ(other.slot(), 0);
    EXPECT_TRUE(other.firstUser());
}

TEST_F(LogFacilityTest, AllSlotsTakenFailsTheOpen) {
    std::vector<std::unique_ptr<LogSlotMap>> held;
    for (int i = 0; i < LogSlotMap::kSlotCount; ++i) {
        held.push_back(std::make_unique<LogSlotMap>());
        ASSERT_TRUE(held.back()->open("DualmasterLog.Map"));
        ASSERT_EQ(held.back()->slot(), i);
    }
    EXPECT_EQ(held[0]->processCount(), 256);
    EXPECT_FALSE(openLog());
    EXPECT_EQ(held[0]->processCount(), 256);
    held[17].reset();
    ASSERT_TRUE(openLog());
    EXPECT_EQ(log_.slot(), 17);
}

TEST_F(LogFacilityTest, OpenTwiceFailsAndAClosedLogIgnoresWrites) {
    writeIni("LOGLEVEL=10007H\r\n");
    ASSERT_TRUE(openLog());
    EXPECT_FALSE(openLog());
    EXPECT_EQ(log_.processCount(), 1);
    log_.close();
    log_.close();
    log_.write(0x10002, "after close");
    EXPECT_EQ(lines().size(), 0u);
    EXPECT_EQ(log_.processCount(), 0);
    EXPECT_FALSE(log_.firstUser());
}

TEST_F(LogFacilityTest, AFailedSwitchLosesItsLineButNotTheLinesAfterIt) {
    writeIni("LOGLEVEL=10007H\r\nLOGMAXLINE=1\r\n");
    ASSERT_TRUE(openLog());
    log_.write(0x10002, "one");
    // A directory where the other file should be: the switch cannot create it.
    ASSERT_EQ(mkdir("DualmasterLog_0001.log", 0755), 0);
    log_.write(0x10002, "lost");
    log_.flush();  // the log's thread meets the file as it is when it writes
    ASSERT_EQ(rmdir("DualmasterLog_0001.log"), 0);
    log_.write(0x10002, "two");
    const auto got = lines("DualmasterLog_0001.log");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(messageOf(got[0], 5), "two");
    EXPECT_EQ(lines("DualmasterLog_0000.log").size(), 1u);
}

}  // namespace
}  // namespace kalvo::diaglog
