#include "host/host_options.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "tests/support/temp_dir.h"

namespace {

using kalvo::kernel::host::HostOptions;
using kalvo::kernel::host::parseHostOptions;

TEST(HostOptions, NetworkAndCycleFromTheCommandLineAndTheConfigFile) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(parseHostOptions({"--network", "/cfg", "--cycle-us", "250", "--rescan-ms", "0"},
                                 &options, &error))
        << error;
    EXPECT_EQ(options.network, "/cfg");
    EXPECT_EQ(options.cycleMicros, 250u);
    EXPECT_EQ(options.rescanMillis, 0u);
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

TEST(HostOptions, RefusesNumbersOutsideTheirRangeOrNotANumber) {
    struct Row {
        const char* key;
        const char* value;
    };
    for (const Row& row : std::initializer_list<Row>{
             {"cycle-us", "99"},
             {"cycle-us", "1000001"},
             {"cycle-us", "-5"},
             {"cycle-us", "+500"},
             {"cycle-us", "1e3"},
             {"cycle-us", "500us"},
             {"cycle-us", ""},
             {"cycle-us", " 500"},
             {"cycle-us", "99999999999999999999"},
             {"rescan-ms", "3600001"},
             {"rescan-ms", "-1"},
             {"rescan-ms", "0.5"},
             {"rescan-ms", "500ms"},
             {"rescan-ms", ""},
         }) {
        HostOptions options;
        std::string error;
        EXPECT_FALSE(parseHostOptions({std::string("--") + row.key, row.value}, &options, &error))
            << row.key << " " << row.value;
        EXPECT_NE(error.find(row.key), std::string::npos) << row.value << ": " << error;
        EXPECT_EQ(options.cycleMicros, 1000u);
        EXPECT_EQ(options.rescanMillis, 500u);
    }
    HostOptions options;
    std::string error;
    EXPECT_FALSE(parseHostOptions({"--network"}, &options, &error));
    EXPECT_NE(error.find("needs a value"), std::string::npos);
}

}  // namespace
