// The simulated network end to end: a real device host with a described
// network, a client process that opens the board device, maps its window,
// connects the line and drives each unit protocol by plain loads and stores
// in the window, and the host's network controls reached over the admin
// channel (the test API) and through kalvo-devctl.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "boardlib/requests/board_device.h"
#include "boardlib/requests/request_wrappers.h"
#include "driver/requests/request_blocks.h"
#include "host/network_admin.h"
#include "platform/device.h"
#include "tests/support/private_host.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using kalvo::drivertest::devctl;
using kalvo::drivertest::PrivateHost;
using kalvo::kernel::host::NetworkAdmin;
using kalvo::platform::HANDLE;
using kalvo::platform::INVALID_HANDLE_VALUE;
namespace req = kalvo::requests;
namespace bl = kalvo::boardlib;

// Window locations the master uses.
constexpr uint32_t kGmArea = 0x200;
constexpr uint32_t kWriteCount = 0x40C;
constexpr uint32_t kCondition = 0x428;
constexpr uint32_t kCommand = 0x44C;
constexpr uint32_t kRunning = 0x200;
constexpr uint32_t kMailRegister = 0x448;
constexpr uint32_t kMailControl = 0x47C;
constexpr uint32_t kMailSend = 0x480;
constexpr uint32_t kMailStatus = 0x484;
constexpr uint32_t kReceive1 = 0x48C;
constexpr uint32_t kSendBuffer = 0x500;
constexpr uint32_t kReceiveBuffer1 = 0x600;

// Stations of the test network (board 0): the unit at station b answers in
// GM block b + 32.
constexpr int kDio = 1, kAda = 2, kAxsa = 4, kEcho = 5, kSio = 6;

const char* const kNetwork =
    "[board 0]\n"
    "station 1 model=DIO\n"
    "unit DIO_1 station=1 offsets=0,1\n"
    "station 2 model=ADA\n"
    "unit ADA_1 station=2 offsets=0,1\n"
    "station 4 model=AXSA\n"
    "unit AXSA_1 station=4 offsets=0,1,2,3\n"
    "station 5 echo\n"
    "station 6 model=SIO\n"
    "unit SIO_1 station=6 offsets=0,1,2,3\n";

// Waits up to five seconds (the line cycles every millisecond; the bound is
// for loaded and sanitizer runs).
bool eventually(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

// The board window mapped into this process, with the accesses a master
// makes: 16-bit GM words behind a loaded write count, registers, buffers.
class Master {
  public:
    ~Master() { close(); }

    bool open(const char* device, std::string* why) {
        handle_ = bl::openBoardDevice(device, 64);
        if (handle_ == INVALID_HANDLE_VALUE) {
            *why = std::string("cannot open ") + device;
            return false;
        }
        map_ = req::MapRequestBlock64{0, 0, 0, 4096, 0};
        if (bl::requestMapMemory(handle_, &map_) != 0) {
            *why = "map refused";
            return false;
        }
        window_ = reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(map_.address));
        req::ConnectRequestBlock block = req::makeConnectBlock(0, 32);
        if (bl::requestConnect(handle_, &block) != 0) {
            *why = "connect refused";
            return false;
        }
        if (!eventually([&] { return (reg32(kCommand) & kRunning) != 0; })) {
            *why = "the line did not run";
            return false;
        }
        return true;
    }

    void close() {
        if (handle_ == INVALID_HANDLE_VALUE) return;
        bl::requestDisconnect(handle_);
        map_.command = -1;
        bl::requestMapMemory(handle_, &map_);
        bl::closeBoardDevice(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    uint16_t reg16(uint32_t offset) const {
        return *reinterpret_cast<volatile uint16_t*>(window_ + offset);
    }
    uint32_t reg32(uint32_t offset) const {
        return *reinterpret_cast<volatile uint32_t*>(window_ + offset);
    }
    uint64_t reg64(uint32_t offset) const {
        return *reinterpret_cast<volatile uint64_t*>(window_ + offset);
    }
    void setReg16(uint32_t offset, uint16_t value) {
        *reinterpret_cast<volatile uint16_t*>(window_ + offset) = value;
    }
    volatile uint8_t* at(uint32_t offset) { return window_ + offset; }

    // Output word o of station s (what the master sends to the unit).
    void out(int station, int offset, uint16_t value) {
        setReg16(kWriteCount, 1);
        setReg16(kGmArea + 2 * (4 * station + offset), value);
    }
    // One whole output block in one 64-bit store.
    void outBlock(int station, uint64_t value) {
        setReg16(kWriteCount, 1);
        *reinterpret_cast<volatile uint64_t*>(window_ + kGmArea + 8 * station) = value;
    }
    // Input word o of station s (what the unit answers).
    uint16_t in(int station, int offset) const {
        return reg16(kGmArea + 2 * (4 * (station + 32) + offset));
    }
    bool answering(int station) const { return (reg64(kCondition) >> (station + 32)) & 1; }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    req::MapRequestBlock64 map_{};
    volatile uint8_t* window_ = nullptr;
};

class NetworkE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.work().write("network.txt", kNetwork);
        std::string why;
        ASSERT_TRUE(host_.start(file("devices"), file("devhost.log"), "tolva:id=0", &why,
                                {"--network", file("network.txt"), "--cycle-us", "1000"}))
            << why;
        ASSERT_TRUE(master_.open("\\\\.\\tolva0", &why)) << why << "\n" << host_.log();
    }
    void TearDown() override {
        master_.close();
        EXPECT_EQ(host_.stop(), 0) << host_.log();
    }
    std::string file(const std::string& name) const { return env_.work().file(name); }

    kalvo::testing::IsolatedEnvironment env_;
    PrivateHost host_;
    Master master_;
    NetworkAdmin admin_{env_.work().file("devices")};
};

