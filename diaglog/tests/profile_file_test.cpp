#include "diaglog/profile_file.h"

#include <gtest/gtest.h>

#include <string>

#include "diaglog/tests/log_test_util.h"
#include "tests/support/temp_dir.h"

namespace kalvo::diaglog {
namespace {

using test::readFile;
using test::writeFile;

class ProfileFileTest : public ::testing::Test {
  protected:
    kalvo::testing::IsolatedEnvironment env_;
    ProfileFile ini_;

    void SetUp() override { ini_.setFile("Test.ini"); }
    uint32_t hexOf(const std::string& value) {
        writeFile("Test.ini", "[LOG]\r\nLOGLEVEL=" + value + "\r\n");
        return ini_.getHex("LOG", "LOGLEVEL", 0xABCDu);
    }
};

TEST_F(ProfileFileTest, SetFileStoresTheFullPathAgainstTheCurrentDirectory) {
    EXPECT_EQ(ini_.path(), env_.workDir() + "/Test.ini");
}

TEST_F(ProfileFileTest, HexNeedsTheTrailingH) {
    EXPECT_EQ(hexOf("10007H"), 0x10007u);
    EXPECT_EQ(hexOf("10001h"), 0x10001u);
    EXPECT_EQ(hexOf("FFFFFF07H"), 0xFFFFFF07u);
    EXPECT_EQ(hexOf("0H"), 0u);
    // Without the suffix, empty, or without a number: the default.
    EXPECT_EQ(hexOf("10007"), 0xABCDu);
    EXPECT_EQ(hexOf(""), 0xABCDu);
    EXPECT_EQ(hexOf("H"), 0xABCDu);
    EXPECT_EQ(hexOf("xyzH"), 0xABCDu);
    // Only 31 characters are read: a longer value loses its "H".
    EXPECT_EQ(hexOf(std::string(99, '1') + "H"), 0xABCDu);
    // A number that overflows 32 bits still gives a value, never a crash.
    hexOf(std::string(30, 'F') + "H");
}

TEST_F(ProfileFileTest, HexDefaultAppliesWithoutFileOrKey) {
    EXPECT_EQ(ini_.getHex("LOG", "LOGLEVEL", 0xFFFFFF07u), 0xFFFFFF07u);
    writeFile("Test.ini", "[LOG]\r\nOTHER=1H\r\n");
    EXPECT_EQ(ini_.getHex("LOG", "LOGLEVEL", 7u), 7u);
}

TEST_F(ProfileFileTest, PutsWriteTheirFormsAndReadBack) {
    EXPECT_TRUE(ini_.putInt("LOG", "FILENO_00", -3));
    EXPECT_TRUE(ini_.putHex("LOG", "LOGLEVEL", 0x10007));
    EXPECT_TRUE(ini_.putString("LOG", "NAME", "text"));
    const std::string text = readFile("Test.ini");
    EXPECT_NE(text.find("FILENO_00=-3"), std::string::npos);
    EXPECT_NE(text.find("LOGLEVEL=10007H"), std::string::npos);
    EXPECT_EQ(ini_.getInt("LOG", "FILENO_00", 0), -3);
    EXPECT_EQ(ini_.getHex("LOG", "LOGLEVEL", 0), 0x10007u);
    char buffer[8];
    EXPECT_EQ(ini_.getString("LOG", "NAME", "", buffer, sizeof buffer), 4u);
    EXPECT_STREQ(buffer, "text");
}

}  // namespace
}  // namespace kalvo::diaglog
