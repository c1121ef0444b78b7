// The ADA calls end to end: libKalvo with the real board library against a
// device host serving the example folder, whose ADA_1 (station 2, channels
// on words 0-3) is the simulated analog unit. Its inputs follow its outputs
// ("wired") until set; faults make it never answer ("silent") or never
// return to data mode ("stuck").
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "tests/support/api_test_folder.h"
#include "tests/support/sample_network_host.h"

namespace kalvo::apitest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The board line's timeout multiplier in these tests: a command waits up to
// 2 x 200 ms per phase.
constexpr int kTimeOutTimes = 2;

class Ada : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(net_.started()) << net_.why();
        ASSERT_TRUE(kv_->loaded());
        ASSERT_EQ(kv_->KV_CheckBoard(1), 0) << net_.hostLog();
        ASSERT_EQ(kv_->KV_ADA_Open(1), 0);
        kv_->KV_BeginPeriod();
    }
    // The library goes first, so the board library's unload still reaches its
    // board; the host must then end cleanly (a sanitizer report would not).
    void TearDown() override {
        kv_->KV_EndPeriod();
        kv_.reset();
        EXPECT_EQ(net_.stop(), 0) << net_.hostLog();
    }

    uint16_t outputWord(int channel) {
        uint16_t word = 0xDEAD;
        EXPECT_EQ(kv_->KV_ADA_InOValueFull(1, channel, &word), 0);
        return word;
    }

    testing::IsolatedEnvironment env_;
    // Steps and protocol lines (0x08, 0x10) are logged too: some cases read
    // them as the record of what went on the line.
    SampleNetwork net_{env_, kTimeOutTimes, "FFFFFF1FH"};
    std::unique_ptr<FamilyCalls> kv_ = std::make_unique<FamilyCalls>();
};

TEST_F(Ada, OutputValuesAreClampedOrCutAndComeBackThroughTheWiring) {
    struct Row {
        bool full;
        int32_t written;
        uint16_t word;  // on the output word, and what the unit feeds back (12 bits)
    };
    const Row rows[] = {
        {false, 4096, 0x0FFF}, {false, -5, 0x0000},     {false, 1234, 1234},
        {false, 4095, 0x0FFF}, {true, 0x1FFFF, 0xFFFF}, {true, 0x0ABC, 0x0ABC},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE((row.full ? "OutValueFull " : "OutValue ") + std::to_string(row.written));
        const int32_t ret = row.full ? kv_->KV_ADA_OutValueFull(1, 2, row.written)
                                     : kv_->KV_ADA_OutValue(1, 2, row.written);
        ASSERT_EQ(ret, 0);
        EXPECT_EQ(outputWord(2), row.word);
        int32_t value = -1;
        EXPECT_EQ(kv_->KV_ADA_InOValue(1, 2, &value), 0);
        EXPECT_EQ(value, row.word & 0x0FFF);
        if (row.word & 0xE000) continue;  // a command code, not a value for the wiring
        EXPECT_TRUE(eventually([&] {
            return kv_->KV_ADA_InValue(1, 2, &value) == 0 && value == (row.word & 0x0FFF);
        })) << value;
    }
    // The other channels never saw any of it.
    EXPECT_EQ(outputWord(1), 0);
    EXPECT_EQ(outputWord(3), 0);
    // A value set at the unit arrives whole.
    ASSERT_TRUE(net_.admin().unitCommand("ADA_1", "input 3 0x5a5")) << net_.admin().lastError();
    uint16_t word = 0;
    EXPECT_TRUE(
        eventually([&] { return kv_->KV_ADA_InValueFull(1, 3, &word) == 0 && word == 0x05A5; }));
}