TEST_F(NetworkE2E, DioInputsFollowTheOutputsUntilSetAndASilentUnitHoldsThem) {
    master_.out(kDio, 0, 0x1234);
    EXPECT_TRUE(eventually([&] { return master_.in(kDio, 0) == 0x1234; }));

    ASSERT_TRUE(admin_.setInput("DIO_1", 1, 0xBEEF)) << admin_.lastError();
    master_.out(kDio, 1, 0x0001);
    EXPECT_TRUE(eventually([&] { return master_.in(kDio, 1) == 0xBEEF; }));
    EXPECT_NE(admin_.describeUnit("DIO_1").find("1234"), std::string::npos)
        << admin_.describeUnit("DIO_1");

    // Silent: the station still answers, the unit no longer follows.
    ASSERT_TRUE(admin_.setUnitSilent("DIO_1", true)) << admin_.lastError();
    // A cycle already under way when the request came may still exchange.
    std::this_thread::sleep_for(20ms);
    master_.out(kDio, 0, 0x5555);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(master_.in(kDio, 0), 0x1234);
    EXPECT_TRUE(master_.answering(kDio));
    ASSERT_TRUE(admin_.setUnitSilent("DIO_1", false));
    EXPECT_TRUE(eventually([&] { return master_.in(kDio, 0) == 0x5555; }));

    EXPECT_FALSE(admin_.setInput("DIO_9", 0, 1));
    EXPECT_FALSE(admin_.unitCommand("DIO_1", "input 99 1"));
}

TEST_F(NetworkE2E, AdaCommandIsAnsweredAndTheChannelReturnsToDataMode) {
    master_.out(kAda, 0, 0x0123);
    EXPECT_TRUE(eventually([&] { return master_.in(kAda, 0) == 0x0123; }));

    // The version request: answered with the code in the top bits.
    master_.out(kAda, 0, 0xE000);
    EXPECT_TRUE(eventually([&] { return (master_.in(kAda, 0) & 0xE000) == 0xE000; }));
    uint16_t reply = master_.in(kAda, 0);
    EXPECT_NE(reply & 0x1FFF, 0) << std::hex << reply;
    // Back to data mode once the output word is.
    master_.out(kAda, 0, 0x0456);
    EXPECT_TRUE(eventually([&] { return master_.in(kAda, 0) == 0x0456; }));

    // A stuck channel answers but never returns to data mode.
    ASSERT_TRUE(admin_.unitCommand("ADA_1", "stuck 1 on")) << admin_.lastError();
    master_.out(kAda, 0, 0x4000);
    EXPECT_TRUE(eventually([&] { return (master_.in(kAda, 0) & 0xE000) == 0x4000; }));
    master_.out(kAda, 0, 0x0100);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(master_.in(kAda, 0) & 0xE000, 0x4000);
    ASSERT_TRUE(admin_.unitCommand("ADA_1", "stuck 1 off"));
    EXPECT_TRUE(eventually([&] { return master_.in(kAda, 0) == 0x0100; }));
}

