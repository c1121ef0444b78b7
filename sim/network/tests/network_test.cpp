// The network facade with its real cycle thread: tables checked as a whole,
// the line seen through the window while the thread runs, and changes made
// from other threads meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "sim/chip/chip_map.h"
#include "sim/network/network.h"
#include "sim/simulated_hardware.h"
#include "sim/units/remote_unit.h"

namespace kalvo::sim {
namespace {

using namespace std::chrono_literals;
using namespace kalvo::sim::chip;

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

class FakeUnit final : public RemoteUnit {
  public:
    std::string_view family() const override { return "FAKE"; }
    const std::vector<int>& offsets() const override { return offsets_; }
    void exchange(StationPort& port, const CycleInfo&) override {
        ++exchanges;
        port.setInput(0, port.output(0));
    }
    std::string describe() const override { return "fake unit"; }
    std::string control(const std::vector<std::string>& words) override {
        return words.empty() ? "no command" : "";
    }
    std::string help() const override { return {}; }
    std::atomic<int> exchanges{0};

  private:
    std::vector<int> offsets_{0};
};

class NetworkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        hw_ = SimulatedHardware::create({BoardSpec{"tolva", 0, {}}, BoardSpec{"tolva", 1, {}}},
                                        &error);
        ASSERT_TRUE(hw_) << error;
        net_ = Network::create(*hw_, 1000, &error);
        ASSERT_TRUE(net_) << error;
    }

    template <class T>
    std::atomic_ref<T> reg(size_t board, uint32_t at) {
        return std::atomic_ref<T>(*reinterpret_cast<T*>(hw_->memoryWindow(board) + at));
    }
    void startLine(size_t board, uint16_t first, uint16_t size) {
        reg<uint16_t>(board, kStationRegister).store(static_cast<uint16_t>(first | size << 8));
        reg<uint32_t>(board, kCommand).store(kCommandStart);
    }
    std::string traceText(size_t board) {
        std::string all;
        for (const auto& line : net_->trace(board, 100)) all += line + "\n";
        return all;
    }

    std::unique_ptr<SimulatedHardware> hw_;
    std::unique_ptr<Network> net_;
};

TEST(NetworkCreate, RefusesACyclePeriodOutsideItsRange) {
    std::string error;
    auto hw = SimulatedHardware::create({BoardSpec{"tolva", 0, {}}}, &error);
    ASSERT_TRUE(hw);
    EXPECT_FALSE(Network::create(*hw, 99, &error));
    EXPECT_NE(error.find("outside"), std::string::npos);
    EXPECT_FALSE(Network::create(*hw, 2'000'000, &error));
    auto net = Network::create(*hw, 100, &error);
    ASSERT_TRUE(net) << error;
    EXPECT_EQ(net->timing().cycleMicros, 100u);
    EXPECT_EQ(net->boardCount(), 1u);
}

TEST_F(NetworkTest, TheLineRunsOnTheCycleThreadAndStationsAnswer) {
    NetworkDescription spec;
    spec.boards.push_back({0, {{2, 1, "DIO", false}, {5, 1, "ECHO", true}}, {}});
    spec.boards.push_back({1, {{7, 2, "", false}}, {}});
    ASSERT_EQ(net_->apply(spec), "");
    startLine(0, 0, 32);
    startLine(1, 0, 32);
    EXPECT_TRUE(eventually([&] {
        return reg<uint32_t>(0, kCommand).load() == (kCommandStart | kCommandRunning) &&
               reg<uint64_t>(0, kStationCondition).load() == ((1ull << 34) | (1ull << 37)) &&
               reg<uint64_t>(1, kStationCondition).load() == ((1ull << 39) | (1ull << 40));
    }));
    const uint16_t chkc = reg<uint16_t>(0, kChkc).load();
    EXPECT_TRUE(eventually([&] { return reg<uint16_t>(0, kChkc).load() != chkc; }));
    reg<uint16_t>(0, kWriteCount).store(5);
    EXPECT_TRUE(eventually([&] { return reg<uint16_t>(0, kWriteCount).load() == 0; }));

    ASSERT_EQ(net_->setStationOnline(0, 5, false), "");
    EXPECT_TRUE(
        eventually([&] { return reg<uint64_t>(0, kStationCondition).load() == (1ull << 34); }));
    const std::string description = net_->describe(0);
    EXPECT_NE(description.find("line running"), std::string::npos) << description;
    EXPECT_NE(description.find("station 5 ECHO (echo): off the line"), std::string::npos)
        << description;
    EXPECT_NE(traceText(0).find("station 5 off the line"), std::string::npos);
    EXPECT_GT(net_->timing().cycles, 0u);
}

