// The device host as a real process, driven by kalvo-devctl and used by a
// client through device handles: start, list, requests, PnP and power
// requests, the error log, board window access, and shutdown.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "platform/device.h"
#include "tests/support/temp_dir.h"

namespace {

// The test driver's requests (its codes header speaks the driver interface,
// whose constants the client header also defines).
constexpr uint32_t kEcho = 0x80012000;      // IOCTL_KTEST_ECHO
constexpr uint32_t kLogError = 0x80012018;  // IOCTL_KTEST_LOG_ERROR

struct ToolRun {
    int exitCode;
    std::string output;
};

ToolRun devctl(const std::string& arguments) {
    std::string command = std::string(KALVO_DEVCTL_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ToolRun run{-1, {}};
    if (!pipe) return run;
    char buffer[512];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class DeviceHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("KALVO_DEVICE_DIR", dir.file("devices").c_str(), 1);
        // The test driver serves the simulated PCI boards.
        ToolRun start = devctl(std::string("start --driver tolva=") + KALVO_TEST_DRIVER_PATH +
                               " --boards tolva:count=2");
        ASSERT_EQ(start.exitCode, 0) << start.output;
    }
    void TearDown() override {
        ToolRun stop = devctl("stop");
        EXPECT_EQ(stop.exitCode, 0) << stop.output;
        unsetenv("KALVO_DEVICE_DIR");
    }
    kalvo::testing::TempDir dir;
};

TEST_F(DeviceHostTest, ServesDevicesAndTakesPnpRequests) {
    ToolRun list = devctl("list");
    ASSERT_EQ(list.exitCode, 0);
    std::string first = list.output.substr(list.output.find("pci-0000:03:00.0"));
    first = first.substr(0, first.find('\n'));
    for (const char* part :
         {" tolva ", " KalvoTestDriver ", " \\Device\\KTest0 ", " \\??\\ktest0 ", " started"})
        EXPECT_NE(first.find(part), std::string::npos) << part << " in " << list.output;
    EXPECT_NE(list.output.find("\\Device\\KTest1"), std::string::npos);

    using namespace kalvo::platform;
    HANDLE h = createFile("\\\\.\\KTest0", 0xC0000000u, 3, 3, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint8_t in[3] = {1, 2, 3}, out[3] = {};
    uint32_t returned = 0;
    EXPECT_TRUE(deviceIoControl(h, kEcho, in, 3, out, 3, &returned));
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(out[2], 3);
    EXPECT_TRUE(deviceIoControl(h, kLogError, nullptr, 0, nullptr, 0, &returned));

    // An open handle refuses stop; without it, stop and start work.
    ToolRun refused = devctl("pnp-stop pci-0000:03:00.0");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.output.find("0xC0000001"), std::string::npos) << refused.output;
    EXPECT_TRUE(closeHandle(h));
    EXPECT_EQ(devctl("pnp-stop pci-0000:03:00.0").exitCode, 0);
    EXPECT_NE(devctl("list").output.find("stopped"), std::string::npos);
    EXPECT_EQ(devctl("pnp-start pci-0000:03:00.0 one-memory-range").exitCode, 1);
    EXPECT_NE(devctl("list").output.find("start failed"), std::string::npos);
    EXPECT_EQ(devctl("remove pci-0000:03:00.0").exitCode, 0);
    EXPECT_NE(devctl("list").output.find("removed"), std::string::npos);
    EXPECT_EQ(createFile("\\\\.\\KTest0", 0xC0000000u, 3, 3, 0), INVALID_HANDLE_VALUE);

    ToolRun log = devctl("log");
    EXPECT_NE(log.output.find("\\Device\\KTest0 ErrorCode=0xC0070004"), std::string::npos)
        << log.output;

    EXPECT_EQ(devctl("power S3").exitCode, 0);
    EXPECT_EQ(devctl("power S0").exitCode, 0);
    EXPECT_EQ(devctl("power S9").exitCode, 1);
}

TEST_F(DeviceHostTest, ReadsAndWritesABoardWindow) {
    EXPECT_EQ(devctl("write pci-0000:04:00.0 1 16 a0b1c2d3").exitCode, 0);
    ToolRun read = devctl("read pci-0000:04:00.0 1 16 4");
    EXPECT_EQ(read.exitCode, 0);
    EXPECT_EQ(read.output, "000010: a0 b1 c2 d3\n");
    EXPECT_EQ(devctl("read pci-0000:04:00.0 1 4095 2").exitCode, 1);  // beyond the window
    EXPECT_EQ(devctl("read pci-0000:04:00.0 7 0 2").exitCode, 1);
    EXPECT_EQ(devctl("write pci-0000:04:00.0 1 0 zz").exitCode, 1);
    EXPECT_EQ(devctl("read nowhere 1 0 2").exitCode, 1);
    EXPECT_EQ(devctl("frobnicate").exitCode, 2);
    // A second host in the same folder is refused.
    EXPECT_EQ(devctl("start").exitCode, 1);
}

}  // namespace