TEST_F(NetworkE2E, AxsaAnswersEachNewPairCodeAndStatusCommandsWithPairZero) {
    auto command = [&](uint16_t pair, uint16_t cmd, uint32_t parameter) {
        uint64_t w0 = uint64_t(pair << 14 | cmd);
        uint64_t w1 = uint64_t(pair << 14 | ((parameter >> 14) & 0x3FFF));
        uint64_t w2 = uint64_t(pair << 14 | (parameter & 0x3FFF));
        master_.outBlock(kAxsa, w0 | w1 << 16 | w2 << 32);
    };
    auto answeredWith = [&](uint16_t pair) {
        return ((master_.in(kAxsa, 0) >> 2) & 3) == pair && (master_.in(kAxsa, 1) >> 14) == pair &&
               (master_.in(kAxsa, 2) >> 14) == pair;
    };
    // 'H' sets the position; each new pair code is executed and answered.
    const uint16_t pairs[] = {1, 2, 3, 1};
    uint32_t position = 1000;
    for (uint16_t pair : pairs) {
        command(pair, 0x48, position);
        ASSERT_TRUE(eventually([&] { return answeredWith(pair); })) << "pair " << pair;
        uint32_t data =
            uint32_t(master_.in(kAxsa, 1) & 0x3FFF) << 14 | (master_.in(kAxsa, 2) & 0x3FFF);
        EXPECT_EQ(data, position);
        position += 1000;
    }
    // A query of the target ('?', function 1) is answered with pair 0.
    command(2, 0x13F, 0);
    EXPECT_TRUE(eventually([&] { return answeredWith(0); }));
}

TEST_F(NetworkE2E, SioLoopbackSendsThirteenBytesInBlocksAndReceivesThemBack) {
    // Channel 1's block: bytes 0-5 data, bytes 6-7 the control word (to the
    // unit) or the status word (from it).
    uint16_t control = 0;
    auto writeBlock = [&](const uint8_t* data, size_t count) {
        uint64_t block = 0;
        for (size_t i = 0; i < count; ++i) block |= uint64_t(data[i]) << (8 * i);
        master_.outBlock(kSio, block | uint64_t(control) << 48);
    };
    auto status = [&] { return master_.in(kSio, 3); };
    std::vector<uint8_t> sent(13);
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = uint8_t('a' + i);

    for (size_t at = 0; at < sent.size(); at += 6) {
        size_t count = std::min<size_t>(6, sent.size() - at);
        control = uint16_t(0x8000 | count << 8);
        writeBlock(&sent[at], count);
        ASSERT_TRUE(eventually([&] { return (status() & 0x8000) != 0; })) << "block at " << at;
        control = 0;
        writeBlock(nullptr, 0);
        ASSERT_TRUE(eventually([&] { return (status() & 0x8000) == 0; }));
    }

    std::vector<uint8_t> received;
    while (received.size() < sent.size()) {
        ASSERT_TRUE(eventually([&] { return (status() & 0x4000) != 0; }))
            << "after " << received.size() << " bytes";
        uint16_t s = status();
        size_t count = (s >> 8) & 7;
        ASSERT_GE(count, 1u);
        ASSERT_LE(count, 6u);
        for (size_t i = 0; i < count; ++i)
            received.push_back(uint8_t(master_.in(kSio, int(i / 2)) >> (8 * (i % 2))));
        control = 0x4000;
        writeBlock(nullptr, 0);
        ASSERT_TRUE(eventually([&] { return (status() & 0x4000) == 0; }));
        control = 0;
        writeBlock(nullptr, 0);
    }
    EXPECT_EQ(received, sent);

    // A receive error stands until the master's error reset.
    ASSERT_TRUE(admin_.unitCommand("SIO_1", "rx-error 1")) << admin_.lastError();
    EXPECT_TRUE(eventually([&] { return (status() & 0x0800) != 0; }));
    control = 0x0800;
    writeBlock(nullptr, 0);
    EXPECT_TRUE(eventually([&] { return (status() & 0x0800) == 0; }));
}

