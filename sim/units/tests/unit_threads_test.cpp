// The line's cycle thread exchanges while a user's tool controls and
// describes the same units from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sim/units/remote_unit.h"
#include "sim/units/tests/fake_station_port.h"

namespace kalvo::sim {
namespace {

TEST(RemoteUnitThreads, ControlAndDescribeRunBesideTheCycleThread) {
    std::vector<std::unique_ptr<RemoteUnit>> units;
    std::string error;
    for (const char* family : {"DIO", "ADA", "AXSA", "SIO"}) {
        units.push_back(makeRemoteUnit(family, {0, 1, 2, 3, 4, 5, 6, 7}, "", &error));
        ASSERT_NE(units.back(), nullptr) << error;
    }
    std::atomic<bool> stop{false};
    std::thread line([&] {
        testing::FakeStationPort port;
        CycleInfo info;
        while (!stop.load()) {
            ++info.cycle;
            port.out[0] = static_cast<uint16_t>(info.cycle);
            port.out[3] = static_cast<uint16_t>(info.cycle << 8);  // SIO requests toggle
            for (auto& unit : units) unit->exchange(port, info);
        }
    });
    const std::vector<std::vector<std::string>> commands = {
        {"input", "1", "0x55"}, {"wire", "1"},       {"stuck", "2", "on"}, {"stuck", "2", "off"},
        {"target", "2", "-9"},  {"speed", "1", "7"}, {"rx-error", "1"},    {"tx-error", "2"},
        {"pty", "1"},           {"loopback", "1"}};
    for (int round = 0; round < 200; ++round) {
        for (auto& unit : units) {
            for (const auto& words : commands) unit->control(words);
            EXPECT_FALSE(unit->describe().empty());
        }
    }
    stop = true;
    line.join();
}

}  // namespace
}  // namespace kalvo::sim
