#include "host/host_options.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

using kalvo::kernel::host::HostOptions;
using kalvo::kernel::host::parseHostOptions;

TEST(HostOptions, NetworkAndCycleFromTheCommandLineAndTheConfigFile) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(parseHostOptions({"--network", "/cfg", "--cycle-us", "250"}, &options, &error))
        << error;
    EXPECT_EQ(options.network, "/cfg");
    EXPECT_EQ(options.cycleMicros, 250u);
    EXPECT_EQ(HostOptions{}.cycleMicros, 1000u);
    EXPECT_FALSE(options.keepLinesOnExit);

    // A flag without a value, anywhere among the others.
    HostOptions keep;
    ASSERT_TRUE(parseHostOptions({"--keep-lines-on-exit", "--cycle-us", "300"}, &keep, &error))
        << error;
    EXPECT_TRUE(keep.keepLinesOnExit);
    EXPECT_EQ(keep.cycleMicros, 300u);

    kalvo::testing::TempDir dir;
    dir.write("host.conf", "network = /net.txt   # the line\ncycle-us = 100\n");
    HostOptions fromFile;
    ASSERT_TRUE(parseHostOptions({"--config", dir.file("host.conf")}, &fromFile, &error)) << error;
    EXPECT_EQ(fromFile.network, "/net.txt");
    EXPECT_EQ(fromFile.cycleMicros, 100u);
}

TEST(HostOptions, RefusesCyclesOutsideTheRangeOrNotANumber) {
    for (const char* bad :
         {"99", "1000001", "-5", "+500", "1e3", "500us", "", " 500", "99999999999999999999"}) {
        HostOptions options;
        std::string error;
        EXPECT_FALSE(parseHostOptions({"--cycle-us", bad}, &options, &error)) << bad;
        EXPECT_NE(error.find("cycle-us"), std::string::npos) << bad << ": " << error;
        EXPECT_EQ(options.cycleMicros, 1000u);
    }
    HostOptions options;
    std::string error;
    EXPECT_FALSE(parseHostOptions({"--network"}, &options, &error));
    EXPECT_NE(error.find("needs a value"), std::string::npos);
}

}  // namespace
