// The AXSA calls end to end: libKalvo with the real board library against a
// device host serving the example folder, whose AXSA_1 (station 4, four jobs
// on words 0-15) is the simulated axis controller. The command blocks are
// checked in the board window itself (KV_AttachMemory), the answers as the
// unit gave them.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "tests/support/api_test_folder.h"
#include "tests/support/child_process.h"
#include "tests/support/sample_network_host.h"

namespace kalvo::apitest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kTimeOutTimes = 2;
constexpr int kStation = 4;  // AXSA_1's output station: job j's block is kStation + j - 1
constexpr int32_t kPosition = 'P', kWrite = 'W', kQuery = '?';

int pairOf(uint16_t word) {
    return word >> 14;
}
int statusPair(uint16_t status) {
    return (status >> 2) & 3;
}

class Axsa : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(net_.started()) << net_.why();
        ASSERT_TRUE(kv_->loaded());
        ASSERT_EQ(kv_->KV_CheckBoard(1), 0) << net_.hostLog();
        ASSERT_EQ(kv_->KV_AttachMemory(1, 1, &window_), 0);
        ASSERT_EQ(kv_->KV_AXSA_Open(1), 0);
        kv_->KV_BeginPeriod();
    }
    // The library goes first, so the board library's unload still reaches its
    // board; the host must then end cleanly (a sanitizer report would not).
    void TearDown() override {
        kv_->KV_EndPeriod();
        kv_.reset();
        EXPECT_EQ(net_.stop(), 0) << net_.hostLog();
    }

    // The command block of job j as the master wrote it.
    uint64_t commandBlock(int job) { return gmBlock(window_, kStation + job - 1); }

    testing::IsolatedEnvironment env_;
    SampleNetwork net_{env_, kTimeOutTimes, "FFFFFF0FH"};
    std::unique_ptr<FamilyCalls> kv_ = std::make_unique<FamilyCalls>();
    void* window_ = nullptr;
};

TEST_F(Axsa, JobsComeFromWholeGroupsOfFourOffsetsStartingOnABlock) {
    struct Row {
        std::vector<int32_t> offsets;
        int32_t openCode;
        int32_t jobs;
    };
    const Row rows[] = {
        {{0, 1, 2, 3, 4, 5, 6, 7}, 0, 2},
        {{0, 1, 2, 3, 4, 5, 6}, 0, 1},
        {{2, 3, 4, 5}, 9, 0},
        {{0, 1, 2}, 9, 0},
        {{0, 1, 2, 3, 6, 7, 8, 9}, 9, 0},
    };
    int32_t unit = 10;
    for (const Row& row : rows) {
        SCOPED_TRACE("unit " + std::to_string(unit));
        UnitPlacement p{};
        p.unit = unit;
        p.kind = 0x103;
        p.board = 1;
        p.line = 1;
        p.base = kStation;
        for (int i = 0; i < 16; ++i)
            p.offsets[i] = i < static_cast<int>(row.offsets.size()) ? row.offsets[i] : -1;
        ASSERT_EQ(kv_->KV_AXSA_OpenEx(&p), row.openCode);
        uint16_t status = 0, comErr = 0;
        for (int32_t job = 0; job <= row.jobs + 1 && row.openCode == 0; ++job) {
            const int32_t ret = kv_->KV_AXSA_Answer(unit, job, &status, &comErr);
            if (job >= 1 && job <= row.jobs)
                EXPECT_NE(ret, 3) << "job " << job;
            else
                EXPECT_EQ(ret, 3) << "job " << job;
        }
        ++unit;
    }
}

// The pair code runs 1, 2, 3, 1 over every process that drives the job; a
// command block carries it in bits 15-14 of its three words.
TEST_F(Axsa, PairCodesAdvanceOneTwoThreeOneAcrossProcesses) {
    const int expected[] = {1, 2, 3, 1, 2};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE("command " + std::to_string(i + 1));
        if (i == 1 || i == 3) {
            // Another process's command advances the same counter.
            auto child = testing::spawnChild("axsa_put_command", {"2"});
            ASSERT_EQ(child.wait(60s), 0);
        } else {
            ASSERT_EQ(kv_->KV_AXSA_PutCmd(1, 2, kPosition, 0, 0), 0);
        }
        const uint64_t block = commandBlock(2);
        for (int w = 0; w < 3; ++w) EXPECT_EQ(pairOf(blockWord(block, w)), expected[i]);
        EXPECT_EQ(blockWord(block, 3), 0);
    }
    // Job 1 has its own counter.
    ASSERT_EQ(kv_->KV_AXSA_PutCmd(1, 1, kPosition, 0, 0), 0);
    EXPECT_EQ(pairOf(blockWord(commandBlock(1), 0)), 1);
}