TEST_F(NetworkE2E, MailToTheEchoStationComesBackFromItAndAnAbsentOneIsReported) {
    auto send = [&](int destination, const std::vector<uint8_t>& data) {
        master_.setReg16(kMailRegister, 0x30);
        for (size_t i = 0; i < data.size(); ++i) master_.at(kSendBuffer)[i] = data[i];
        master_.setReg16(kMailSend, 0x1FFF);
        master_.setReg16(kMailStatus, 0);
        uint16_t blocks = uint16_t((data.size() - 1) / 8 + 1);
        master_.setReg16(kMailControl, uint16_t(0x4000 + destination * 256 + blocks));
    };
    std::vector<uint8_t> data(16);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(0xA0 + i);

    master_.setReg16(kMailRegister, 0x30);
    master_.setReg16(kReceive1, 0x40);
    send(kEcho, data);
    ASSERT_TRUE(eventually([&] { return (master_.reg16(kReceive1) & 0x80) != 0; }));
    uint16_t control = master_.reg16(kReceive1);
    EXPECT_EQ((control >> 8) & 0x3F, kEcho);
    EXPECT_EQ(control & 0x3F, 2);
    for (size_t i = 0; i < data.size(); ++i)
        EXPECT_EQ(master_.at(kReceiveBuffer1)[i], data[i]) << i;
    EXPECT_TRUE(eventually([&] { return (master_.reg16(kMailControl) & 0x4000) == 0; }));
    EXPECT_EQ(master_.reg16(kMailStatus) & 3, 1);

    // Marked absent, the echo station takes no mail.
    ASSERT_TRUE(admin_.setMailAbsent(0, kEcho, true)) << admin_.lastError();
    master_.setReg16(kReceive1, 0x40);
    send(kEcho, data);
    EXPECT_TRUE(eventually([&] { return (master_.reg16(kMailControl) & 0x4000) == 0; }));
    EXPECT_EQ(master_.reg16(kMailStatus) & 3, 2);
    EXPECT_EQ(master_.reg16(kReceive1) & 0x80, 0);
}

TEST_F(NetworkE2E, ConditionBitFollowsAStationTakenOffTheLineAndTheTraceShowsIt) {
    EXPECT_TRUE(eventually([&] { return master_.answering(kDio) && master_.answering(kEcho); }));
    EXPECT_FALSE(master_.answering(3));  // no station there

    ASSERT_TRUE(admin_.setStationOnline(0, kDio, false)) << admin_.lastError();
    EXPECT_TRUE(eventually([&] { return !master_.answering(kDio); }));
    EXPECT_TRUE(master_.answering(kAda));
    // Off the line, the unit is not exchanged.
    master_.out(kDio, 0, 0x0F0F);
    std::this_thread::sleep_for(30ms);
    EXPECT_NE(master_.in(kDio, 0), 0x0F0F);

    ASSERT_TRUE(admin_.setStationOnline(0, kDio, true));
    EXPECT_TRUE(eventually([&] { return master_.answering(kDio); }));
    EXPECT_TRUE(eventually([&] { return master_.in(kDio, 0) == 0x0F0F; }));

    auto trace = admin_.trace(0, 200);
    EXPECT_FALSE(trace.empty());
    EXPECT_FALSE(admin_.setStationOnline(0, 40, false));
    EXPECT_FALSE(admin_.setStationOnline(7, 1, false));
}

TEST_F(NetworkE2E, StationsAndUnitsComeAndGoWhileTheLineRuns) {
    ASSERT_TRUE(admin_.request("add-station 0 10 model=late")) << admin_.lastError();
    ASSERT_TRUE(admin_.request("add-unit 0 DIO_7 station=10 offsets=0")) << admin_.lastError();
    EXPECT_TRUE(eventually([&] { return master_.answering(10); }));
    master_.out(10, 0, 0x7777);
    EXPECT_TRUE(eventually([&] { return master_.in(10, 0) == 0x7777; }));
    EXPECT_NE(admin_.show(0).find("DIO_7"), std::string::npos) << admin_.show(0);

    // Refusals carry their reason; nothing changes.
    EXPECT_FALSE(admin_.request("add-station 0 10"));
    EXPECT_FALSE(admin_.request("add-unit 0 DIO_7 station=10 offsets=0"));
    EXPECT_FALSE(admin_.request("add-unit 0 DIO_8 station=10 offsets=0,99"));
    EXPECT_FALSE(admin_.request("add-station 0 31 addresses=2"));
    EXPECT_FALSE(admin_.lastError().empty());

    ASSERT_TRUE(admin_.request("remove-station 0 10")) << admin_.lastError();
    EXPECT_TRUE(eventually([&] { return !master_.answering(10); }));
    EXPECT_EQ(admin_.describeUnit("DIO_7"), "");
}

