#include <gtest/gtest.h>

#include "sim/units/remote_unit.h"
#include "sim/units/tests/fake_station_port.h"

namespace kalvo::sim {
namespace {

using testing::CycleDriver;
using testing::FakeStationPort;

std::unique_ptr<RemoteUnit> makeUnit(std::string_view family, std::vector<int> offsets) {
    std::string error;
    auto unit = makeRemoteUnit(family, std::move(offsets), "", &error);
    EXPECT_NE(unit, nullptr) << error;
    return unit;
}

TEST(DioUnit, InputsFollowOutputsUntilSetAndAfterRewiring) {
    auto unit = makeUnit("DIO", {3, 4});
    FakeStationPort port;
    CycleDriver cycles(*unit, port);
    port.out[3] = 0x0005;
    port.out[4] = 0xA5A5;
    port.out[0] = 0x1111;  // not the unit's word
    cycles.run();
    EXPECT_EQ(port.in[3], 0x0005);
    EXPECT_EQ(port.in[4], 0xA5A5);
    EXPECT_EQ(port.in[0], 0);

    EXPECT_EQ(unit->control({"input", "3", "0x1234"}), "");
    port.out[3] = 0x0006;
    cycles.run();
    EXPECT_EQ(port.in[3], 0x1234);
    EXPECT_EQ(port.in[4], 0xA5A5);
    EXPECT_NE(unit->describe().find("out 0x0006 in 0x1234 (set)"), std::string::npos)
        << unit->describe();

    EXPECT_EQ(unit->control({"wire", "3"}), "");
    cycles.run();
    EXPECT_EQ(port.in[3], 0x0006);
}

// The communication watchdog: each family drops what it drives to 0 and
// keeps what the user set; the next exchange takes the master's words again.
TEST(RemoteUnits, ACommunicationLossDropsTheOutputsUntilTheNextExchange) {
    struct Case {
        const char* family;
        std::vector<int> offsets;
        const char* before;  // in describe() after an exchange of 0x0123
        const char* after;   // after the loss
    };
    const Case cases[] = {
        {"DIO", {0}, "[0] out 0x0123 in 0x0123", "[0] out 0x0000 in 0x0000"},
        {"ADA", {0, 1, 2, 3}, "[0] out 0x0123", "[0] out 0x0000"},
    };
    for (const Case& c : cases) {
        auto unit = makeUnit(c.family, c.offsets);
        FakeStationPort port;
        CycleDriver cycles(*unit, port);
        port.out[0] = 0x0123;
        cycles.run();
        EXPECT_NE(unit->describe().find(c.before), std::string::npos) << unit->describe();
        unit->communicationLost();
        EXPECT_NE(unit->describe().find(c.after), std::string::npos) << unit->describe();
        cycles.run();
        EXPECT_NE(unit->describe().find(c.before), std::string::npos) << unit->describe();
    }

    // A DIO input set by the user stays set.
    auto dio = makeUnit("DIO", {0});
    EXPECT_EQ(dio->control({"input", "0", "0x00AA"}), "");
    dio->communicationLost();
    EXPECT_NE(dio->describe().find("[0] out 0x0000 in 0x00aa (set)"), std::string::npos)
        << dio->describe();
}

TEST(DioUnit, RefusesBadControlWordsAndChangesNothing) {
    auto unit = makeUnit("DIO", {0});
    FakeStationPort port;
    CycleDriver cycles(*unit, port);
    port.out[0] = 7;
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{},
                                               {"input"},
                                               {"input", "0"},
                                               {"input", "1", "5"},        // not the unit's offset
                                               {"input", "16", "5"},       // no such offset
                                               {"input", "0", "0x10000"},  // more than 16 bits
                                               {"input", "0", "12abc"},
                                               {"input", "0", "-1"},
                                               {"input", "0", "5", "extra"},
                                               {"wire", "x"},
                                               {"explode"}}) {
        EXPECT_NE(unit->control(words), "") << (words.empty() ? "" : words[0]);
    }
    cycles.run();
    EXPECT_EQ(port.in[0], 7);
    EXPECT_FALSE(unit->help().empty());
}

}  // namespace
}  // namespace kalvo::sim
