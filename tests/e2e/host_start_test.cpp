// The device host's own start and stop as programs see them: a host that
// finds a line left running stops it and clears its outputs before anyone
// is served; kalvo-devctl stop names the programs that hold devices and
// stops only with --force; kalvo doctor tells a missing, restarted or
// wrongly started host from a unit that does not answer.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "host/network_admin.h"
#include "tests/support/child_process.h"
#include "tests/support/kalvo_loader.h"
#include "tests/support/private_host.h"
#include "tests/support/program_run.h"
#include "tests/support/sample_network_host.h"
#include "tests/support/temp_dir.h"

namespace kalvo::apitest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kernel::host::NetworkAdmin;

// A program that holds DIO_1 until it is killed.
KALVO_CHILD(dio_holder) {
    KalvoLibrary kv;
    if (!kv.loaded() || kv.KV_DIO_Open(1) != 0 || kv.KV_DIO_OutData(1, 0x0F0F) != 0) return 10;
    std::ofstream(args.at(0)) << "ready\n";
    for (;;) std::this_thread::sleep_for(1s);
}

bool startHost(drivertest::PrivateHost& host, const testing::IsolatedEnvironment& env,
               const std::string& boards, const std::vector<std::string>& options) {
    std::string why;
    const bool started = host.start(env.work().file("devices"), env.work().file("devhost.log"),
                                    boards, &why, options);
    EXPECT_TRUE(started) << why;
    return started;
}

// The units hold their outputs when the line stops (a module configured so
// keeps the last value it got), and the board is as an earlier host left
// it: its line running with those outputs.
TEST(HostStart, StopsALineLeftRunningAndClearsItsOutputsFirst) {
    testing::IsolatedEnvironment env;
    env.work().write("network.txt",
                     "[board 0]\n"
                     "station 3 model=DIO16\n"
                     "unit DIO_1 station=3 offsets=0 hold left=255\n"
                     "station 6 model=DIO16\n"
                     "unit DIO_2 station=6 offsets=0 hold left=4660\n");
    drivertest::PrivateHost host;
    ASSERT_TRUE(startHost(host, env, "tolva:id=0", {"--network", env.work().file("network.txt")}));
    NetworkAdmin admin(env.work().file("devices"));
    // The first thing anyone can ask: the units got zeros, then the line
    // stopped; the host's record says so.
    EXPECT_NE(admin.describeUnit("DIO_1").find("[0] out 0x0000"), std::string::npos)
        << admin.describeUnit("DIO_1");
    EXPECT_NE(admin.describeUnit("DIO_2").find("[0] out 0x0000"), std::string::npos)
        << admin.describeUnit("DIO_2");
    EXPECT_NE(admin.show(0).find("line stopped"), std::string::npos) << admin.show(0);
    const auto trace = admin.trace(0, 100);
    std::string lines;
    for (const auto& line : trace) lines += line + "\n";
    EXPECT_NE(lines.find("line started"), std::string::npos) << lines;  // as it was left
    EXPECT_NE(lines.find("line stopped"), std::string::npos) << lines;
    const std::string handles = drivertest::devctl("handles").output;
    EXPECT_NE(handles.find("host start: outputs of stations 0-31 cleared, line stopped (it was "
                           "running)"),
              std::string::npos)
        << handles;
    EXPECT_NE(handles.find(" UTC "), std::string::npos) << handles;
    EXPECT_EQ(host.stop(), 0) << host.log();
}

TEST(HostStop, NamesTheProgramsThatHoldDevicesAndStopsOnlyWithForce) {
    testing::IsolatedEnvironment env;
    writeSampleFolder(env.workDir(), 0, "");
    drivertest::PrivateHost host;
    ASSERT_TRUE(startHost(host, env, "tolva:id=0", {"--network", env.workDir()}));
    auto holder = testing::spawnChild("dio_holder", {env.work().file("ready")});
    ASSERT_TRUE(eventually([&] { return env.work().exists("ready"); }, 30s));
    const std::string pid = "pid " + std::to_string(holder.pid());

    const auto handles = drivertest::devctl("handles");
    EXPECT_NE(handles.output.find("handle " + pid + " ("), std::string::npos) << handles.output;
    const auto refused = drivertest::devctl("stop");
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    for (const std::string& words : {pid, std::string("tolva0"), std::string("--force")})
        EXPECT_NE(refused.output.find(words), std::string::npos) << words << "\n" << refused.output;
    EXPECT_TRUE(host.running());
    const auto forced = drivertest::devctl("stop --force");
    EXPECT_EQ(forced.exitCode, 0) << forced.output;
    EXPECT_TRUE(eventually([&] { return !host.running(); }, 30s));
    holder.kill(SIGKILL);
}

// kalvo doctor in the example folder, one row per state of the host: what
// it must say, and never the wiring unless the unit is there and silent.
TEST(KalvoDoctor, TellsTheHostFromTheWiring) {
    enum Host { None, RestartedUnderAProgram, WithoutTheNetwork, StationOff };
    const struct {
        const char* name;
        Host host;
        std::vector<std::string> says;
        bool blamesWiring;
    } rows[] = {
        {"no host", None, {"no device host"}, false},
        {"restarted after the program's open",
         RestartedUnderAProgram,
         {"the device host was restarted at", "were opened", "restart it"},
         false},
        {"without the folder's network",
         WithoutTheNetwork,
         {"lacks every unit that Kalvo.ini places", "kalvo-devctl start --network"},
         false},
        {"station not answering", StationOff, {"DIO_1: station 1 of board 1 line 1"}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testing::IsolatedEnvironment env;
        writeSampleFolder(env.workDir(), 0, "");
        drivertest::PrivateHost host;
        testing::ChildProcess holder;
        std::string extra;
        if (row.host == None) {
            setenv("KALVO_DEVICE_DIR", env.work().file("devices").c_str(), 1);
        } else if (row.host == WithoutTheNetwork) {
            ASSERT_TRUE(startHost(host, env, "tolva:id=0", {}));
        } else {
            ASSERT_TRUE(startHost(host, env, "tolva:id=0", {"--network", env.workDir()}));
        }
        if (row.host == RestartedUnderAProgram) {
            holder = testing::spawnChild("dio_holder", {env.work().file("ready")});
            ASSERT_TRUE(eventually([&] { return env.work().exists("ready"); }, 30s));
            ::kill(host.pid(), SIGKILL);
            while (host.running()) std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(20ms);  // a later start shows a later time
            ASSERT_TRUE(startHost(host, env, "tolva:id=0", {"--network", env.workDir()}));
            extra = "pid " + std::to_string(holder.pid());
        }
        if (row.host == StationOff) {
            ASSERT_TRUE(NetworkAdmin(env.work().file("devices")).setStationOnline(0, 1, false));
        }
        const auto run = testing::runProgram(std::string(KALVO_CLI_PATH) + " doctor");
        EXPECT_EQ(run.exitCode, 1) << run.output;
        auto expected = row.says;
        if (!extra.empty()) expected.push_back(extra);
        for (const std::string& words : expected)
            EXPECT_NE(run.output.find(words), std::string::npos) << words << "\n" << run.output;
        EXPECT_EQ(run.output.find("power") != std::string::npos, row.blamesWiring) << run.output;
        if (holder.pid() > 0) holder.kill(SIGKILL);
        if (row.host != None) {
            EXPECT_EQ(host.stop(), 0) << host.log();
        }
        unsetenv("KALVO_DEVICE_DIR");
    }
}

}  // namespace
}  // namespace kalvo::apitest
