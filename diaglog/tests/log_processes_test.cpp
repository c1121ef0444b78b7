// Several processes share one library's slot map: each gets its own slot and
// files, the count follows them, and a process that dies holding a slot does
// not hold it forever.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "diaglog/log_facility.h"
#include "diaglog/tests/log_test_util.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace kalvo::diaglog {
namespace {

using test::openDualmasterLog;
using test::readFile;
using test::readLines;
using test::writeFile;

bool waitForFile(const std::string& name) {
    return test::waitFor([&] { return access(name.c_str(), F_OK) == 0; });
}

// Opens the log and checks what it sees: args are the expected slot, process
// count and first-user flag. Writes one line and closes. Exit 0 when all
// matched.
KALVO_CHILD(open_and_check) {
    LogFacility log;
    if (!openDualmasterLog(log)) return 1;
    if (log.slot() != std::stoi(args.at(0))) return 2;
    if (log.processCount() != std::stoi(args.at(1))) return 3;
    if (log.firstUser() != (args.at(2) == "1")) return 4;
    log.writef(0x10002, "child in slot %d", log.slot());
    log.close();
    return 0;
}

// Opens the log, announces its slot with a file "ready_<slot>", and holds the
// slot until a file "go" appears. Exit status: 10 + slot.
KALVO_CHILD(open_and_hold) {
    LogFacility log;
    if (!openDualmasterLog(log)) return 1;
    const int slot = log.slot();
    // Written aside and renamed, so the parent never reads it half-written.
    const std::string ready = "ready_" + std::to_string(slot);
    writeFile(ready + ".tmp", log.firstUser() ? "first" : "");
    if (std::rename((ready + ".tmp").c_str(), ready.c_str()) != 0) return 3;
    if (!waitForFile("go")) return 2;
    log.close();
    return 10 + slot;
}

class LogProcessesTest : public ::testing::Test {
  protected:
    void SetUp() override { writeFile("DualmasterLog.ini", "[LOG]\r\nLOGLEVEL=10007H\r\n"); }
    kalvo::testing::IsolatedEnvironment env_;
};

TEST_F(LogProcessesTest, ASecondProcessGetsSlot1AndItsOwnFiles) {
    LogFacility log;
    ASSERT_TRUE(openDualmasterLog(log));
    EXPECT_EQ(log.slot(), 0);
    EXPECT_TRUE(log.firstUser());

    auto child = kalvo::testing::spawnChild("open_and_check", {"1", "2", "0"});
    EXPECT_EQ(child.wait(), 0);
    const auto lines = readLines("DualmasterLog_0100.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(test::messageOf(lines[0], 5), "child in slot 1");
    EXPECT_EQ(log.processCount(), 1);
    EXPECT_NE(readFile("DualmasterLog.ini").find("LOGLINE_01=1"), std::string::npos);
}

TEST_F(LogProcessesTest, ASlotHeldByAKilledProcessIsFreedForTheNextOpener) {
    LogFacility log;
    ASSERT_TRUE(openDualmasterLog(log));
    auto holder1 = kalvo::testing::spawnChild("open_and_hold");
    ASSERT_TRUE(waitForFile("ready_1"));
    auto holder2 = kalvo::testing::spawnChild("open_and_hold");
    ASSERT_TRUE(waitForFile("ready_2"));
    EXPECT_EQ(log.processCount(), 3);

    holder1.kill(SIGKILL);
    // The next opener takes the dead process's slot; the count is right.
    auto next = kalvo::testing::spawnChild("open_and_check", {"1", "3", "0"});
    EXPECT_EQ(next.wait(), 0);
    EXPECT_EQ(log.processCount(), 2);

    // With the other holder killed too, this process knows it is the last.
    holder2.kill(SIGKILL);
    EXPECT_EQ(log.processCount(), 1);
}

TEST_F(LogProcessesTest, AfterTheOnlyHolderWasKilledTheNextOpenerIsFirstUser) {
    auto holder = kalvo::testing::spawnChild("open_and_hold");
    ASSERT_TRUE(waitForFile("ready_0"));
    EXPECT_EQ(readFile("ready_0"), "first");
    holder.kill(SIGKILL);

    LogFacility log;
    ASSERT_TRUE(openDualmasterLog(log));
    EXPECT_EQ(log.slot(), 0);
    EXPECT_EQ(log.processCount(), 1);
    EXPECT_TRUE(log.firstUser());
}

TEST_F(LogProcessesTest, ProcessesOpeningTogetherGetDistinctSlots) {
    constexpr int kChildren = 8;
    std::vector<kalvo::testing::ChildProcess> children;
    for (int i = 0; i < kChildren; ++i)
        children.push_back(kalvo::testing::spawnChild("open_and_hold"));
    // Every slot 0..7 announced once: no two processes claimed the same one.
    for (int i = 0; i < kChildren; ++i) ASSERT_TRUE(waitForFile("ready_" + std::to_string(i)));
    int firstUsers = 0;
    for (int i = 0; i < kChildren; ++i)
        firstUsers += readFile("ready_" + std::to_string(i)) == "first";
    EXPECT_EQ(firstUsers, 1);

    LogFacility log;
    ASSERT_TRUE(openDualmasterLog(log));
    EXPECT_EQ(log.slot(), kChildren);
    EXPECT_EQ(log.processCount(), kChildren + 1);
    EXPECT_FALSE(log.firstUser());

    writeFile("go", "");
    std::set<int> codes;
    for (auto& child : children) codes.insert(child.wait());
    EXPECT_EQ(codes, (std::set<int>{10, 11, 12, 13, 14, 15, 16, 17}));
    EXPECT_EQ(log.processCount(), 1);
}

}  // namespace
}  // namespace kalvo::diaglog
