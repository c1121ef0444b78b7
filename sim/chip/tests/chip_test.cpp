// The chip model stepped by hand against a simulated board, with the test
// writing the window as the driver and the master's library would.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sim/chip/chip.h"
#include "sim/chip/chip_map.h"
#include "sim/simulated_hardware.h"

namespace kalvo::sim::chip {
namespace {

// Counts its exchanges and answers output word 0 + 1 on input word 0.
class CountingUnit final : public RemoteUnit {
  public:
    explicit CountingUnit(std::vector<int> offsets) : offsets_(std::move(offsets)) {}
    std::string_view family() const override { return "DIO"; }
    const std::vector<int>& offsets() const override { return offsets_; }
    void exchange(StationPort& port, const CycleInfo& cycle) override {
        ++exchanges;
        lastCycle = cycle.cycle;
        for (int o : offsets_) port.setInput(o, static_cast<uint16_t>(port.output(o) + 1));
    }
    void communicationLost() override { ++losses; }
    std::string describe() const override { return "counting"; }
    std::string control(const std::vector<std::string>&) override { return {}; }
    std::string help() const override { return {}; }

    std::atomic<int> exchanges{0};
    std::atomic<int> losses{0};
    std::atomic<uint64_t> lastCycle{0};

  private:
    std::vector<int> offsets_;
};

class ChipTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        hw_ = SimulatedHardware::create({BoardSpec{"tolva", 0, {}}}, &error);
        ASSERT_TRUE(hw_) << error;
        w_ = hw_->memoryWindow(0);
        chip_ = std::make_unique<Chip>(0, w_, hw_->controlWindow(0));
        hw_->setResetHandler(0, [this](size_t) { chip_->reset(); });
    }
    void TearDown() override {
        if (hw_) hw_->setResetHandler(0, nullptr);
    }

    template <class T>
    T load(uint32_t at) {
        return std::atomic_ref<T>(*reinterpret_cast<T*>(w_ + at)).load();
    }
    template <class T>
    void store(uint32_t at, T v) {
        std::atomic_ref<T>(*reinterpret_cast<T*>(w_ + at)).store(v);
    }
    void step(int n = 1) {
        for (int i = 0; i < n; ++i) chip_->step(1000);
    }
    // The end of the driver's connect sequence: station register, then start.
    void startLine(uint16_t first, uint16_t size) {
        store<uint16_t>(kStationRegister, static_cast<uint16_t>(first | size << 8));
        store<uint32_t>(kCommand, kCommandStart);
        step();
    }
    void station(int address, int count = 1, bool echo = false) {
        chip_->addStation(StationDescription{address, count, "TST", echo},
                          echo ? makeEchoPeer(address) : nullptr);
    }
    // Named family_1; the test keeps its own reference past a removal.
    std::shared_ptr<CountingUnit> unit(std::string family, int at, std::vector<int> offsets,
                                       bool hold = false) {
        auto u = std::make_shared<CountingUnit>(offsets);
        chip_->addUnit(UnitDescription{family, 1, "", at, offsets, hold}, u);
        return u;
    }
    uint64_t condition() { return load<uint64_t>(kStationCondition); }
    uint16_t gmWord(int word) { return load<uint16_t>(kGmArea + 2 * word); }

    std::unique_ptr<SimulatedHardware> hw_;
    uint8_t* w_ = nullptr;
    std::unique_ptr<Chip> chip_;
};

TEST_F(ChipTest, StartSetsTheRunningBitAndZeroStopsTheLine) {
    store<uint32_t>(kCommand, kCommandSetUp);
    step(3);
    EXPECT_EQ(load<uint32_t>(kCommand), kCommandSetUp) << "set-up alone does not run the line";
    EXPECT_FALSE(chip_->running());

    startLine(0, 32);
    EXPECT_EQ(load<uint32_t>(kCommand), kCommandStart | kCommandRunning);
    EXPECT_TRUE(chip_->running());

    // The driver's supervision re-reads it every tick; a stray clear of the
    // running bit alone is put back.
    store<uint32_t>(kCommand, kCommandStart);
    step();
    EXPECT_EQ(load<uint32_t>(kCommand), kCommandStart | kCommandRunning);

    store<uint32_t>(kCommand, 0);
    step();
    EXPECT_FALSE(chip_->running());
    EXPECT_EQ(load<uint32_t>(kCommand), 0u);

    auto trace = chip_->traceRing().last(20);
    std::string all;
    for (auto& l : trace) all += l + "\n";
    EXPECT_NE(all.find("set-up"), std::string::npos) << all;
    EXPECT_NE(all.find("line started: master 0, 32 addresses"), std::string::npos) << all;
    EXPECT_NE(all.find("line stopped"), std::string::npos) << all;
    EXPECT_NE(all.find("station register 0x2000"), std::string::npos) << all;
}

