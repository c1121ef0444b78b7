#include <gtest/gtest.h>

#include "sim/units/remote_unit.h"
#include "sim/units/tests/fake_station_port.h"

namespace kalvo::sim {
namespace {

using testing::CycleDriver;
using testing::FakeStationPort;

// Job 2 of a unit on offsets 0-7: its words are 4..7.
constexpr int kJob = 4;

class AxsaUnitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        unit = makeRemoteUnit("AXSA", {0, 1, 2, 3, 4, 5, 6, 7}, "", &error);
        ASSERT_NE(unit, nullptr) << error;
        cycles = std::make_unique<CycleDriver>(*unit, port);
    }
    // The master's command block: function in bits 8-12, the 28-bit
    // parameter in two 14-bit halves, the pair code in every word.
    void put(uint8_t command, uint8_t function, int32_t parameter, uint16_t pair) {
        const uint16_t t = static_cast<uint16_t>(pair << 14);
        const uint64_t w0 = (command | ((function & 0x1F) << 8) | t) & 0xFFFF;
        const uint64_t w1 = (((parameter >> 14) & 0x3FFF) | t) & 0xFFFF;
        const uint64_t w2 = ((parameter & 0x3FFF) | t) & 0xFFFF;
        port.writeBlock(kJob, w0 | (w1 << 16) | (w2 << 32));
    }
    uint16_t status() const { return port.in[kJob]; }
    int statusPair() const { return (port.in[kJob] >> 2) & 3; }
    // The master's check of the data words and its JData.
    bool data(int expectedPair, int32_t* value) const {
        const uint16_t high = port.in[kJob + 1];
        const uint16_t low = port.in[kJob + 2];
        if ((high >> 14) != (low >> 14)) return false;
        if (expectedPair != 0 && (high >> 14) != expectedPair) return false;
        uint32_t raw = ((high & 0x3FFFu) << 14) | (low & 0x3FFFu);
        if (raw & 0x08000000u) raw |= 0xF0000000u;
        *value = static_cast<int32_t>(raw);
        return true;
    }

    std::unique_ptr<RemoteUnit> unit;
    FakeStationPort port;
    std::unique_ptr<CycleDriver> cycles;
};

TEST_F(AxsaUnitTest, EachNewPairCodeIsExecutedOnceAndAnsweredWithIt) {
    int32_t value = 0;
    const uint16_t pairs[] = {1, 2, 3, 1};
    for (int i = 0; i < 4; ++i) {
        put('W', 7, 1000 + i, pairs[i]);
        cycles->run();
        EXPECT_EQ(statusPair(), pairs[i]);
        ASSERT_TRUE(data(pairs[i], &value));
        EXPECT_EQ(value, 1000 + i);
        // The answer stays while the block stays, so a later read sees it.
        cycles->run(5);
        EXPECT_EQ(statusPair(), pairs[i]);
        ASSERT_TRUE(data(pairs[i], &value));
    }
    // The same block again (same pair) is not a new command.
    port.in[kJob + 1] = port.in[kJob + 2] = 0;
    cycles->run();
    put('R', 7, 0, 2);
    cycles->run();
    ASSERT_TRUE(data(2, &value));
    EXPECT_EQ(value, 1003);
    // Job 1 saw nothing of it.
    EXPECT_EQ((port.in[0] >> 2) & 3, 0);
}

TEST_F(AxsaUnitTest, StatusCommandsAreAnsweredWithPairZero) {
    ASSERT_EQ(unit->control({"position", "2", "-5"}), "");
    ASSERT_EQ(unit->control({"target", "2", "-5"}), "");
    int32_t value = 0;
    put('?', 0, 0, 1);  // query the position
    cycles->run();
    EXPECT_EQ(statusPair(), 0);
    ASSERT_TRUE(data(0, &value));
    EXPECT_EQ(port.in[kJob + 1] >> 14, 0);
    EXPECT_EQ(value, -5);
    // Function 28 and above is not a status query: the pair comes back.
    put('?', 28, 0, 2);
    cycles->run();
    EXPECT_EQ(statusPair(), 2);
    // An unknown command is answered (so the master does not wait) but refused.
    put('Z', 0, 0, 3);
    cycles->run();
    EXPECT_EQ(statusPair(), 3);
    EXPECT_NE(status() & 0x10, 0);
    // No command in the block: status with pair 0 and the position.
    port.writeBlock(kJob, 0);
    cycles->run();
    EXPECT_EQ(statusPair(), 0);
    EXPECT_EQ(status() & 0x10, 0);
    ASSERT_TRUE(data(0, &value));
    EXPECT_EQ(value, -5);
}

TEST_F(AxsaUnitTest, TheAxisMovesToItsTargetAtTheSetSpeed) {
    int32_t value = 0;
    put('V', 0, 1000, 1);
    cycles->run();
    put('T', 0, -4500, 2);
    cycles->run();
    ASSERT_TRUE(data(2, &value));
    EXPECT_EQ(value, -4500);
    EXPECT_EQ(status() & 3, 2);  // moving
    put('P', 0, 0, 3);
    cycles->run();
    ASSERT_TRUE(data(3, &value));
    EXPECT_EQ(value, -1000);  // one step so far; the read comes before this cycle's
    cycles->run(3);
    EXPECT_EQ(status() & 3, 1);  // in position
    put('P', 0, 0, 1);
    cycles->run();
    ASSERT_TRUE(data(1, &value));
    EXPECT_EQ(value, -4500);
    // The largest 28-bit target, and a stop on the way.
    put('T', 0, 0x07FFFFFF, 2);
    cycles->run(2);
    put('S', 0, 0, 3);
    cycles->run();
    ASSERT_TRUE(data(3, &value));
    cycles->run(5);
    put('P', 0, 0, 1);
    cycles->run();
    int32_t stopped = 0;
    ASSERT_TRUE(data(1, &stopped));
    EXPECT_EQ(stopped, value);
    EXPECT_NE(unit->describe().find("in position"), std::string::npos);
}

TEST_F(AxsaUnitTest, AHalfWrittenBlockIsNotTaken) {
    int32_t value = 0;
    put('W', 1, 11, 1);
    cycles->run();
    // Word 0 already carries pair 2, the parameters still pair 1.
    port.out[kJob] = static_cast<uint16_t>('W' | (1 << 8) | (2 << 14));
    cycles->run();
    EXPECT_EQ(statusPair(), 1);
    ASSERT_TRUE(data(1, &value));
    EXPECT_EQ(value, 11);
    put('W', 1, 22, 2);
    cycles->run();
    EXPECT_EQ(statusPair(), 2);
    ASSERT_TRUE(data(2, &value));
    EXPECT_EQ(value, 22);
}

TEST_F(AxsaUnitTest, RefusesBadControlWords) {
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"position", "3", "0"},
                                               {"position", "1", "0x8000000"},
                                               {"target", "1", "-134217729"},
                                               {"speed", "1", "0"},
                                               {"speed", "1"},
                                               {"home", "1", "0"}}) {
        EXPECT_NE(unit->control(words), "") << words[0];
    }
    EXPECT_EQ(unit->control({"target", "1", "-134217728"}), "");
}

}  // namespace
}  // namespace kalvo::sim
