#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <regex>

#include "sim/units/remote_unit.h"
#include "sim/units/tests/fake_station_port.h"

namespace kalvo::sim {
namespace {

using testing::CycleDriver;
using testing::FakeStationPort;

// Channel 2 of a unit on offsets 0-7: block at words 4..7.
constexpr int kBlock = 4;

class SioUnitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        unit = makeRemoteUnit("SIO", {0, 1, 2, 3, 4, 5, 6, 7}, "", &error);
        ASSERT_NE(unit, nullptr) << error;
        cycles = std::make_unique<CycleDriver>(*unit, port);
    }
    uint16_t control() const { return port.out[kBlock + 3]; }
    uint16_t status() const { return port.in[kBlock + 3]; }
    void setControl(uint16_t value) { port.out[kBlock + 3] = value; }
    // Runs cycles until the status shows any of the bits (or the limit).
    bool waitStatus(uint16_t bits, bool set, int limit = 100) {
        for (int i = 0; i < limit; ++i) {
            if (((status() & bits) != 0) == set) return true;
            cycles->run();
        }
        return ((status() & bits) != 0) == set;
    }
    // The master's send of one block: bytes and count, then the request,
    // then the acknowledge (or the send error), then the request cleared.
    enum class Sent { ok, error, noAck };
    Sent sendBlock(const uint8_t* bytes, int count) {
        if (!waitStatus(0x8000, false)) return Sent::noAck;
        uint64_t block = 0;
        for (int i = 0; i < count; ++i) block |= uint64_t{bytes[i]} << (8 * i);
        const uint16_t c = static_cast<uint16_t>((control() & ~0x0700) | (count << 8));
        port.writeBlock(kBlock, block | (uint64_t{c} << 48));
        cycles->run();
        setControl(control() | 0x8000);
        Sent outcome = Sent::noAck;
        for (int i = 0; i < 100 && outcome == Sent::noAck; ++i) {
            cycles->run();
            if (status() & 0x1000)
                outcome = Sent::error;
            else if (status() & 0x8000)
                outcome = Sent::ok;
        }
        setControl(control() & ~0x8000);
        cycles->run();
        return outcome;
    }
    // Sends a message six bytes at a time; the number of bytes taken.
    size_t send(const std::string& text) {
        size_t done = 0;
        while (done < text.size()) {
            const int count = static_cast<int>(std::min<size_t>(6, text.size() - done));
            if (sendBlock(reinterpret_cast<const uint8_t*>(text.data()) + done, count) != Sent::ok)
                break;
            done += count;
        }
        return done;
    }
    // The master's receive thread: takes every block offered, with the
    // acknowledge handshake, recording each block's byte count.
    std::string receive(std::vector<int>* counts = nullptr) {
        std::string text;
        while (waitStatus(0x4000, true, 10)) {
            const int count = (status() >> 8) & 7;
            for (int i = 0; i < count; ++i)
                text += static_cast<char>(port.inputBlock(kBlock) >> (8 * i));
            if (counts) counts->push_back(count);
            setControl(control() | 0x4000);
            EXPECT_TRUE(waitStatus(0x4000, false));
            setControl(control() & ~0x4000);
        }
        return text;
    }
    void pulse(uint16_t bits) {
        setControl(control() | bits);
        cycles->run(2);
        setControl(control() & ~bits);
        cycles->run(2);
    }

    std::unique_ptr<RemoteUnit> unit;
    FakeStationPort port;
    std::unique_ptr<CycleDriver> cycles;
};

TEST_F(SioUnitTest, ThirteenBytesGoOutInBlocksOfSixSixOneAndComeBackThroughTheLoop) {
    pulse(0x0840 | 0x15);  // configuration and error reset, as the master does
    EXPECT_NE(unit->describe().find("config 0x0015"), std::string::npos) << unit->describe();
    const std::string message = "Hello, Kalvo!";
    ASSERT_EQ(message.size(), 13u);
    EXPECT_EQ(send(message), 13u);
    std::vector<int> counts;
    EXPECT_EQ(receive(&counts), message);
    EXPECT_EQ(counts, (std::vector<int>{6, 6, 1}));
    // Channel 1 saw none of it.
    EXPECT_EQ(port.in[3], 0);
}