// The units' communication watchdog: the line stopping drops the outputs at
// once, a station not served for the watchdog time drops them too, a unit
// configured to hold keeps them; each loss is taken once until the unit is
// served again.
TEST_F(ChipTest, TheWatchdogDropsOutputsWhenTheLineStopsOrTheStationIsNotServed) {
    struct Case {
        const char* what;
        bool hold;
        bool stopLine;  // else the unit is silenced past the watchdog time
        int losses;
    };
    const Case cases[] = {
        {"line stops", false, true, 1},
        {"line stops, hold", true, true, 0},
        {"not served", false, false, 1},
        {"not served, hold", true, false, 0},
    };
    for (const Case& c : cases) {
        chip_ = std::make_unique<Chip>(0, w_, hw_->controlWindow(0));
        station(3);
        auto u = unit("DIO", 3, {0}, c.hold);
        startLine(0, 32);
        step(2);
        ASSERT_GT(u->exchanges.load(), 0) << c.what;
        EXPECT_EQ(u->losses.load(), 0) << c.what;
        if (c.stopLine) {
            store<uint32_t>(kCommand, 0);
            step();
        } else {
            chip_->setUnitSilent("DIO_1", true);
            step();
            std::this_thread::sleep_for(Chip::kWatchdogTime + std::chrono::milliseconds(10));
            step();
        }
        step(3);
        EXPECT_EQ(u->losses.load(), c.losses) << c.what;
        if (!c.stopLine) {
            // Served again: the watchdog is armed anew.
            chip_->setUnitSilent("DIO_1", false);
            step();
            std::this_thread::sleep_for(Chip::kWatchdogTime + std::chrono::milliseconds(10));
            chip_->setUnitSilent("DIO_1", true);
            step(2);
            EXPECT_EQ(u->losses.load(), c.losses * 2) << c.what;
        }
        store<uint32_t>(kCommand, 0);
        step();
    }
}

// The board driver's connect sequence, tick by tick (a tick is 10 cycles),
// with the library's baud bits already in the station register; then its
// disconnect.
TEST_F(ChipTest, TheDriversConnectSequenceBringsTheLineUpAndItsDisconnectStopsIt) {
    station(5, 2);
    store<uint16_t>(kStationRegister, 0x00C0);
    auto tick = [&] { step(10); };
    auto clearWords = [&](uint32_t from, uint32_t words) {
        for (uint32_t i = 0; i < words; ++i) store<uint32_t>(from + 4 * i, 0);
    };
    store<uint32_t>(kCommand, 0);  // state 1
    store<uint32_t>(kMailRegister, 0x700);
    clearWords(0, 284);
    tick();
    tick();
    store<uint32_t>(kCommand, 0);  // state 2
    store<uint32_t>(kMailRegister, 0x700);
    tick();
    tick();
    store<uint32_t>(kCommand, kCommandSetUp);  // state 1000
    tick();
    tick();
    const uint32_t value = (load<uint32_t>(kStationRegister) & 0xC0C0) | 0 | 32 << 8;
    store<uint32_t>(kStationRegister, value);  // state 1001
    tick();
    store<uint32_t>(kCommand, 0);  // state 1002
    tick();
    store<uint32_t>(kCommand, kCommandStart);  // state 1003, then 5 ticks to wait
    for (int i = 0; i < 6; ++i) tick();
    EXPECT_NE(load<uint32_t>(kCommand) & kCommandRunning, 0u) << "state 1004 finds it running";
    EXPECT_EQ(condition(), (1ull << 37) | (1ull << 38));
    EXPECT_EQ(load<uint16_t>(kStationRegister) & kStationBaudMask, 0xC0) << "baud bits kept";

    store<uint32_t>(kCommand, 0);  // disconnect: state 0
    clearWords(0, 256);
    clearWords(kMailSendBuffer, 192);
    tick();
    EXPECT_FALSE(chip_->running());
    EXPECT_EQ(condition(), 0u);
    EXPECT_EQ(load<uint64_t>(kSlotArea + 8 * 5), 0u);
}

