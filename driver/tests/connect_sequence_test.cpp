// The connect sequence on its 10 ms timer, observed through the record of
// the stores the board sees (each with its time) and the status request's
// stable states; a state that lasts one tick is read from the record, never
// caught by polling. Timing bounds are generous above (a loaded machine
// delays ticks) and tight below (a tick is never early).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/support/driver_harness.h"

namespace kalvo::drivertest {
namespace {

namespace rq = kalvo::requests;
using namespace platform;
using namespace std::chrono_literals;

constexpr auto kEarly = 1ms;    // timer granularity below the nominal time
constexpr auto kLate = 1000ms;  // scheduling slack above it (shared, loaded machines)

class Sequence : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(h.loaded());
        ASSERT_TRUE(h.addAndStartAll());
        ASSERT_EQ(h.open("\\\\.\\tolva0", &file), STATUS_SUCCESS);
    }
    uint64_t reg(uint32_t offset) { return h.memoryWindowAddress(0) + offset; }
    std::vector<BusWrite> writesOf(uint32_t offset, uint32_t value) {
        auto all = h.bus().writesTo(reg(offset));
        std::erase_if(all, [value](const BusWrite& w) { return w.value != value; });
        return all;
    }
    int32_t state() {
        auto s = h.status(file);
        return s ? s->lineState : -1;
    }
    static void expectInterval(Clock::time_point a, Clock::time_point b,
                               std::chrono::milliseconds nominal) {
        auto d = b - a;
        EXPECT_GE(d, nominal - kEarly) << std::chrono::duration<double, std::milli>(d).count();
        EXPECT_LE(d, nominal + kLate) << std::chrono::duration<double, std::milli>(d).count();
    }

    DriverHarness h{"tolva"};
    kernel::FileId file = 0;
};

TEST_F(Sequence, ConnectWalksTheStatesOnTheTimer) {
    h.bus().clear();
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "5", 2), STATUS_SUCCESS);
    std::vector<int32_t> seen;
    ASSERT_TRUE(waitFor([&] {
        int32_t s = state();
        if (seen.empty() || seen.back() != s) seen.push_back(s);
        return s == rq::LineState::Running;
    }));
    // The states polling happened to see come in the sequence's order; a
    // loaded machine may miss any of the short ones. That every step ran,
    // in order and on the timer, is what the record of stores shows below.
    const std::vector<int32_t> order{1, 2, 1000, 1001, 1002, 1003, 1004};
    size_t at = 0;
    for (int32_t s : seen) {
        while (at < order.size() && order[at] != s) ++at;
        ASSERT_LT(at, order.size()) << "state " << s << " out of order";
    }

    auto prepare = writesOf(0x448, 0x700);
    ASSERT_GE(prepare.size(), 2u);
    auto setup = writesOf(0x44C, 0x8000);
    auto station = h.bus().writesTo(reg(0x498));
    auto start = writesOf(0x44C, 0x100);
    ASSERT_EQ(setup.size(), 1u);
    ASSERT_EQ(station.size(), 1u);
    ASSERT_GE(start.size(), 1u);
    expectInterval(prepare[0].when, prepare[1].when, 20ms);  // state 1 -> 2
    expectInterval(prepare[1].when, setup[0].when, 20ms);    // 2 -> 1000
    expectInterval(setup[0].when, station[0].when, 20ms);    // 1000 -> 1001
    expectInterval(station[0].when, start[0].when, 20ms);    // 1001 -> 1002 -> 1003
    auto zeroes = writesOf(0x44C, 0);
    EXPECT_TRUE(std::any_of(zeroes.begin(), zeroes.end(), [&](const BusWrite& w) {
        return w.when > station[0].when && w.when < start[0].when;
    }));
    // The first step clears 0x000 to 0x46C.
    EXPECT_EQ(h.bus().writesTo(reg(0x46C)).size(), 1u);
    EXPECT_TRUE(h.bus().writesTo(reg(0x470)).empty());
}

TEST_F(Sequence, StationRegisterKeepsTheBaudBitsAndAddsAddressSizeAndMode) {
    struct Case {
        uint32_t code;
        uint32_t expected;
    };
    for (Case c :
         {Case{rq::IOCTL_TOLVA_CONNECT, 0x02C5}, Case{rq::IOCTL_TOLVA_CONNECT_LF, 0x82C5}}) {
        ASSERT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_DISCONNECT, {}, 0).status, STATUS_SUCCESS);
        ASSERT_TRUE(waitFor([&] { return state() == 0; }));
        h.write32(0, 0x498, 0x00C0);
        h.bus().clear();
        ASSERT_EQ(h.connect(file, c.code, "5", 2), STATUS_SUCCESS);
        ASSERT_TRUE(waitFor([&] { return !h.bus().writesTo(reg(0x498)).empty(); }));
        EXPECT_EQ(h.bus().writesTo(reg(0x498))[0].value, c.expected);
    }
}