KALVO_CHILD(axsa_put_command) {
    FamilyCalls kv;
    if (!kv.loaded() || kv.KV_AXSA_Open(1) != 0) return 2;
    return kv.KV_AXSA_PutCmd(1, std::stoi(args.at(0)), kPosition, 0, 0) == 0 ? 0 : 1;
}

TEST_F(Axsa, CommandWordsCarryTheFunctionAndTheParameterHalves) {
    struct Row {
        const char* call;
        int32_t command, a, b;
        uint16_t w0, w1, w2;  // before the pair code is ORed in
    };
    const Row rows[] = {
        // The 28-bit parameter split into two 14-bit halves.
        {"PutCmdEx", kWrite, 5, 0x0FFFFFFF, kWrite | 0x0500, 0x3FFF, 0x3FFF},
        {"PutCmdEx", kWrite, 0x25, 0x12345, kWrite | 0x0500, 0x0004, 0x2345},
        // PutForm cuts its parameter to 16 bits first: 0x12345 is 0x2345.
        {"PutForm", kWrite, 6, 0x12345, kWrite | 0x0600, 0x0000, 0x2345},
        {"PutFormEx", kWrite, 7, 0xC001, kWrite | 0x0700, 0x0003, 0x0001},
        // PutCmd sends its values as they are, bits 15-14 ORed with the pair.
        {"PutCmd", 0x1234, 0x0ABC, 0x8001, 0x1234, 0x0ABC, 0x8001},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call + std::string(" ") + std::to_string(row.b));
        const std::string call = row.call;
        uint16_t status = 0;
        int32_t data = 0;
        if (call == "PutCmdEx") {
            ASSERT_EQ(kv_->KV_AXSA_PutCmdEx(1, 3, row.command, row.a, row.b, &status, &data), 0);
        } else if (call == "PutFormEx") {
            ASSERT_EQ(kv_->KV_AXSA_PutFormEx(1, 3, row.command, row.a, row.b, &status, &data), 0);
        } else if (call == "PutForm") {
            ASSERT_EQ(kv_->KV_AXSA_PutForm(1, 3, row.command, row.a, row.b), 0);
        } else {
            ASSERT_EQ(kv_->KV_AXSA_PutCmd(1, 3, row.command, row.a, row.b), 0);
        }
        const uint64_t block = commandBlock(3);
        const int pair = pairOf(blockWord(block, 0));
        EXPECT_NE(pair, 0);
        EXPECT_EQ(blockWord(block, 0), (pair << 14) | row.w0);
        EXPECT_EQ(blockWord(block, 1), (pair << 14) | row.w1);
        EXPECT_EQ(blockWord(block, 2), (pair << 14) | row.w2);
        EXPECT_EQ(blockWord(block, 3), 0);
    }
}

TEST_F(Axsa, JobDataIsSignExtendedFromBit27) {
    for (int32_t position : {-1, 134217727, -134217728, 0, 0x2345}) {
        SCOPED_TRACE(position);
        // Target first: the axis never moves once its position is set.
        ASSERT_TRUE(net_.admin().unitCommand("AXSA_1", "target 1 " + std::to_string(position)));
        ASSERT_TRUE(net_.admin().unitCommand("AXSA_1", "position 1 " + std::to_string(position)));
        uint16_t status = 0;
        int32_t data = 7;
        ASSERT_EQ(kv_->KV_AXSA_PutCmdEx(1, 1, kPosition, 0, 0, &status, &data), 0);
        EXPECT_EQ(data, position);
        // The same answer through AnsWith once it is there.
        ASSERT_EQ(kv_->KV_AXSA_PutCmd(1, 1, kPosition, 0, 0), 0);
        uint16_t comErr = 5;
        data = 7;
        EXPECT_TRUE(
            eventually([&] { return kv_->KV_AXSA_AnsWith(1, 1, &status, &data, &comErr) == 0; }));
        EXPECT_EQ(data, position);
        EXPECT_EQ(comErr, 0);
    }
}