TEST_F(NetworkE2E, DevctlReachesTheNetworkAndRefusesBadRequests) {
    auto show = devctl("sim show 0");
    EXPECT_EQ(show.exitCode, 0) << show.output;
    EXPECT_NE(show.output.find("DIO_1"), std::string::npos) << show.output;
    auto unit = devctl("sim unit DIO_1");
    EXPECT_EQ(unit.exitCode, 0) << unit.output;
    auto timing = devctl("sim timing");
    EXPECT_EQ(timing.exitCode, 0);
    EXPECT_NE(timing.output.find("cycle 1000 us"), std::string::npos) << timing.output;
    auto help = devctl("sim --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("sim offline|online"), std::string::npos);
    EXPECT_EQ(devctl("sim unit DIO_1 help").exitCode, 0);

    for (const char* bad : {"sim bogus", "sim show 9", "sim offline 0", "sim offline 0 x",
                            "sim trace 0 0", "sim unit NOPE_1", "sim silent"}) {
        auto run = devctl(bad);
        EXPECT_EQ(run.exitCode, 1) << bad << ": " << run.output;
        EXPECT_FALSE(run.output.empty()) << bad;
    }
}

// A host started from a configuration folder takes its boards from the board
// sections and answers exactly the configured stations.
TEST(NetworkHostOptions, ConfigurationFolderGivesBoardsAndStations) {
    kalvo::testing::IsolatedEnvironment env;
    kalvo::testing::TempDir config;
    config.write("Kalvo.ini",
                 "[KALVO]\r\nConfigTool=1\r\nBoard=2\r\n[BOARD_1]\r\nKind=Cardmaster\r\n"
                 "[BOARD_2]\r\nKind=Pcimaster64\r\n"
                 "[DIO_1]\r\nBoard=2\r\nLine=1\r\nBase=3\r\nOffset=0,1\r\n"
                 "[Simulation]\r\nEcho_2=9\r\n");
    // Started as a user would, without --boards: the boards come from the
    // folder (a Cardmaster board, then a tolva board, each with ID word 0).
    setenv("KALVO_DEVICE_DIR", env.work().file("devices").c_str(), 1);
    struct StopHost {
        ~StopHost() {
            devctl("stop");
            unsetenv("KALVO_DEVICE_DIR");
        }
    } stopHost;
    auto started = devctl("start --network " + config.path());
    ASSERT_EQ(started.exitCode, 0) << started.output;
    auto list = devctl("list");
    EXPECT_NE(list.output.find("cardmaster"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("tolva"), std::string::npos) << list.output;
    auto show = devctl("sim show");
    EXPECT_EQ(show.exitCode, 0) << show.output;
    EXPECT_NE(show.output.find("DIO_1"), std::string::npos) << show.output;

    std::string why;
    Master master;
    ASSERT_TRUE(master.open("\\\\.\\tolva0", &why)) << why;
    EXPECT_TRUE(eventually([&] { return master.answering(3) && master.answering(9); }));
    uint64_t condition = master.reg64(kCondition);
    EXPECT_EQ(condition, (uint64_t(1) << 35) | (uint64_t(1) << 41));
    master.close();
    EXPECT_EQ(devctl("stop").exitCode, 0);

    // A description that cannot be used stops the host with the reason.
    PrivateHost host;
    env.work().write("bad.txt", "[board 0]\nstation 40\n");
    EXPECT_FALSE(host.start(env.work().file("devices"), env.work().file("devhost.log"), "tolva",
                            &why, {"--network", env.work().file("bad.txt")}));
    EXPECT_NE(why.find("line 2"), std::string::npos) << why;
    EXPECT_FALSE(host.start(env.work().file("devices"), env.work().file("devhost.log"), "tolva",
                            &why, {"--cycle-us", "5"}));
    EXPECT_NE(why.find("cycle-us"), std::string::npos) << why;
}

}  // namespace
