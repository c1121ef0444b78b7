// Many threads of one process writing one log: every line lands whole and
// the line count stays exact, also across file switches.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "diaglog/log_facility.h"
#include "diaglog/tests/log_test_util.h"
#include "tests/support/temp_dir.h"

namespace kalvo::diaglog {
namespace {

using test::readLines;
using test::writeFile;

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 500;

void writeFromThreads(LogFacility& log) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kLinesPerThread; ++i) {
                log.writef(t % 2 ? 0x10002 : 0x10004, "thread %d line %d", t, i);
            }
        });
    }
    for (auto& thread : threads) thread.join();
}

// Stamp, the marker of a call or detail line, "thread <t> line <n>".
void expectWholeLines(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        ASSERT_TRUE(test::hasStamp(line)) << line;
        const std::string rest = line.substr(18);
        const size_t at = rest.find("thread ");
        ASSERT_TRUE(rest.rfind("**   thread ", 0) == 0 || rest.rfind("##    thread ", 0) == 0)
            << line;
        ASSERT_EQ(rest.substr(at + 8, 6), " line ") << line;
        ASSERT_TRUE(test::isNumber(rest.substr(at + 7, 1)) && test::isNumber(rest.substr(at + 14)))
            << line;
    }
}

class LogThreadsTest : public ::testing::Test {
  protected:
    kalvo::testing::IsolatedEnvironment env_;
    LogFacility log_;
};

TEST_F(LogThreadsTest, EveryLineLandsWholeAndInThreadOrder) {
    writeFile("DualmasterLog.ini", "[LOG]\r\nLOGLEVEL=10007H\r\nLOGMAXLINE=1000000\r\n");
    ASSERT_TRUE(log_.open("DualmasterLog", "DualmasterLog.ini", "DualmasterLog.Map", 0));
    writeFromThreads(log_);
    EXPECT_EQ(log_.lineCount(), kThreads * kLinesPerThread);
    const auto lines = readLines("DualmasterLog_0000.log");
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesPerThread));
    expectWholeLines(lines);
    std::vector<int> next(kThreads, 0);
    for (const auto& line : lines) {
        const size_t at = line.find("thread ");
        const int t = line[at + 7] - '0';
        ASSERT_EQ(std::stoi(line.substr(at + 14)), next[t]++) << line;
    }
}

TEST_F(LogThreadsTest, FileSwitchesUnderLoadKeepTheCountExact) {
    writeFile("DualmasterLog.ini", "[LOG]\r\nLOGLEVEL=10007H\r\nLOGMAXLINE=37\r\n");
    ASSERT_TRUE(log_.open("DualmasterLog", "DualmasterLog.ini", "DualmasterLog.Map", 0));
    writeFromThreads(log_);
    const int current = log_.fileNumber();
    const auto lines = readLines(current ? "DualmasterLog_0001.log" : "DualmasterLog_0000.log");
    const auto other = readLines(current ? "DualmasterLog_0000.log" : "DualmasterLog_0001.log");
    // 4000 lines in files of 37: the current file holds the remainder, the
    // other a full file.
    EXPECT_EQ(lines.size(), static_cast<size_t>(log_.lineCount()));
    EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesPerThread % 37));
    EXPECT_EQ(other.size(), 37u);
    expectWholeLines(lines);
    expectWholeLines(other);
}

}  // namespace
}  // namespace kalvo::diaglog