// An answer read before the unit answered is refused and changes nothing but
// ComErr, which is 0 in every case.
TEST_F(Axsa, AnAnswerReadBeforeTheUnitAnsweredIsRefused) {
    ASSERT_TRUE(net_.admin().setUnitSilent("AXSA_1", true));
    ASSERT_EQ(kv_->KV_AXSA_PutCmd(1, 1, kPosition, 0, 0), 0);
    uint16_t status = 0xBEEF, comErr = 9;
    int32_t data = 77;
    EXPECT_EQ(kv_->KV_AXSA_Answer(1, 1, &status, &comErr), 0x20);
    EXPECT_EQ(status, 0xBEEF);
    EXPECT_EQ(comErr, 0);
    comErr = 9;
    EXPECT_EQ(kv_->KV_AXSA_AnsWith(1, 1, &status, &data, &comErr), 0x20);
    EXPECT_EQ(status, 0xBEEF);
    EXPECT_EQ(data, 77);
    EXPECT_EQ(comErr, 0);

    // PutCmdEx waits its time and leaves the caller's variables alone.
    const auto start = Clock::now();
    EXPECT_EQ(kv_->KV_AXSA_PutCmdEx(1, 1, kPosition, 0, 0, &status, &data), 0x11);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, kTimeOutTimes * 200ms);
    EXPECT_LT(waited, 10s);
    EXPECT_EQ(status, 0xBEEF);
    EXPECT_EQ(data, 77);

    ASSERT_TRUE(net_.admin().setUnitSilent("AXSA_1", false));
    EXPECT_TRUE(eventually([&] { return kv_->KV_AXSA_Answer(1, 1, &status, &comErr) == 0; }));
    EXPECT_NE(status, 0xBEEF);
}

// Status-type commands are answered outside the pair sequence (pair 0);
// PutCmdEx waits for pair 0 exactly for those.
TEST_F(Axsa, StatusTypeCommandsAreAwaitedWithPairZero) {
    struct Row {
        int32_t command, function;
        bool pairZero;
    };
    const Row rows[] = {
        {kQuery, 2, true},  // '?' speed
        {kQuery, 27, true}, {0x21, 5, true}, {0x7D, 0, true},         {0x21, 28, false},
        {'F', 3, true},     {'F', 2, false}, {kQuery, 0x10003, true},  // the function is compared
                                                                       // as 16 bits
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.command) + " function " + std::to_string(row.function));
        uint16_t status = 0;
        int32_t data = 0;
        ASSERT_EQ(kv_->KV_AXSA_PutCmdEx(1, 2, row.command, row.function, 0, &status, &data), 0);
        const int sent = pairOf(blockWord(commandBlock(2), 0));
        EXPECT_EQ(statusPair(status), row.pairZero ? 0 : sent);
    }
    // Two status-type commands in a row both wait for pair 0, so the second
    // may take the first one's answer; after a paired command the query
    // answer is the unit's own.
    uint16_t status = 0;
    int32_t speed = 0;
    ASSERT_EQ(kv_->KV_AXSA_PutCmdEx(1, 2, kPosition, 0, 0, &status, &speed), 0);
    ASSERT_EQ(kv_->KV_AXSA_PutCmdEx(1, 2, kQuery, 2, 0, &status, &speed), 0);
    EXPECT_EQ(speed, 100);
}

TEST_F(Axsa, GetStatusTellsWhichHalfCarriesACommandsPair) {
    uint16_t status = 0;
    int32_t data = 0;
    // A fresh line: no command in force, the unit shows status and position
    // with pair 0.
    ASSERT_TRUE(net_.admin().unitCommand("AXSA_1", "target 4 -42"));
    ASSERT_TRUE(net_.admin().unitCommand("AXSA_1", "position 4 -42"));
    EXPECT_TRUE(eventually(
        [&] { return kv_->KV_AXSA_GetStatus(1, 4, &status, &data) == 0 && data == -42; }));
    // After commands with pairs 1 and 2 the answer words carry pair 2: the
    // data words agree with each other, the status word is not pair 0.
    ASSERT_EQ(kv_->KV_AXSA_PutCmdEx(1, 4, kPosition, 0, 0, &status, &data), 0);
    ASSERT_EQ(kv_->KV_AXSA_PutCmdEx(1, 4, kPosition, 0, 0, &status, &data), 0);
    ASSERT_EQ(statusPair(status), 2);
    data = 0;
    EXPECT_EQ(kv_->KV_AXSA_GetStatus(1, 4, &status, &data), 0x22);
    EXPECT_EQ(data, -42);
    EXPECT_EQ(kv_->KV_AXSA_GetStatus(1, 5, &status, &data), 3);
}