TEST_F(NetworkTest, ADescriptionIsAppliedWholeOrNotAtAll) {
    ASSERT_EQ(net_->addStation(0, {3, 1, "", false}), "");
    const struct {
        const char* what;
        NetworkDescription spec;
        const char* reason;
    } cases[] = {
        {"unknown board", {{{5, {{1, 1, "", false}}, {}}}}, "board 5 does not exist"},
        {"station past the line's end", {{{0, {{30, 3, "", false}}, {}}}}, "line ends at 31"},
        {"station address out of range", {{{0, {{-1, 1, "", false}}, {}}}}, "outside 0..31"},
        {"overlap with a station already there", {{{0, {{2, 2, "", false}}, {}}}}, "overlaps"},
        {"overlap inside the description",
         {{{1, {{1, 1, "", false}, {0, 2, "", false}}, {}}}},
         "overlaps"},
        {"unit on no station",
         {{{1, {{1, 1, "", false}}, {{"DIO", 1, "", 9, {0}}}}}},
         "station 9 is not on the line"},
        {"unit of an unknown family",
         {{{1, {{1, 1, "", false}}, {{"XYZ", 1, "", 1, {0}}}}}},
         "unknown unit family"},
        {"unit named twice",
         {{{1, {{1, 1, "", false}}, {{"DIO", 1, "", 1, {0}}, {"DIO", 1, "", 1, {1}}}}}},
         "described twice"},
        {"offset out of range",
         {{{1, {{1, 1, "", false}}, {{"DIO", 2, "", 1, {16}}}}}},
         "outside 0..15"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string error = net_->apply(c.spec);
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(net_->describe(1).find("station 1"), std::string::npos) << "nothing added";
        EXPECT_EQ(net_->unit("DIO_1"), nullptr);
    }
    EXPECT_EQ(net_->apply({{{1, {{1, 1, "", false}}, {{"DIO", 1, "", 1, {0, 1}}}}}}), "");
    EXPECT_NE(net_->unit("DIO_1"), nullptr);
    EXPECT_NE(net_->apply({{{0, {}, {{"DIO", 1, "", 3, {0}}}}}}).find("exists already"),
              std::string::npos)
        << "unit names are unique across boards";
}

TEST_F(NetworkTest, UnitsAreReachedByNameAndGoWithTheirStation) {
    ASSERT_EQ(net_->addStation(0, {4, 2, "", false}), "");
    auto fake = std::make_unique<FakeUnit>();
    FakeUnit* raw = fake.get();
    ASSERT_EQ(net_->addUnit(0, {"FAKE", 1, "", 5, {0}}, std::move(fake)), "");
    ASSERT_EQ(net_->addUnit(0, {"DIO", 3, "", 4, {0, 1}}), "");
    EXPECT_EQ(net_->unit("FAKE_1"), raw);

    std::string error;
    EXPECT_EQ(net_->describeUnit("FAKE_1", &error), "fake unit");
    EXPECT_EQ(error, "");
    EXPECT_EQ(net_->describeUnit("NONE_1", &error), "");
    // A miss names the units there are.
    EXPECT_EQ(error, "no unit NONE_1 (the units: FAKE_1, DIO_3)");
    EXPECT_EQ(net_->unitControl("FAKE_1", {}), "no command");
    EXPECT_EQ(net_->unitControl("NONE_1", {"x"}), "no unit NONE_1 (the units: FAKE_1, DIO_3)");

    startLine(0, 0, 32);
    reg<uint16_t>(0, kGmArea + 2 * 20).store(0xBEEF);  // station 5, word 0
    EXPECT_TRUE(eventually([&] { return reg<uint16_t>(0, kGmArea + 2 * 148).load() == 0xBEEF; }));

    ASSERT_EQ(net_->setUnitSilent("FAKE_1", true), "");
    const int before = raw->exchanges;
    std::this_thread::sleep_for(20ms);
    EXPECT_LE(raw->exchanges, before + 1) << "at most the cycle that ran meanwhile";
    EXPECT_EQ(net_->setUnitSilent("NONE_1", true), "no unit NONE_1 (the units: FAKE_1, DIO_3)");

    EXPECT_EQ(net_->removeStation(0, 5), "no station 5 on board 0");
    ASSERT_EQ(net_->removeStation(0, 4), "");
    EXPECT_EQ(net_->unit("FAKE_1"), nullptr);
    EXPECT_EQ(net_->unit("DIO_3"), nullptr);
    EXPECT_EQ(net_->removeUnit("DIO_3"), "no unit DIO_3 (the network has no units)");
    EXPECT_NE(traceText(0).find("unit FAKE_1 removed with its station"), std::string::npos);
}

TEST_F(NetworkTest, MailToTheEchoStationGoesBothWaysOnTheRunningLine) {
    ASSERT_EQ(net_->addStation(0, {9, 1, "", true}), "");
    reg<uint16_t>(0, kReceiveControl1).store(kReceiveEnabled);
    startLine(0, 0, 32);
    ASSERT_TRUE(eventually([&] { return reg<uint64_t>(0, kStationCondition).load() != 0; }));
    std::memcpy(hw_->memoryWindow(0) + kMailSendBuffer, "ping", 4);
    reg<uint16_t>(0, kMailControl).store(0x4000 | 9 << 8 | 1);
    ASSERT_TRUE(eventually([&] { return reg<uint16_t>(0, kReceiveControl1).load() & 0x80; }));
    EXPECT_EQ(reg<uint16_t>(0, kReceiveControl1).load(), 0xC0 | 9 << 8 | 1);
    EXPECT_EQ(std::memcmp(hw_->memoryWindow(0) + kMailReceiveBuffer1, "ping", 4), 0);
    EXPECT_EQ(reg<uint16_t>(0, kMailStatus).load(), kMailStatusSent);

    ASSERT_EQ(net_->setMailAbsent(0, 9, true), "");
    EXPECT_NE(net_->setMailAbsent(0, 64, true), "");
    reg<uint16_t>(0, kMailControl).store(0x4000 | 9 << 8 | 1);
    ASSERT_TRUE(eventually([&] { return reg<uint16_t>(0, kMailControl).load() == (9 << 8 | 1); }));
    EXPECT_EQ(reg<uint16_t>(0, kMailStatus).load(), kMailStatusNoAnswer);
}

TEST_F(NetworkTest, AResetThroughTheControlRegisterStopsTheRunningLine) {
    ASSERT_EQ(net_->addStation(1, {0, 1, "", false}), "");
    startLine(1, 0, 32);
    ASSERT_TRUE(eventually([&] { return reg<uint64_t>(1, kStationCondition).load() != 0; }));
    reg<uint16_t>(1, kGmArea).store(0x4444);
    auto control = std::atomic_ref<uint32_t>(
        *reinterpret_cast<uint32_t*>(hw_->controlWindow(1) + kControlRegister));
    control.store(kControlResetBit);
    hw_->ioSpaceWritten(hw_->controlWindowAddress(1) + kControlRegister, 4);
    control.store(0);
    EXPECT_EQ(reg<uint64_t>(1, kStationCondition).load(), 0u);
    EXPECT_EQ(reg<uint16_t>(1, kGmArea).load(), 0);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(reg<uint32_t>(1, kCommand).load(), 0u) << "the line stays down";
    EXPECT_NE(traceText(1).find("chip reset"), std::string::npos);
    EXPECT_EQ(traceText(0).find("chip reset"), std::string::npos) << "only that board";
}

TEST_F(NetworkTest, TheFacadeIsSafeFromSeveralThreadsWhileTheLineRuns) {
    startLine(0, 0, 32);
    std::atomic<bool> stop{false};
    std::vector<std::thread> admins;
    for (int t = 0; t < 3; ++t) {
        admins.emplace_back([&, t] {
            const int address = 4 * t;
            const std::string name = "DIO_" + std::to_string(t + 1);
            while (!stop) {
                net_->addStation(0, {address, 2, "", t == 0});
                net_->addUnit(0, {"DIO", t + 1, "", address + 1, {0, 1}});
                net_->setStationOnline(0, address, false);
                net_->setUnitSilent(name, true);
                net_->unitControl(name, {"help"});
                (void)net_->describe(0);
                (void)net_->trace(0, 10);
                net_->setStationOnline(0, address, true);
                net_->removeStation(0, address);
            }
        });
    }
    std::thread resetter([&] {
        while (!stop) {
            hw_->resetChip(0);
            startLine(0, 0, 32);
            std::this_thread::sleep_for(2ms);
        }
    });
    std::this_thread::sleep_for(300ms);
    stop = true;
    for (auto& t : admins) t.join();
    resetter.join();
    EXPECT_GT(net_->timing().cycles, 0u);
}

TEST_F(NetworkTest, DestroyingTheNetworkStopsTheLineAndReturnsPromptly) {
    ASSERT_EQ(net_->addStation(0, {1, 1, "", false}), "");
    startLine(0, 0, 32);
    ASSERT_TRUE(eventually([&] { return reg<uint64_t>(0, kStationCondition).load() != 0; }));
    net_.reset();
    EXPECT_EQ(reg<uint64_t>(0, kStationCondition).load(), 0u);
    EXPECT_EQ(reg<uint32_t>(0, kCommand).load() & kCommandRunning, 0u);
    hw_->resetChip(0);  // no handler of a gone network runs
}

}  // namespace
}  // namespace kalvo::sim
