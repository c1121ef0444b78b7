// The library end to end: a real device host serving the example
// configuration folder's network, the real board library bound by its
// "Kind", and the DIO calls seen at the simulated unit itself.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "host/network_admin.h"
#include "tests/support/api_test_folder.h"
#include "tests/support/child_process.h"
#include "tests/support/kalvo_loader.h"
#include "tests/support/private_host.h"

namespace kalvo::apitest {
namespace {

using namespace std::chrono_literals;
using kernel::host::NetworkAdmin;

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

// The example folder: DIO_1 (station 1, word 0) and DIO_2 (station 1,
// word 1) among an ADA, an AXSA and an SIO unit.
class Network : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"Kalvo.ini", "ModelTbl.ini"})
            std::filesystem::copy_file(std::string(KALVO_SAMPLE_CONFIG) + "/" + name,
                                       env_.work().file(name));
        std::string why;
        ASSERT_TRUE(host_.start(env_.work().file("devices"), env_.work().file("devhost.log"),
                                "tolva:id=0", &why, {"--network", env_.workDir()}))
            << why;
        kv_ = std::make_unique<KalvoLibrary>();
        ASSERT_TRUE(kv_->loaded());
        ASSERT_EQ(kv_->KV_CheckBoard(1), 0) << host_.log();
        ASSERT_EQ(kv_->KV_DIO_Open(1), 0);
        ASSERT_EQ(kv_->KV_DIO_Open(2), 0);
    }
    void TearDown() override {
        kv_.reset();
        EXPECT_EQ(host_.stop(), 0) << host_.log();
    }
    // The unit's own view: "DIO [0] out 0x0021 in 0x0021 (wired)".
    bool unitShows(const std::string& unit, const std::string& text) {
        return eventually(
            [&] { return admin_.describeUnit(unit).find(text) != std::string::npos; });
    }

    testing::IsolatedEnvironment env_;
    drivertest::PrivateHost host_;
    NetworkAdmin admin_{env_.work().file("devices")};
    std::unique_ptr<KalvoLibrary> kv_;
};

TEST_F(Network, OutputWordsArriveAtTheUnitAndItsInputsComeBack) {
    EXPECT_EQ(kv_->KV_DIO_OutData(1, 0x12345), 0);
    EXPECT_TRUE(unitShows("DIO_1", "[0] out 0x2345")) << admin_.describeUnit("DIO_1");

    EXPECT_EQ(kv_->KV_DIO_OutData(1, 0x0001), 0);
    EXPECT_EQ(kv_->KV_DIO_OutDataBit(1, 5, 1), 0);
    EXPECT_TRUE(unitShows("DIO_1", "[0] out 0x0021"));
    EXPECT_EQ(kv_->KV_DIO_OutDataBit(1, 0, 0), 0);
    EXPECT_TRUE(unitShows("DIO_1", "[0] out 0x0020"));
    EXPECT_EQ(kv_->KV_DIO_OutDataBit(1, 16, 1), 3);
    EXPECT_EQ(kv_->KV_DIO_OutDataBit(1, -1, 1), 3);
    std::this_thread::sleep_for(20ms);
    EXPECT_NE(admin_.describeUnit("DIO_1").find("[0] out 0x0020"), std::string::npos);

    // DIO_2 is word 1 of the same station: DIO_1's writes never touch it.
    EXPECT_EQ(kv_->KV_DIO_OutData(2, 0xA5A5), 0);
    EXPECT_TRUE(unitShows("DIO_2", "[1] out 0xa5a5"));
    EXPECT_NE(admin_.describeUnit("DIO_1").find("[0] out 0x0020"), std::string::npos);

    // The unit's inputs are wired to its outputs until set.
    uint16_t word = 0;
    EXPECT_TRUE(eventually([&] { return kv_->KV_DIO_InData(1, &word) == 0 && word == 0x0020; }));
    ASSERT_TRUE(admin_.setInput("DIO_1", 0, 0xBEEF)) << admin_.lastError();
    EXPECT_TRUE(eventually([&] { return kv_->KV_DIO_InData(1, &word) == 0 && word == 0xBEEF; }));
    int32_t bit = -1;
    EXPECT_EQ(kv_->KV_DIO_InDataBit(1, 0, &bit), 0);
    EXPECT_EQ(bit, 1);
    EXPECT_EQ(kv_->KV_DIO_InOData(1, &word), 0);
    EXPECT_EQ(word, 0x0020);
}

TEST_F(Network, ConditionFollowsAStationTakenOffTheLineAndPutBack) {
    int32_t condition = -1;
    EXPECT_TRUE(
        eventually([&] { return kv_->KV_DIO_GetCondition(1, &condition) == 0 && condition == 1; }));
    ASSERT_TRUE(admin_.setStationOnline(0, 1, false)) << admin_.lastError();
    EXPECT_TRUE(
        eventually([&] { return kv_->KV_DIO_GetCondition(1, &condition) == 0 && condition == 0; }));
    // Reads still answer with what the GM area holds.
    uint16_t word = 0;
    EXPECT_EQ(kv_->KV_DIO_InData(1, &word), 0);
    ASSERT_TRUE(admin_.setStationOnline(0, 1, true));
    EXPECT_TRUE(
        eventually([&] { return kv_->KV_DIO_GetCondition(2, &condition) == 0 && condition == 1; }));
}

KALVO_CHILD(network_toggle_bit) {
    return toggleOwnBit(std::stoi(args.at(0)), std::stoi(args.at(1)));
}

TEST_F(Network, TwoProcessesChangingDifferentBitsOfOneWordLoseNoUpdate) {
    env_.work().write("KalvoLog.ini", "[LOG]\nLOGLEVEL=101H\n");
    ASSERT_EQ(kv_->KV_DIO_OutData(1, 0), 0);
    auto a = testing::spawnChild("network_toggle_bit", {"3", "100000"});
    auto b = testing::spawnChild("network_toggle_bit", {"12", "100000"});
    EXPECT_EQ(a.wait(std::chrono::seconds(280)), 0);
    EXPECT_EQ(b.wait(std::chrono::seconds(280)), 0);
    uint16_t word = 0;
    EXPECT_EQ(kv_->KV_DIO_InOData(1, &word), 0);
    EXPECT_EQ(word, (1u << 3) | (1u << 12));
    EXPECT_TRUE(unitShows("DIO_1", "[0] out 0x1008"));
}

}  // namespace
}  // namespace kalvo::apitest
