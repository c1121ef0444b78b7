// Every per-line call with boards and lines out of range, on a board that is
// not open, and with the pointers it needs missing: refused with its code,
// nothing touched, no crash.
#include <array>
#include <functional>
#include <set>
#include <string>

#include "boardlib/frame/board_loss.h"
#include "boardlib/tests/board_fixture.h"

namespace kalvo::boardlib::test {
namespace {

using Call = std::function<int32_t(int32_t board, int32_t line)>;

std::vector<std::pair<const char*, Call>> perLineCalls() {
    static uint8_t bytes[512];
    static uint16_t words[256];
    static uint32_t longs[128];
    static uint64_t dlongs[64];
    static int32_t a, n;
    static void* address;
    static KV_STATUS_RECORD status;
    static KV_NAME_RECORD name;
    static KV_CONNECT_RECORD connect = {"1", 1};
    return {
        {"start", [](int32_t b, int32_t l) { return KV_start(b, l, 1, 1, 0); }},
        {"start_lf", [](int32_t b, int32_t l) { return KV_start_lf(b, l, 1, 1, 0); }},
        {"start_gmm", [](int32_t b, int32_t l) { return KV_start_gmm(b, l, 0); }},
        {"stop", [](int32_t b, int32_t l) { return KV_stop(b, l); }},
        {"reset", [](int32_t b, int32_t l) { return KV_reset(b, l, 0); }},
        {"GetCnectStat", [](int32_t b, int32_t l) { return KV_GetCnectStat(b, l, &a, &n); }},
        {"config", [](int32_t b, int32_t l) { return KV_config(b, l, 6); }},
        {"Status", [](int32_t b, int32_t l) { return KV_Status(b, l, &status); }},
        {"Name", [](int32_t b, int32_t l) { return KV_Name(b, l, &name); }},
        {"Connect", [](int32_t b, int32_t l) { return KV_Connect(b, l, &connect); }},
        {"ConnectLF", [](int32_t b, int32_t l) { return KV_ConnectLF(b, l, &connect); }},
        {"ConnectGMM", [](int32_t b, int32_t l) { return KV_ConnectGMM(b, l); }},
        {"DisConnect", [](int32_t b, int32_t l) { return KV_DisConnect(b, l); }},
        {"Alloc", [](int32_t b, int32_t l) { return KV_Alloc(b, l, 1, &address); }},
        {"Free", [](int32_t b, int32_t l) { return KV_Free(b, l); }},
        {"Attach", [](int32_t b, int32_t l) { return KV_Attach(b, l, &address); }},
        {"Map", [](int32_t b, int32_t l) { return KV_Map(b, l, "1", &address); }},
        {"UnMap", [](int32_t b, int32_t l) { return KV_UnMap(b, l); }},
        {"Put", [](int32_t b, int32_t l) { return KV_Put(b, l, bytes); }},
        {"Get", [](int32_t b, int32_t l) { return KV_Get(b, l, 1, bytes); }},
        {"GetReg16", [](int32_t b, int32_t l) { return KV_GetReg16(b, l, 0, words); }},
        {"GetReg32", [](int32_t b, int32_t l) { return KV_GetReg32(b, l, 0, longs); }},
        {"GetReg64", [](int32_t b, int32_t l) { return KV_GetReg64(b, l, 0, dlongs); }},
        {"SetReg16", [](int32_t b, int32_t l) { return KV_SetReg16(b, l, 0, 0); }},
        {"SetReg32", [](int32_t b, int32_t l) { return KV_SetReg32(b, l, 0, 0); }},
        {"SetReg64", [](int32_t b, int32_t l) { return KV_SetReg64(b, l, 0, 0); }},
        {"GetMemByte", [](int32_t b, int32_t l) { return KV_GetMemByte(b, l, bytes, 0, 0, 1); }},
        {"GetMemShort", [](int32_t b, int32_t l) { return KV_GetMemShort(b, l, words, 0, 0, 1); }},
        {"GetMemLong", [](int32_t b, int32_t l) { return KV_GetMemLong(b, l, longs, 0, 0, 1); }},
        {"GetMemDLong", [](int32_t b, int32_t l) { return KV_GetMemDLong(b, l, dlongs, 0, 0, 1); }},
        {"SetMemByte", [](int32_t b, int32_t l) { return KV_SetMemByte(b, l, bytes, 0, 0, 1); }},
        {"SetMemShort", [](int32_t b, int32_t l) { return KV_SetMemShort(b, l, words, 0, 0, 1); }},
        {"SetMemLong", [](int32_t b, int32_t l) { return KV_SetMemLong(b, l, longs, 0, 0, 1); }},
        {"SetMemDLong", [](int32_t b, int32_t l) { return KV_SetMemDLong(b, l, dlongs, 0, 0, 1); }},
        {"Ck", [](int32_t b, int32_t l) { return KV_Ck(b, l, words); }},
        {"HardReset", [](int32_t b, int32_t l) { return KV_HardReset(b, l); }},
        {"MailOpen", [](int32_t b, int32_t l) { return KV_MailOpen(b, l); }},
        {"MailClose", [](int32_t b, int32_t l) { return KV_MailClose(b, l); }},
        {"MailSend", [](int32_t b, int32_t l) { return KV_MailSend(b, l, 1, bytes, 8); }},
        {"MailReceive", [](int32_t b, int32_t l) { return KV_MailReceive(b, l, bytes, 8, &a); }},
        {"MailStatus", [](int32_t b, int32_t l) { return KV_MailStatus(b, l, words); }},
        {"MailWaitObject", [](int32_t b, int32_t l) { return KV_MailWaitObject(b, l, words); }},
    };
}

class BadInput : public BoardTest {};

TEST_F(BadInput, BoardsAndLinesOutOfRangeOrNotOpen) {
    openBoard(0);
    for (auto& [name, call] : perLineCalls()) {
        for (int32_t board : {-1, 4, 99})
            EXPECT_EQ(call(board, 0), KV_ERR_ARGUMENT) << name << board;
        for (int32_t line : {-1, 1}) EXPECT_EQ(call(0, line), KV_ERR_ARGUMENT) << name << line;
        EXPECT_EQ(call(1, 0), KV_ERR_NOT_OPEN) << name;
    }
    EXPECT_TRUE(bus.trace().empty());
    EXPECT_TRUE(devices.requests().empty());
}

// A board whose device host went away: every call that would reach it
// answers -1 and touches nothing; the calls that only read the library's
// own record answer as before; the board closes normally.
TEST_F(BadInput, ALostBoardAnswersMinusOneToEveryCallThatReachesIt) {
    openBoard(0);
    ASSERT_EQ(KV_MailOpen(0, 0), 0);
    bus.clear();
    markBoardLost(*boardEntry(0), "the device host (pid 1) was stopped");
    const std::set<std::string> ownRecord = {"GetCnectStat", "config", "Free", "UnMap"};
    for (auto& [name, call] : perLineCalls())
        EXPECT_EQ(call(0, 0), ownRecord.count(name) ? KV_OK : KV_ERR_REQUEST) << name;
    EXPECT_TRUE(bus.trace().empty());
    EXPECT_TRUE(devices.requests().empty());
    EXPECT_EQ(KV_close(0), KV_OK);
    EXPECT_EQ(KV_open(0), KV_OK);  // a new device: the board is usable again
    EXPECT_EQ(KV_SetMemShort(0, 0, std::array<uint16_t, 1>{7}.data(), 3, 0, 1), KV_OK);
}

TEST_F(BadInput, MissingPointersAreRefusedWithoutTouchingAnything) {
    openBoard(0);
    const uint8_t* noBytes = nullptr;
    EXPECT_EQ(KV_GetCnectStat(0, 0, nullptr, nullptr), KV_ERR_ARGUMENT);
    int32_t a = 0;
    EXPECT_EQ(KV_GetCnectStat(0, 0, &a, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_Status(0, 0, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_Name(0, 0, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_Connect(0, 0, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_ConnectLF(0, 0, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_Attach(0, 0, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_Alloc(0, 0, 1, nullptr), KV_ERR_ARGUMENT);
    void* address = nullptr;
    EXPECT_EQ(KV_Map(0, 0, nullptr, &address), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_Map(0, 0, "1", nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_Put(0, 0, noBytes), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_Get(0, 0, 1, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_GetReg16(0, 0, 0, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_GetReg32(0, 0, 0, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_GetReg64(0, 0, 0, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_GetMemByte(0, 0, nullptr, 0, 0, 1), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_GetMemShort(0, 0, nullptr, 0, 0, 1), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_GetMemLong(0, 0, nullptr, 0, 0, 1), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_GetMemDLong(0, 0, nullptr, 0, 0, 1), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_SetMemByte(0, 0, nullptr, 0, 0, 1), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_SetMemShort(0, 0, nullptr, 0, 0, 1), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_SetMemLong(0, 0, nullptr, 0, 0, 1), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_SetMemDLong(0, 0, nullptr, 0, 0, 1), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_Ck(0, 0, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_MailSend(0, 0, 1, nullptr, 8), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_MailReceive(0, 0, nullptr, 8, &a), KV_ERR_ARGUMENT);
    uint8_t buffer[8];
    EXPECT_EQ(KV_MailReceive(0, 0, buffer, 8, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_MailStatus(0, 0, nullptr), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_MailWaitObject(0, 0, nullptr), KV_ERR_ARGUMENT);
    EXPECT_TRUE(bus.trace().empty());
    EXPECT_TRUE(devices.requests().empty());
}

TEST_F(BadInput, MailLengthsOutsideOneTo256) {
    openBoard(0);
    ASSERT_EQ(KV_MailOpen(0, 0), 0);
    bus.clear();
    uint8_t buffer[300] = {};
    int32_t station = 0;
    for (int32_t length : {0, 257, -1}) {
        EXPECT_EQ(KV_MailSend(0, 0, 1, buffer, length), KV_ERR_MAIL_LENGTH) << length;
        EXPECT_EQ(KV_MailReceive(0, 0, buffer, length, &station), KV_ERR_MAIL_LENGTH) << length;
    }
    for (const std::string& access : bus.trace(0x400, 0x1000))  // the poll thread only reads
        EXPECT_EQ(access[0], 'R') << access;
}

TEST(Identity, NoBoardNeeded) {
    char text[32] = {};
    KV_boardname(text);
    EXPECT_STREQ(text, kBuild.boardName);
    KV_dllname(text);
    EXPECT_STREQ(text, kBuild.dllName);
    KV_version(text);
    EXPECT_STREQ(text, "1.3.0.0");
    EXPECT_EQ(KV_maxline(), 1);
}

}  // namespace
}  // namespace kalvo::boardlib::test