TEST_F(ChipTest, ChkcChangesEveryCycleAndWriteCountIsTaken) {
    step(2);
    EXPECT_EQ(load<uint16_t>(kChkc), 0) << "a stopped line does not count";
    startLine(0, 32);
    uint16_t previous = load<uint16_t>(kChkc);
    EXPECT_NE(previous, 0);
    for (int i = 0; i < 5; ++i) {
        store<uint16_t>(kWriteCount, 8);
        step();
        EXPECT_EQ(load<uint16_t>(kWriteCount), 0);
        const uint16_t now = load<uint16_t>(kChkc);
        EXPECT_NE(now, previous);
        EXPECT_NE(now, 0);
        previous = now;
    }
    // Stopped: the write count is still taken, CHKC stands still.
    store<uint32_t>(kCommand, 0);
    step();
    const uint16_t frozen = load<uint16_t>(kChkc);
    store<uint16_t>(kWriteCount, 3);
    step(2);
    EXPECT_EQ(load<uint16_t>(kWriteCount), 0);
    EXPECT_EQ(load<uint16_t>(kChkc), frozen);
}

TEST_F(ChipTest, ConditionBitsFollowStationsAndTheServedRange) {
    station(3, 2);
    station(10);
    station(20);
    step();
    EXPECT_EQ(condition(), 0u) << "nothing answers before the line runs";

    startLine(0, 11);  // addresses 0..10
    EXPECT_EQ(condition(), (1ull << 35) | (1ull << 36) | (1ull << 42));

    ASSERT_TRUE(chip_->setStationOnline(3, false));
    step();
    EXPECT_EQ(condition(), 1ull << 42);
    ASSERT_TRUE(chip_->setStationOnline(3, true));
    step();
    EXPECT_EQ(condition(), (1ull << 35) | (1ull << 36) | (1ull << 42));

    // A station with one address outside the range does not answer at all.
    store<uint16_t>(kStationRegister, 4 | 20 << 8);  // addresses 4..23
    step();
    EXPECT_EQ(condition(), (1ull << 42) | (1ull << 52));

    chip_->removeStation(10);
    step();
    EXPECT_EQ(condition(), 1ull << 52);

    store<uint32_t>(kCommand, 0);
    step();
    EXPECT_EQ(condition(), 0u);
    EXPECT_FALSE(chip_->setStationOnline(7, false));
}

TEST_F(ChipTest, SlotsOfAnsweringStationsCarryTheirRecordButNeverTheMastersOwn) {
    station(0);
    chip_->addStation(StationDescription{5, 2, "DIO16X", false}, nullptr);
    store<uint64_t>(kSlotArea, 0x1122334455667788ull);  // the master's own slot
    startLine(0, 32);
    EXPECT_EQ(load<uint64_t>(kSlotArea), 0x1122334455667788ull);
    const uint64_t expected = 0x0205'5836'314F'4944ull;  // "DIO16X", head 5, 2 addresses
    EXPECT_EQ(load<uint64_t>(kSlotArea + 8 * 5), expected);
    EXPECT_EQ(load<uint64_t>(kSlotArea + 8 * 6), expected);
    chip_->setStationOnline(5, false);
    step();
    EXPECT_EQ(load<uint64_t>(kSlotArea + 8 * 5), 0u);
    EXPECT_EQ(load<uint64_t>(kSlotArea + 8 * 6), 0u);
}

TEST_F(ChipTest, UnitsAreExchangedOnlyWhileTheirStationAnswersAndTheyAreNotSilent) {
    station(2, 2);
    auto a = unit("A", 2, {0, 1});
    auto b = unit("B", 3, {2});
    store<uint16_t>(kGmArea + 2 * 8, 41);   // output word 0 of station 2
    store<uint16_t>(kGmArea + 2 * 14, 99);  // output word 2 of station 3
    step(3);
    EXPECT_EQ(a->exchanges, 0);

    startLine(0, 32);
    step(2);
    EXPECT_EQ(a->exchanges, 3);
    EXPECT_EQ(a->lastCycle, 3u) << "cycles count from the line's start";
    EXPECT_EQ(gmWord(4 * 34), 42);       // input word 0 of station 2
    EXPECT_EQ(gmWord(4 * 35 + 2), 100);  // input word 2 of station 3

    ASSERT_TRUE(chip_->setUnitSilent("A_1", true));
    step(2);
    EXPECT_EQ(a->exchanges, 3);
    EXPECT_EQ(b->exchanges, 5) << "a silent unit does not silence its neighbour";
    EXPECT_NE(condition() & (1ull << 34), 0u) << "its station still answers";
    chip_->setUnitSilent("A_1", false);

    chip_->setStationOnline(2, false);
    step(2);
    EXPECT_EQ(a->exchanges, 3);
    EXPECT_EQ(b->exchanges, 5);

    chip_->setStationOnline(2, true);
    EXPECT_EQ(chip_->removeStation(2), (std::vector<std::string>{"A_1", "B_1"}));
    EXPECT_FALSE(chip_->hasUnit("A_1"));
    step();
    EXPECT_EQ(a->exchanges, 3) << "removed units are no longer exchanged";
}

