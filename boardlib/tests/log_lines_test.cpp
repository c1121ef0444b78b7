// A scripted run's log file against the expected lines, time stamps masked.
#include <regex>
#include <sstream>

#include "boardlib/tests/board_fixture.h"

namespace kalvo::boardlib::test {
namespace {

class LogLines : public BoardTest {
    void prepareFolder(const testing::TempDir& dir) override {
        dir.write("DualmasterLog.ini", "[LOG]\r\nLOGLEVEL=10007H\r\n");
    }
};

// The file's lines without their stamp and with the last error masked; the
// mail service's own lines are left to its tests.
std::vector<std::string> logLines(const std::string& text) {
    static const std::regex stamp(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d )");
    static const std::regex lastError(R"(CE=\d+)");
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(!line.empty() && line.back() == '\r') << line;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        EXPECT_TRUE(std::regex_search(line, stamp)) << line;
        line = std::regex_replace(std::regex_replace(line, stamp, ""), lastError, "CE=*");
        if (line.find("Mail") == std::string::npos) lines.push_back(line);
    }
    return lines;
}

TEST_F(LogLines, AScriptedRun) {
    ASSERT_EQ(KV_open(0), 0);
    ASSERT_EQ(KV_start(0, 0, 70, 5, 0), 0);
    uint16_t words[2];
    ASSERT_EQ(KV_GetMemShort(0, 0, words, 3, 1, 2), 0);
    ASSERT_EQ(KV_SetReg64(0, 0, 0x428, 0x100000001), 0);
    uint16_t ck;
    ASSERT_EQ(KV_Ck(0, 0, &ck), 0);
    EXPECT_EQ(KV_Ck(1, 0, &ck), KV_ERR_NOT_OPEN);
    ASSERT_EQ(KV_reset(0, 0, -1), 0);
    int32_t a, n;
    ASSERT_EQ(KV_GetCnectStat(0, 0, &a, &n), 0);
    EXPECT_EQ(KV_config(0, 1, 6), KV_ERR_ARGUMENT);
    EXPECT_EQ(KV_close(1), KV_ERR_NOT_OPEN);
    EXPECT_EQ(KV_open(7), KV_ERR_ARGUMENT);
    libraryDetach();  // board 0 still open: finish and close

    const std::vector<std::string> expected = {
        "**   ------------------- Dualmaster.dll Service Start -------------------",
        "**   Dualmaster(0) KV_open",
        "##    KVMBrd0: CreateSemaphore: Comm Start Semaphore: Line(0): OK: Name(KVMBrd00_StaSem)",
        "##    KVMBrd0: CreateSemaphore: GM Read Semaphore: Line(0): OK: Name(KVMBrd00_GmSemR)",
        "##    KVMBrd0: CreateSemaphore: GM Write Semaphore: Line(0): OK: Name(KVMBrd00_GmSemW)",
        "##    KVMBrd0 open: OK: <Device=\\\\.\\KVMDRV0, Handle=256>",
        "##    KVMBrd0 mky40map: OK: ",
        "##    Dualmaster(0) KV_open: OK",
        "##    KVMBrd0 KalvoConnect: Adr(63)-Size(1): OK: ",
        "**   Dualmaster(0) KV_start: Line(0): OK",
        "**   Dualmaster(0) KV_GetMemShort: Line(0)-OffsetAdr(13)-ShortSize(2): OK",
        "**   Dualmaster(0) KV_SetReg64: Line(0)-OffsetAdr(0x428)-Reg(0x1): OK",
        "**   Dualmaster(0) KV_Ck: Line(0)-CHKC(0x0): OK",
        "@@   Dualmaster(1) KV_Ck: Line(0): NG: Ret(2h)",
        "**   Dualmaster(0) KV_reset: Line(0) Data(65535): OK",
        "**   Dualmaster(0) KV_GetCnectStat: Line(0): StationAdr(63)-StationSize(1): Ret(0h)",
        "**   Dualmaster(0) KV_config: Line(1): Baudrate(6): Ret(3h)",
        "**   Dualmaster(1) KV_close",
        "@@   Dualmaster(1) KV_close: NG: Ret(2h)",
        "**   Dualmaster(7) KV_open",
        "@@   Dualmaster(7) KV_open NG: Ret(3h)",
        "##    KVMBrd0 KalvoDisConnect: OK: ",
        "##    KVMBrd0 Finish: OK: ",
        "##    KVMBrd0 close: OK: <Device=\\\\.\\KVMDRV0, Handle=256, CE=*>",
        "##    KVMBrd0: DestorySemaphore: Comm Start Semaphore: Line(0)",
        "##    KVMBrd0: DestorySemaphore: GM Read Semaphore: Line(0)",
        "##    KVMBrd0: DestorySemaphore: GM Write Semaphore: Line(0)",
        "**   ------------------- Dualmaster.dll Service Stop -------------------",
    };
    EXPECT_EQ(logLines(env_->work().read("DualmasterLog_0000.log")), expected);
    ASSERT_TRUE(libraryAttach());
}

}  // namespace
}  // namespace kalvo::boardlib::test