TEST_F(Ada, ChannelsOutsideTheUnitAreRefusedByEveryChannelCall) {
    int32_t value = 0;
    uint16_t word = 0;
    int32_t a = 0, b = 0, c = 0;
    for (int32_t channel : {0, 5, -1}) {
        SCOPED_TRACE("channel " + std::to_string(channel));
        EXPECT_EQ(kv_->KV_ADA_InValue(1, channel, &value), 3);
        EXPECT_EQ(kv_->KV_ADA_InValueFull(1, channel, &word), 3);
        EXPECT_EQ(kv_->KV_ADA_InOValue(1, channel, &value), 3);
        EXPECT_EQ(kv_->KV_ADA_InOValueFull(1, channel, &word), 3);
        EXPECT_EQ(kv_->KV_ADA_OutValue(1, channel, 1), 3);
        EXPECT_EQ(kv_->KV_ADA_OutValueFull(1, channel, 1), 3);
        EXPECT_EQ(kv_->KV_ADA_SetFilter(1, channel, 0, 0, 0), 3);
        EXPECT_EQ(kv_->KV_ADA_GetFilter(1, channel, &a, &b, &c), 3);
        EXPECT_EQ(kv_->KV_ADA_GetInRange(1, channel, &a), 3);
        EXPECT_EQ(kv_->KV_ADA_GetOutRange(1, channel, &a), 3);
        EXPECT_EQ(kv_->KV_ADA_PutCmd(1, channel, 0x4000, 0, &word), 3);
    }
    // No command sequence started.
    EXPECT_FALSE(logHas(env_.workDir(), "PutCommand: Start"));
    // Missing out-pointers are refused, not followed; an unopened unit is 2.
    EXPECT_EQ(kv_->KV_ADA_InValue(1, 1, nullptr), 3);
    EXPECT_EQ(kv_->KV_ADA_GetVersion(1, nullptr), 3);
    EXPECT_EQ(kv_->KV_ADA_InValue(2, 1, &value), 2);
    EXPECT_EQ(kv_->KV_ADA_InValue(0, 1, &value), 9);
}

TEST_F(Ada, CommandsAreAnsweredAndTheOutputValueIsBackAfterEach) {
    ASSERT_TRUE(net_.admin().unitCommand("ADA_1", "in-range 2 3"));
    ASSERT_TRUE(net_.admin().unitCommand("ADA_1", "out-range 2 5"));
    ASSERT_EQ(kv_->KV_ADA_OutValue(1, 2, 0x321), 0);

    // filter 0xFF, max-min 0xFF, sample 0xFF: only their own bits, 0xFF.
    EXPECT_EQ(kv_->KV_ADA_SetFilter(1, 2, 0xFF, 0xFF, 0xFF), 0);
    EXPECT_TRUE(logHas(env_.workDir(), "ADA(1): PutCommand: Set Command: Ch(2)-Cmd(80ffh)"));
    int32_t filter = -1, maxMin = -1, sample = -1, range = -1, version = -1;
    EXPECT_EQ(kv_->KV_ADA_GetFilter(1, 2, &filter, &maxMin, &sample), 0);
    EXPECT_EQ(filter, 0xE0);
    EXPECT_EQ(maxMin, 0x10);
    EXPECT_EQ(sample, 0x0F);
    EXPECT_EQ(kv_->KV_ADA_SetFilter(1, 2, 0x40, 0, 3), 0);
    EXPECT_EQ(kv_->KV_ADA_GetFilter(1, 2, &filter, &maxMin, &sample), 0);
    EXPECT_EQ(filter, 0x40);
    EXPECT_EQ(maxMin, 0);
    EXPECT_EQ(sample, 3);
    EXPECT_EQ(kv_->KV_ADA_GetInRange(1, 2, &range), 0);
    EXPECT_EQ(range, 0x300);
    EXPECT_EQ(kv_->KV_ADA_GetOutRange(1, 2, &range), 0);
    EXPECT_EQ(range, 0x500);
    uint16_t reply = 0;
    EXPECT_EQ(kv_->KV_ADA_PutCmd(1, 2, 0x6000, 0, &reply), 0);
    EXPECT_EQ(reply, 0x6500);

    // The version is always asked on channel 1 of the four.
    EXPECT_EQ(kv_->KV_ADA_GetVersion(1, &version), 0);
    EXPECT_EQ(version, 0xE103);
    EXPECT_TRUE(logHas(env_.workDir(), "ADA(1): PutCommand: Start: Ch(1)-Cmd(e000h)-Para(0h)"));
    EXPECT_TRUE(logHas(env_.workDir(), "ADA(1) KV_ADA_GetVersion: Ch(1)-Version(e103h): Ret(0h)"));

    EXPECT_EQ(outputWord(2), 0x321);
    EXPECT_EQ(outputWord(1), 0);
    int32_t value = -1;
    EXPECT_TRUE(
        eventually([&] { return kv_->KV_ADA_InValue(1, 2, &value) == 0 && value == 0x321; }));
}