TEST_F(ChipTest, APortNeverReachesOutsideItsHalfOfTheGmArea) {
    station(31);
    // Offsets 4..7 of station 31 lie beyond the output half and the whole GM
    // area for inputs.
    auto u = unit("EDGE", 31, {0, 4, 7});
    store<uint16_t>(kGmArea + 2 * 124, 7);
    store<uint16_t>(kGmArea + 2 * 128, 0x5555);  // station 0's input word 0
    startLine(0, 32);
    EXPECT_EQ(u->exchanges, 1);
    EXPECT_EQ(gmWord(4 * 63), 8);
    EXPECT_EQ(gmWord(128), 0x5555) << "offset 4 of station 31 must not wrap into another block";
    EXPECT_EQ(load<uint16_t>(0x400), 0) << "nothing written past the GM area";
}

TEST_F(ChipTest, AChipResetStopsTheLineAndClearsItsAreas) {
    station(1);
    startLine(0, 32);
    store<uint16_t>(kGmArea + 2 * 4, 0x1234);
    store<uint16_t>(kMailReceiveBuffer2, 0x77);
    ASSERT_TRUE(chip_->running());

    hw_->resetChip(0);
    EXPECT_FALSE(chip_->running());
    EXPECT_EQ(load<uint16_t>(kGmArea + 2 * 4), 0);
    EXPECT_EQ(load<uint16_t>(kMailReceiveBuffer2), 0);
    EXPECT_EQ(condition(), 0u);
    EXPECT_EQ(load<uint16_t>(kBoardIdOffset), hw_->boardId(0)) << "the board ID is not the chip's";
    step(2);
    EXPECT_FALSE(chip_->running()) << "the line stays down until the next start";
    EXPECT_EQ(condition(), 0u);

    // While the control register holds the chip in reset, a start waits.
    auto control = std::atomic_ref<uint32_t>(
        *reinterpret_cast<uint32_t*>(hw_->controlWindow(0) + kControlRegister));
    control.store(kControlResetBit);
    startLine(0, 32);
    EXPECT_FALSE(chip_->running());
    control.store(0);
    step();
    EXPECT_TRUE(chip_->running());
}

// ---- Mail ------------------------------------------------------------------

class ChipMailTest : public ChipTest {
  protected:
    void SetUp() override {
        ChipTest::SetUp();
        station(1);
        station(4, 1, true);  // the echo station
        station(6);
        enable(1);
        enable(2);
        startLine(0, 32);
    }
    void enable(int buffer) {
        store<uint16_t>(buffer == 1 ? kReceiveControl1 : kReceiveControl2, kReceiveEnabled);
    }
    uint16_t receiveControl(int buffer) {
        return load<uint16_t>(buffer == 1 ? kReceiveControl1 : kReceiveControl2);
    }
    // As the master's library sends: status 0, data, then the request.
    void send(int destination, const std::string& text) {
        store<uint16_t>(kMailStatus, 0);
        for (size_t i = 0; i < text.size(); ++i) w_[kMailSendBuffer + i] = uint8_t(text[i]);
        const int blocks = static_cast<int>((text.size() - 1) / 8 + 1);
        store<uint16_t>(kMailControl, static_cast<uint16_t>(0x4000 + destination * 256 + blocks));
    }
    std::string received(int buffer, size_t length) {
        const uint8_t* at = w_ + (buffer == 1 ? kMailReceiveBuffer1 : kMailReceiveBuffer2);
        return std::string(reinterpret_cast<const char*>(at), length);
    }
};

TEST_F(ChipMailTest, AMailToTheEchoStationComesBackFromItsAddress) {
    send(4, "hello, echo");  // 11 bytes: two blocks
    step();
    EXPECT_NE(load<uint16_t>(kMailControl) & kMailSendRequest, 0) << "carried a cycle later";
    step();
    EXPECT_EQ(load<uint16_t>(kMailControl) & kMailSendRequest, 0);
    EXPECT_EQ(load<uint16_t>(kMailStatus), kMailStatusSent);
    EXPECT_EQ(receiveControl(1), kReceiveFull | kReceiveEnabled | 4 << 8 | 2);
    EXPECT_EQ(received(1, 11), "hello, echo");
    EXPECT_EQ(receiveControl(2), kReceiveEnabled);
}