TEST_F(SioUnitTest, ErrorsAreShownUntilTheMasterResetsThem) {
    ASSERT_EQ(unit->control({"tx-error", "2"}), "");
    const uint8_t bytes[] = {'a', 'b'};
    EXPECT_EQ(sendBlock(bytes, 2), Sent::error);
    EXPECT_EQ(status() & 0x8000, 0);
    EXPECT_EQ(receive(), "");  // the refused block was not taken
    pulse(0x0800);
    EXPECT_EQ(status() & 0x1800, 0);
    EXPECT_EQ(sendBlock(bytes, 2), Sent::ok);

    ASSERT_EQ(unit->control({"rx-error", "2"}), "");
    cycles->run();
    EXPECT_NE(status() & 0x0800, 0);
    EXPECT_EQ(receive(), "ab");  // blocks still flow; the master decides
    pulse(0x0800);
    EXPECT_EQ(status() & 0x0800, 0);
    EXPECT_NE(unit->control({"rx-error", "3"}), "");
    EXPECT_NE(unit->control({"tx-error", "2", "maybe"}), "");
    EXPECT_NE(unit->control({"pty"}), "");
    EXPECT_NE(unit->control({"baud", "1"}), "");
}

TEST_F(SioUnitTest, AFullQueueHoldsTheAcknowledgeBackAndLosesNothing) {
    std::string message;
    for (int i = 0; message.size() < 64 * 1024 + 60; ++i)
        message += static_cast<char>('A' + i % 26);
    const size_t taken = send(message);
    EXPECT_LT(taken, message.size());  // held back, not dropped
    EXPECT_GE(taken, 64u * 1024 - 6);
    std::string received = receive();
    EXPECT_EQ(send(message.substr(taken)), message.size() - taken);
    received += receive();
    EXPECT_EQ(received, message);
}

TEST_F(SioUnitTest, TheDescriptionRecordsTheByteCountsOfTheLastBlocksTaken) {
    EXPECT_NE(unit->describe().find("blocks none"), std::string::npos) << unit->describe();
    EXPECT_EQ(send("thirteen byte"), 13u);
    EXPECT_NE(unit->describe().find("blocks 6,6,1"), std::string::npos) << unit->describe();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(send("abcdef"), 6u);
    EXPECT_EQ(send("ab"), 2u);
    // Eight are kept: the oldest count has gone.
    EXPECT_NE(unit->describe().find("blocks 6,6,1,6,6,6,6,2"), std::string::npos);
    EXPECT_EQ(send("c"), 1u);
    EXPECT_NE(unit->describe().find("blocks 6,1,6,6,6,6,2,1"), std::string::npos);
}

TEST_F(SioUnitTest, APseudoTerminalCarriesBytesBothWays) {
    ASSERT_EQ(unit->control({"pty", "2"}), "");
    std::smatch match;
    const std::string description = unit->describe();
    ASSERT_TRUE(std::regex_search(description, match, std::regex("pty (/dev/pts/[0-9]+)")))
        << description;
    const int terminal = ::open(match[1].str().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(terminal, 0);

    EXPECT_EQ(send("to the terminal\n"), 16u);
    std::string seen;
    char buffer[64];
    for (int i = 0; i < 1000 && seen.size() < 16; ++i) {
        cycles->run();
        const ssize_t got = ::read(terminal, buffer, sizeof buffer);
        if (got > 0) seen.append(buffer, static_cast<size_t>(got));
    }
    EXPECT_EQ(seen, "to the terminal\n");
    EXPECT_EQ(receive(), "");  // no echo back into the line

    const std::string typed = "typed\r\n";
    ASSERT_EQ(::write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    std::string received;
    for (int i = 0; i < 100 && received.size() < typed.size(); ++i) {
        cycles->run();
        received += receive();
    }
    EXPECT_EQ(received, typed);
    ::close(terminal);

    EXPECT_EQ(unit->control({"loopback", "2"}), "");
    EXPECT_EQ(send("back"), 4u);
    EXPECT_EQ(receive(), "back");
}

}  // namespace
}  // namespace kalvo::sim