TEST_F(Sequence, GmmConnectEndsAfterTheSetUpWriteWithTheTimerStopped) {
    h.bus().clear();
    auto t0 = Clock::now();
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT_GMM, "0", 0), STATUS_SUCCESS);
    ASSERT_TRUE(waitFor([&] { return !writesOf(0x44C, 0x8000).empty(); }));
    auto setup = writesOf(0x44C, 0x8000)[0];
    expectInterval(t0, setup.when, 40ms);
    ASSERT_TRUE(waitFor([&] { return state() == 0; }));
    EXPECT_EQ(h.read32(0, 0x44C), 0x8000u);
    EXPECT_TRUE(h.bus().writesTo(reg(0x498)).empty());
    // No tick follows.
    h.bus().clear();
    std::this_thread::sleep_for(60ms);
    EXPECT_TRUE(h.bus().all().empty());
}

TEST_F(Sequence, StartCommandRepeatsEverySeventyMillisecondsWhileTheLineIsDown) {
    h.bus().clear();
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "1", 1), STATUS_SUCCESS);
    ASSERT_TRUE(waitFor([&] { return writesOf(0x44C, 0x100).size() >= 3; }, 10s));
    auto starts = writesOf(0x44C, 0x100);
    expectInterval(starts[0].when, starts[1].when, 70ms);
    expectInterval(starts[1].when, starts[2].when, 70ms);
}

TEST_F(Sequence, RunningLineIsSupervisedAndRestartedWhenItDrops) {
    // The chip answers a start command with the running bit at once, as a
    // line that comes up does; a test thread setting it later could lose
    // the race with a restart on a loaded machine.
    const uint64_t command = reg(0x44C);
    h.bus().setWriteHook([&](const BusWrite& w) {
        if (w.busAddress == command && w.value == 0x100) h.write32(0, 0x44C, 0x100 | 0x200);
    });
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "1", 1), STATUS_SUCCESS);
    ASSERT_TRUE(waitFor([&] { return state() == rq::LineState::Running; }));
    // Supervised for well over the 70 ms a restart takes: one start only.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(writesOf(0x44C, 0x100).size(), 1u);
    EXPECT_EQ(state(), rq::LineState::Running);

    // The line drops and stays down: the start is given again.
    h.bus().setWriteHook({});
    h.bus().clear();
    auto dropped = Clock::now();
    h.write32(0, 0x44C, 0x100);
    ASSERT_TRUE(waitFor([&] { return !writesOf(0x44C, 0x100).empty(); }));
    EXPECT_LE(writesOf(0x44C, 0x100)[0].when - dropped, 70ms + kLate);
}

TEST_F(Sequence, DisconnectWhileRunningShowsIdleAtOnceAndClearsAtTheNextStep) {
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "1", 1), STATUS_SUCCESS);
    ASSERT_TRUE(waitFor([&] { return state() == rq::LineState::Running; }));
    h.bus().clear();
    auto t0 = Clock::now();
    ASSERT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_DISCONNECT, {}, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(state(), 0);
    ASSERT_TRUE(waitFor([&] { return !h.bus().writesTo(reg(0x7FC)).empty(); }));
    EXPECT_LE(h.bus().writesTo(reg(0x7FC))[0].when - t0, 60ms + kLate);
    EXPECT_EQ(h.bus().writesTo(reg(0x000)).size(), 1u);
    EXPECT_TRUE(h.bus().writesTo(reg(0x400)).empty());  // registers outside the areas stay
    // And the sequence has stopped: well after the clearing step the record
    // holds that one step alone (one store to the command register).
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(h.bus().writesTo(reg(0x44C)).size(), 1u);
    EXPECT_EQ(h.bus().writesTo(reg(0x000)).size(), 1u);
}

TEST_F(Sequence, ANewConnectRestartsARunningSequence) {
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "1", 1), STATUS_SUCCESS);
    ASSERT_TRUE(waitFor([&] { return state() == rq::LineState::Running; }));
    h.bus().clear();
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT_LF, "9", 3), STATUS_SUCCESS);
    ASSERT_TRUE(waitFor([&] { return !h.bus().writesTo(reg(0x498)).empty(); }));
    EXPECT_EQ(h.bus().writesTo(reg(0x498))[0].value & 0xFFFF, 0x8309u);
    ASSERT_TRUE(waitFor([&] { return state() == rq::LineState::Running; }));
}

}  // namespace
}  // namespace kalvo::drivertest
