#include <gtest/gtest.h>

#include "sim/units/remote_unit.h"
#include "sim/units/tests/fake_station_port.h"

namespace kalvo::sim {
namespace {

using testing::CycleDriver;
using testing::FakeStationPort;

// The master's command sequence on one channel: keep the output word, write
// the command, wait for the code in the input word, restore, wait for data
// mode. Returns the reply word, or -1 when no reply came within the limit
// (*backToData tells whether the input returned to data mode).
int runCommand(FakeStationPort& port, CycleDriver& cycles, int offset, uint16_t command,
               bool* backToData) {
    const uint16_t kept = port.out[offset];
    port.out[offset] = command;
    int reply = -1;
    for (int i = 0; i < 200 && reply < 0; ++i) {
        cycles.run();
        if ((port.in[offset] & 0xE000) == (command & 0xE000)) reply = port.in[offset];
    }
    port.out[offset] = kept;
    *backToData = false;
    for (int i = 0; i < 200 && reply >= 0 && !*backToData; ++i) {
        cycles.run();
        *backToData = (port.in[offset] & 0xE000) == 0;
    }
    return reply;
}

class AdaUnitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        unit = makeRemoteUnit("ADA", {2, 5}, "", &error);
        ASSERT_NE(unit, nullptr) << error;
        cycles = std::make_unique<CycleDriver>(*unit, port);
    }
    std::unique_ptr<RemoteUnit> unit;
    FakeStationPort port;
    std::unique_ptr<CycleDriver> cycles;
};

TEST_F(AdaUnitTest, DataModeInputsFollowTwelveBitOutputsUnlessSet) {
    port.out[2] = 0x0ABC;
    port.out[5] = 0x0FFF;
    cycles->run();
    EXPECT_EQ(port.in[2], 0x0ABC);
    EXPECT_EQ(port.in[5], 0x0FFF);
    EXPECT_EQ(unit->control({"input", "2", "0x123"}), "");
    cycles->run();
    EXPECT_EQ(port.in[2], 0x0ABC);
    EXPECT_EQ(port.in[5], 0x0123);
    EXPECT_EQ(unit->control({"wire", "2"}), "");
    cycles->run();
    EXPECT_EQ(port.in[5], 0x0FFF);
}

TEST_F(AdaUnitTest, CommandsAreAnsweredAndTheChannelReturnsToDataMode) {
    port.out[5] = 0x0321;
    cycles->run();
    ASSERT_EQ(unit->control({"in-range", "2", "3"}), "");
    ASSERT_EQ(unit->control({"out-range", "2", "9"}), "");
    bool back = false;
    EXPECT_EQ(runCommand(port, *cycles, 5, 0x80FF, &back), 0x8000);
    EXPECT_TRUE(back);
    EXPECT_EQ(port.in[5], 0x0321);  // data mode again, with the restored value
    EXPECT_EQ(runCommand(port, *cycles, 5, 0x4000, &back), 0x43FF);
    EXPECT_TRUE(back);
    EXPECT_EQ(runCommand(port, *cycles, 5, 0x6000, &back), 0x6900);
    EXPECT_TRUE(back);
    EXPECT_EQ(runCommand(port, *cycles, 2, 0xE000, &back), 0xE103);
    EXPECT_TRUE(back);
    // The other channel kept its own (default) parameters.
    EXPECT_EQ(runCommand(port, *cycles, 2, 0x4000, &back), 0x4100);

    // Two commands back to back without a pause: both answered.
    port.out[5] = 0x8012;
    cycles->run();
    EXPECT_EQ(port.in[5], 0x8000);
    port.out[5] = 0x4000;
    cycles->run();
    EXPECT_EQ(port.in[5], 0x4312);
}

TEST_F(AdaUnitTest, UnknownCodesGetNoAnswerAndAStuckChannelKeepsItsReply) {
    port.out[2] = 0x0055;
    cycles->run();
    bool back = false;
    EXPECT_EQ(runCommand(port, *cycles, 2, 0x2000, &back), -1);
    cycles->run();
    EXPECT_EQ(port.in[2], 0x0055);

    ASSERT_EQ(unit->control({"stuck", "1", "on"}), "");
    EXPECT_EQ(runCommand(port, *cycles, 2, 0xE000, &back), 0xE103);
    EXPECT_FALSE(back);
    EXPECT_EQ(port.in[2], 0xE103);
    ASSERT_EQ(unit->control({"stuck", "1", "off"}), "");
    cycles->run();
    EXPECT_EQ(port.in[2], 0x0055);
}

TEST_F(AdaUnitTest, RefusesBadControlWords) {
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"input", "0", "1"},
                                               {"input", "3", "1"},
                                               {"input", "1", "4096"},
                                               {"stuck", "1", "maybe"},
                                               {"stuck", "1"},
                                               {"in-range", "1", "16"},
                                               {"out-range", "x", "1"},
                                               {"calibrate", "1"}}) {
        EXPECT_NE(unit->control(words), "") << words[0];
    }
}

}  // namespace
}  // namespace kalvo::sim