// The unit does not answer: the command gives 0x11 after about the multiplier
// times 200 ms, and the channel's output holds the application's value again.
TEST_F(Ada, AUnitThatNeverAnswersTimesOutAndTheOutputValueIsRestored) {
    struct Row {
        const char* why;
        bool silent;
        int32_t command;
    };
    const Row rows[] = {
        {"silent unit", true, 0x4000},
        {"code with bits outside the top three", false, 0x4100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        ASSERT_TRUE(net_.admin().setUnitSilent("ADA_1", row.silent));
        ASSERT_EQ(kv_->KV_ADA_OutValue(1, 1, 0x0777), 0);
        uint16_t reply = 0xBEEF;
        const auto start = Clock::now();
        EXPECT_EQ(kv_->KV_ADA_PutCmd(1, 1, row.command, 0, &reply), 0x11);
        const auto waited = Clock::now() - start;
        EXPECT_GE(waited, kTimeOutTimes * 200ms);
        EXPECT_LT(waited, 10s);
        EXPECT_EQ(reply, 0xBEEF);
        EXPECT_EQ(outputWord(1), 0x0777);
    }
    int32_t range = -7;
    ASSERT_TRUE(net_.admin().setUnitSilent("ADA_1", true));
    EXPECT_EQ(kv_->KV_ADA_GetInRange(1, 1, &range), 0x11);
    EXPECT_EQ(range, -7);
    EXPECT_TRUE(logHas(env_.workDir(), "ADA(1): WaitReply: NG: Ch(1)-Cmd(16384)"));
    ASSERT_TRUE(net_.admin().setUnitSilent("ADA_1", false));
    EXPECT_EQ(kv_->KV_ADA_GetInRange(1, 1, &range), 0);
}

// The texts are read by people and tools: a scripted run writes exactly
// these lines (levels 0x01-0x10).
TEST_F(Ada, AScriptedRunWritesExactlyTheseLines) {
    int32_t value = 0;
    uint16_t word = 0;
    kv_->KV_ADA_OutValue(1, 1, 5000);
    kv_->KV_ADA_OutValueFull(1, 2, 0x10ABC);
    kv_->KV_ADA_InOValue(1, 1, &value);
    kv_->KV_ADA_InOValueFull(1, 2, &word);
    kv_->KV_ADA_InValue(1, 5, &value);
    kv_->KV_ADA_SetFilter(1, 3, 0xFF, 0xFF, 0xFF);
    kv_->KV_ADA_GetVersion(1, &value);
    kv_->KV_ADA_Close(1);
    const std::vector<std::string> expected = {
        "**   ADA(1)--- KV_ADA_Open",
        "##    ADA(1)-ADA: Board(1)-Line(1)-BaseId(2)-UseId(4): OffsetId(0,1,2,3)",
        "++     ADA(1): CheckInfo: MaxChan(4)",
        "++     ADA(1): CreateSemaphore: OK: Ch(1)-Name(KVADA(1)Smph00)",
        "++     ADA(1): CreateSemaphore: OK: Ch(2)-Name(KVADA(1)Smph01)",
        "++     ADA(1): CreateSemaphore: OK: Ch(3)-Name(KVADA(1)Smph02)",
        "++     ADA(1): CreateSemaphore: OK: Ch(4)-Name(KVADA(1)Smph03)",
        "##    ADA(1) KV_ADA_Open End: Ret(0h)",
        "**   ADA(1) KV_ADA_OutValue: Ch(1)-OutValue(1388h): Ret(0h)",
        "**   ADA(1) KV_ADA_OutValueFull: Ch(2)-OutData(abch): Ret(0h)",
        "**   ADA(1) KV_ADA_InOValue: Ch(1)-InValue(fffh): Ret(0h)",
        "**   ADA(1) KV_ADA_InOValueFull: Ch(2)-InData(abch): Ret(0h)",
        "**   ADA(1) KV_ADA_InValue: Ch(5)-InValue(0h): Ret(3h)",
        "++     ADA(1): PutCommand: Start: Ch(3)-Cmd(8000h)-Para(ffh)",
        "--      ADA(1): PutCommand: Keep Current Data: Ch(3)-Data(0h)",
        "--      ADA(1): PutCommand: Set Command: Ch(3)-Cmd(80ffh)",
        "--      ADA(1): WaitReply: OK: Ch(3)-Cmd(32768)-pRet(8000h)",
        "--      ADA(1): PutCommand: Restore Current Data: Ch(3)-Data(0h)",
        "--      ADA(1): WaitReply: OK: Ch(3)-Cmd(0)-pRet(0h)",
        "++     ADA(1): PutCommand: End: Ch(3)-Cmd(8000h)-Para(ffh)-pRet(8000h)",
        "**   ADA(1) KV_ADA_SetFilter: Ch(3)-Filter(ffh)-MaxMin(ffh)-Sample(255): Ret(0h)",
        "++     ADA(1): PutCommand: Start: Ch(1)-Cmd(e000h)-Para(0h)",
        "--      ADA(1): PutCommand: Keep Current Data: Ch(1)-Data(fffh)",
        "--      ADA(1): PutCommand: Set Command: Ch(1)-Cmd(e000h)",
        "--      ADA(1): WaitReply: OK: Ch(1)-Cmd(57344)-pRet(e103h)",
        "--      ADA(1): PutCommand: Restore Current Data: Ch(1)-Data(fffh)",
        "--      ADA(1): WaitReply: OK: Ch(1)-Cmd(0)-pRet(fffh)",
        "++     ADA(1): PutCommand: End: Ch(1)-Cmd(e000h)-Para(0h)-pRet(e103h)",
        "**   ADA(1) KV_ADA_GetVersion: Ch(1)-Version(e103h): Ret(0h)",
        "**   ADA(1)--- KV_ADA_Close",
        "--      ADA(1): DestroySemaphore: Ch(1)",
        "--      ADA(1): DestroySemaphore: Ch(2)",
        "--      ADA(1): DestroySemaphore: Ch(3)",
        "--      ADA(1): DestroySemaphore: Ch(4)",
        "##    ADA(1) KV_ADA_Close End: Ret(0h)",
    };
    std::vector<std::string> lines;
    for (const auto& line : logLines(env_.work()))
        if (line.find("ADA(") != std::string::npos) lines.push_back(line);
    EXPECT_EQ(lines, expected);
}

// A negative multiplier in Kalvo.ini is no reason to wait for weeks: the
// command looks once and gives 0x11.
TEST(AdaTimeOut, ANegativeMultiplierWaitsNotAtAll) {
    testing::IsolatedEnvironment env;
    SampleNetwork net(env, -1);
    ASSERT_TRUE(net.started()) << net.why();
    FamilyCalls kv;
    ASSERT_EQ(kv.KV_ADA_Open(1), 0);
    ASSERT_TRUE(net.admin().setUnitSilent("ADA_1", true));
    uint16_t reply = 0;
    const auto start = Clock::now();
    EXPECT_EQ(kv.KV_ADA_PutCmd(1, 1, 0x4000, 0, &reply), 0x11);
    EXPECT_LT(Clock::now() - start, 5s);
}

// The unit answers but keeps its reply on the input word: 0x11 from the
// data-mode wait, the reply word still handed back.
TEST_F(Ada, AUnitThatNeverReturnsToDataModeTimesOutWithTheReplyStored) {
    ASSERT_TRUE(net_.admin().unitCommand("ADA_1", "stuck 4 on"));
    ASSERT_TRUE(net_.admin().unitCommand("ADA_1", "in-range 4 2"));
    ASSERT_EQ(kv_->KV_ADA_OutValue(1, 4, 0x0100), 0);
    uint16_t reply = 0;
    EXPECT_EQ(kv_->KV_ADA_PutCmd(1, 4, 0x4000, 0, &reply), 0x11);
    EXPECT_EQ(reply, 0x4200);
    EXPECT_EQ(outputWord(4), 0x0100);
    int32_t range = -7;
    EXPECT_EQ(kv_->KV_ADA_GetInRange(1, 4, &range), 0x11);
    EXPECT_EQ(range, -7);  // out-values only on success
    ASSERT_TRUE(net_.admin().unitCommand("ADA_1", "stuck 4 off"));
    EXPECT_EQ(kv_->KV_ADA_GetInRange(1, 4, &range), 0);
    EXPECT_EQ(range, 0x200);
}

// A command code found on the output word (a sequence cut short, or a value
// the unit takes for a command) is not put back: the channel returns to data
// mode with the code's bits cleared instead of staying in command phase.
TEST_F(Ada, ACommandCodeLeftOnTheOutputIsNotPutBack) {
    ASSERT_EQ(kv_->KV_ADA_OutValueFull(1, 3, 0x4123), 0);
    uint16_t reply = 0;
    EXPECT_EQ(kv_->KV_ADA_PutCmd(1, 3, 0x6000, 0, &reply), 0);
    EXPECT_EQ(outputWord(3), 0x0123);
    int32_t value = -1;
    EXPECT_TRUE(
        eventually([&] { return kv_->KV_ADA_InValue(1, 3, &value) == 0 && value == 0x123; }));
}

}  // namespace
}  // namespace kalvo::apitest