TEST_F(ChipMailTest, AMailNobodyTakesIsReportedAsNotAnswered) {
    struct Case {
        const char* what;
        int destination;
        std::function<void()> arrange;
    };
    const Case cases[] = {
        {"no station at the address", 9, [] {}},
        {"a station without a mail peer", 6, [] {}},
        {"an echo station off the line", 4, [this] { chip_->setStationOnline(4, false); }},
        {"an echo station marked absent", 4,
         [this] {
             chip_->setStationOnline(4, true);
             chip_->setMailAbsent(4, true);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        step();
        send(c.destination, "x");
        step(2);
        EXPECT_EQ(load<uint16_t>(kMailControl) & kMailSendRequest, 0);
        EXPECT_EQ(load<uint16_t>(kMailStatus), kMailStatusNoAnswer);
        EXPECT_EQ(receiveControl(1), kReceiveEnabled);
    }
    // A request with no blocks (or more than fit the buffer) is refused too.
    chip_->setMailAbsent(4, false);
    store<uint16_t>(kMailControl, 0x4000 | 4 << 8);
    step(2);
    EXPECT_EQ(load<uint16_t>(kMailStatus), kMailStatusNoAnswer);
    store<uint16_t>(kMailControl, 0x4000 | 4 << 8 | 33);
    step(2);
    EXPECT_EQ(load<uint16_t>(kMailStatus), kMailStatusNoAnswer);
    EXPECT_EQ(receiveControl(1), kReceiveEnabled);

    // With the line stopped nobody answers, but the request still ends.
    store<uint32_t>(kCommand, 0);
    send(4, "x");
    step(2);
    EXPECT_EQ(load<uint16_t>(kMailStatus), kMailStatusNoAnswer);
    EXPECT_EQ(load<uint16_t>(kMailControl) & kMailSendRequest, 0);
}

TEST_F(ChipMailTest, MailWaitsInTheChipWhileBothBuffersAreFullAndArrivesInOrder) {
    const std::string texts[] = {"first", "second", "third!!!", "fourth"};
    for (const auto& text : texts) {
        send(4, text);
        step(2);
        EXPECT_EQ(load<uint16_t>(kMailStatus), kMailStatusSent);
    }
    EXPECT_EQ(received(1, 5), "first");
    EXPECT_EQ(received(2, 6), "second");
    EXPECT_NE(receiveControl(2) & kReceiveFull, 0);
    EXPECT_NE(chip_->describe().find("2 mail(s) wait in the chip"), std::string::npos);

    // A disabled buffer takes nothing; re-enabling buffer 2 takes the next one.
    store<uint16_t>(kReceiveControl1, 0);
    step(3);
    EXPECT_EQ(receiveControl(1), 0);
    enable(2);
    step();
    EXPECT_EQ(receiveControl(2), kReceiveFull | kReceiveEnabled | 4 << 8 | 1);
    EXPECT_EQ(received(2, 8), "third!!!");
    enable(1);
    step();
    EXPECT_EQ(received(1, 6), "fourth");
    EXPECT_EQ(receiveControl(1), kReceiveFull | kReceiveEnabled | 4 << 8 | 1);
}

TEST_F(ChipMailTest, AResetDropsTheMailThatWaits) {
    for (int i = 0; i < 3; ++i) {
        send(4, "m");
        step(2);
    }
    hw_->resetChip(0);
    enable(1);
    enable(2);
    step(2);
    EXPECT_EQ(receiveControl(1), kReceiveEnabled);
    EXPECT_EQ(receiveControl(2), kReceiveEnabled);
}

TEST_F(ChipMailTest, TheChipHoldsABoundedNumberOfWaitingMails) {
    for (size_t i = 0; i < kMailQueueLimit + 2; ++i) {
        send(4, "m");
        step(2);
    }
    // Two in the buffers, the limit waiting, and the next send refused.
    send(4, "m");
    step(2);
    EXPECT_EQ(load<uint16_t>(kMailStatus), kMailStatusNoAnswer);
    EXPECT_NE(chip_->describe().find(std::to_string(kMailQueueLimit) + " mail(s) wait"),
              std::string::npos);
}

}  // namespace
}  // namespace kalvo::sim::chip
