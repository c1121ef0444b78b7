// Bad input never crashes the log: damaged ini files, odd names, a folder
// that cannot be written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>

#include "diaglog/log_facility.h"
#include "diaglog/tests/log_test_util.h"
#include "tests/support/temp_dir.h"

namespace kalvo::diaglog {
namespace {

using test::readLines;
using test::writeFile;

class LogBadInputTest : public ::testing::Test {
  protected:
    kalvo::testing::IsolatedEnvironment env_;
    LogFacility log_;

    bool openLog(const char* base = "DualmasterLog") {
        return log_.open(base, "DualmasterLog.ini", "DualmasterLog.Map", 0);
    }
};

TEST_F(LogBadInputTest, BinaryGarbageIniOpensWithDefaults) {
    std::mt19937 random(12345);
    for (int round = 0; round < 20; ++round) {
        std::string garbage(4096, '\0');
        for (char& c : garbage) c = static_cast<char>(random());
        if (round % 2) garbage = "[LOG]\n" + garbage;  // a section, then noise
        writeFile("DualmasterLog.ini", garbage);
        ASSERT_TRUE(openLog());
        log_.write(0x10002, "garbage");
        log_.close();
    }
}

TEST_F(LogBadInputTest, OversizedIniValuesFallBackToDefaults) {
    const std::string hugeLine(1 << 20, 'A');
    writeFile("DualmasterLog.ini",
              "[LOG]\r\n" + hugeLine + "\r\nLOGLEVEL=" + std::string(100, '7') +
                  "\r\nLOGMAXLINE=" + hugeLine + "\r\nFILENO_00=7\r\nLOGLINE_00=-5\r\n");
    ASSERT_TRUE(openLog());
    EXPECT_EQ(log_.levelMask(), 0u);
    EXPECT_EQ(log_.maxLines(), LogFacility::kDefaultMaxLines);
    // A stored file number other than 0 or 1 and a negative count are damage.
    EXPECT_EQ(log_.fileNumber(), 0);
    EXPECT_EQ(log_.lineCount(), 0);
}

TEST_F(LogBadInputTest, BaseNamesWithSeparators) {
    // A missing folder: the file cannot be opened, and the slot is given back.
    EXPECT_FALSE(openLog("sub/Log"));
    EXPECT_FALSE(openLog("sub\\Log"));
    ASSERT_EQ(mkdir("sub", 0755), 0);
    writeFile("DualmasterLog.ini", "[LOG]\r\nLOGLEVEL=10007H\r\n");
    ASSERT_TRUE(openLog("sub\\Log"));
    EXPECT_EQ(log_.slot(), 0);
    log_.write(0x10002, "in sub");
    log_.close();
    ASSERT_TRUE(openLog("sub/Log"));
    log_.write(0x10002, "again");
    EXPECT_EQ(readLines("sub/Log_0000.log").size(), 2u);
    log_.close();
    // A name too long for a path, and missing names.
    EXPECT_FALSE(openLog(std::string(400, 'n').c_str()));
    EXPECT_FALSE(log_.open(nullptr, nullptr, nullptr, 0));
    EXPECT_FALSE(log_.open("Log", "Log.ini", "", 0));
    // A map name full of characters that are not file-name safe.
    EXPECT_TRUE(log_.open("Log", "Log.ini", "..\\/Odd:Map*?", 0));
}

TEST_F(LogBadInputTest, OpenFailsWhenTheFolderCannotBeWritten) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    ASSERT_EQ(chmod(".", 0555), 0);
    EXPECT_FALSE(openLog());
    ASSERT_EQ(chmod(".", 0755), 0);
    // The failed open gave its slot back.
    ASSERT_TRUE(openLog());
    EXPECT_EQ(log_.slot(), 0);
    EXPECT_EQ(log_.processCount(), 1);
}

}  // namespace
}  // namespace kalvo::diaglog