// The texts are read by people and tools (misspellings included): a
// scripted run writes exactly these lines (levels 0x01-0x08).
TEST_F(Axsa, AScriptedRunWritesExactlyTheseLines) {
    uint16_t status = 0, comErr = 0;
    int32_t data = 0;
    kv_->KV_AXSA_PutCmd(1, 2, kPosition, 0x12345, 0);
    kv_->KV_AXSA_PutForm(1, 2, kWrite, 0x25, 0x12345);
    kv_->KV_AXSA_PutCmdEx(1, 2, kPosition, 0, 0, &status, &data);
    kv_->KV_AXSA_Answer(1, 2, &status, &comErr);
    kv_->KV_AXSA_PutCmd(1, 5, kPosition, 0, 0);
    kv_->KV_AXSA_Close(1);
    const std::vector<std::string> expected = {
        "**   AXSA(1)--- KV_AXSA_Open",
        "##    AXSA(1)-AXSA: Board(1)-Line(1)-BaseId(4)-UseId(16): "
        "OffsetId(0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15)",
        "++     AXSA(1): CheckInfo: MaxJNo(4)",
        "++     AXSA(1): CreateSemaphore: OK: JNo(1)-Name(AXSA(1)Smph00)",
        "++     AXSA(1): CreateSemaphore: OK: JNo(2)-Name(AXSA(1)Smph01)",
        "++     AXSA(1): CreateSemaphore: OK: JNo(3)-Name(AXSA(1)Smph02)",
        "++     AXSA(1): CreateSemaphore: OK: JNo(4)-Name(AXSA(1)Smph03)",
        "++     AXSA(1): CreateMap: OK: Name(AXSA(1)PairMap)-Size(16)",
        "##    AXSA(1) KV_AXSA_Open End: Ret(0h)",
        "++     AXSA(1): PutCommand: Start: JNo(2)-Cmd(50h)-Param1(2345h)-Param2(0h)",
        "++     AXSA(1): PutCommand: End: JNo(2)",
        "**   AXSA(1) KV_AXSA_PutCmd: JNo(2)-Cmd(50h)-Para1(2345h)-Para2(0h): Ret(0h)",
        "++     AXSA(1): PutForm: Start: JNo(2)-Cmd(57h)-Func(25h)-Para(9029)",
        "++     AXSA(1): PutFrom: End: JNo(2)",
        "**   AXSA(1) KV_AXSA_PutForm: JNo(2)-Cmd(57h)-Func(25h)-Para(9029): Ret(0h)",
        "++     AXSA(1): PutCommandEx: Start: JNo(2)-Cmd(50h)-Para1(0h)-Para2(0)",
        "**   AXSA(1) KV_AXSA_PutCmdEx: JNo(2)-Cmd(50h)-Para1(0h)-Para2(0)-Status(dh)-JData(0): "
        "Ret(0h)",
        "++     AXSA(1): GetAnswer: Start: JNo(2)",
        "++     AXSA(1): GetAnswer: End: JNo(2)-Status(dh)-ComErr(0h)",
        "**   AXSA(1) KV_AXSA_Answer: JNo(2)-Status(dh)-ComErr(0h): Ret(0h)",
        "**   AXSA(1) KV_AXSA_PutCmd: JNo(5)-Cmd(50h)-Para1(0h)-Para2(0h): Ret(3h)",
        "**   AXSA(1)--- KV_AXSA_Close",
        "++     AXSA(1): DestoryMap",
        "++     AXSA(1): DestorySemaphore: JNo(1)",
        "++     AXSA(1): DestorySemaphore: JNo(2)",
        "++     AXSA(1): DestorySemaphore: JNo(3)",
        "++     AXSA(1): DestorySemaphore: JNo(4)",
        "##    AXSA(1) KV_AXSA_Close End: Ret(0h)",
    };
    std::vector<std::string> lines;
    for (const auto& line : logLines(env_.work()))
        if (line.find("AXSA(") != std::string::npos) lines.push_back(line);
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace kalvo::apitest
