// What a log holds when its process dies, when its disk is full, while it is
// read live, and after a fork: lines are copied into the slot's ring by the
// calls and moved to the file by the log's thread, by the close, or by the
// next process that loads the library.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
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
using test::waitFor;
using test::writeFile;

// The file as it is on disk, without asking any log to flush first.
std::string rawFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The text with each line's stamp ("MM/DD/YY HH:MM:SS ") replaced by "<>",
// or "BAD: ..." when a line is not whole or has no stamp.
std::string stampsMasked(const std::string& text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find("\r\n", pos);
        const std::string line = text.substr(pos, end == std::string::npos ? end : end - pos);
        if (end == std::string::npos || !test::hasStamp(line)) return "BAD: " + line;
        out += "<>" + line.substr(18) + "\r\n";
        pos = end + 2;
    }
    return out;
}

int64_t iniKey(const std::string& key) {
    const std::string ini = readFile("DualmasterLog.ini");
    const size_t at = ini.find(key + "=");
    return at == std::string::npos ? -1 : std::stoll(ini.substr(at + key.size() + 1));
}

// Writes lines "line <first>" to "line <first + count - 1>" and is killed
// the moment the last call returned.
KALVO_CHILD(log_then_die) {
    LogFacility log;
    if (!openDualmasterLog(log)) return 1;
    const int first = std::stoi(args.at(0)), count = std::stoi(args.at(1));
    for (int i = first; i < first + count; ++i) log.writef(0x10002, "line %d", i);
    raise(SIGKILL);
    return 2;
}

// Every line written in turn to the slot's two files, switching at the
// limit: what the files must hold however the lines travelled.
struct FileModel {
    explicit FileModel(int32_t limit) : maxLines(limit) {}
    int32_t maxLines;
    int32_t fileNumber = 0;
    int32_t lineCount = 0;
    std::string files[2];
    int next = 1;

    void write(int count) {
        for (int i = 0; i < count; ++i) {
            if (lineCount >= maxLines) {
                fileNumber ^= 1;
                lineCount = 0;
                files[fileNumber].clear();
            }
            files[fileNumber] += "<>**   line " + std::to_string(next++) + "\r\n";
            ++lineCount;
        }
    }
};

// A step of a case: lines written by this process (count > 0), a close and
// reopen (count 0), or lines of a child killed right after them (count < 0).
struct Step {
    int count;
};

struct IdentityCase {
    const char* name;
    int32_t maxLines;
    std::vector<Step> steps;
};

class LogIdentityTest : public ::testing::TestWithParam<IdentityCase> {
  protected:
    kalvo::testing::IsolatedEnvironment env_;
};

// Switches, reopens and the reclaim of a killed process's slot leave the
// files byte for byte as lines written in turn do, and the slot's keys as a
// close writes them; the next load finds every line a killed process's
// calls returned from.
TEST_P(LogIdentityTest, FilesHoldEveryLineInTurn) {
    const IdentityCase& c = GetParam();
    writeFile("DualmasterLog.ini",
              "[LOG]\r\nLOGLEVEL=10007H\r\nLOGMAXLINE=" + std::to_string(c.maxLines) + "\r\n");
    FileModel model(c.maxLines);
    LogFacility log;
    ASSERT_TRUE(openDualmasterLog(log));
    for (const Step& step : c.steps) {
        if (step.count > 0) {
            for (int i = 0; i < step.count; ++i) log.writef(0x10002, "line %d", model.next + i);
            model.write(step.count);
        } else if (step.count == 0) {
            log.close();
            ASSERT_TRUE(openDualmasterLog(log));
        } else {
            log.close();
            auto child = kalvo::testing::spawnChild(
                "log_then_die", {std::to_string(model.next), std::to_string(-step.count)});
            ASSERT_EQ(child.wait(), 128 + SIGKILL);
            model.write(-step.count);
            // The next load of the library writes what the dead process left.
            ASSERT_TRUE(openDualmasterLog(log));
            ASSERT_EQ(log.slot(), 0);
            EXPECT_EQ(iniKey("FILENO_00"), model.fileNumber);
            EXPECT_EQ(iniKey("LOGLINE_00"), model.lineCount);
        }
    }
    log.close();
    EXPECT_EQ(stampsMasked(rawFile("DualmasterLog_0000.log")), model.files[0]);
    EXPECT_EQ(stampsMasked(rawFile("DualmasterLog_0001.log")), model.files[1]);
    EXPECT_EQ(iniKey("FILENO_00"), model.fileNumber);
    EXPECT_EQ(iniKey("LOGLINE_00"), model.lineCount);
    // No ring is left behind once every line is in the files.
    for (const auto& entry : std::filesystem::directory_iterator(env_.runtimeDir()))
        EXPECT_EQ(entry.path().string().find(".ring"), std::string::npos) << entry.path();
}

INSTANTIATE_TEST_SUITE_P(Cases, LogIdentityTest,
                         ::testing::Values(IdentityCase{"Switches", 3, {{10}}},
                                           IdentityCase{"Reopens", 3, {{4}, {0}, {5}, {0}, {2}}},
                                           IdentityCase{"KilledWithOneLine", 4000, {{-1}, {1}}},
                                           IdentityCase{"KilledThenReclaimed", 3, {{2}, {-4}, {5}}},
                                           IdentityCase{"KilledMidBurst", 1500, {{-5000}, {10}}},
                                           IdentityCase{"KilledTwice", 7, {{-20}, {-3}, {-9}}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A process killed while its log thread was writing: the next drainer finds
// from the file's size how much of that write landed, and writes the rest
// once. Rows: bytes of the six lines that landed before the death, and
// whether the dead drainer had counted them already.
TEST(LogLeftRing, AWriteCutByADeathLandsOnce) {
    kalvo::testing::IsolatedEnvironment env;
    std::vector<std::string> lines;
    std::string all;
    for (int i = 0; i < 6; ++i) {
        lines.push_back("01/02/25 03:04:05 **   line " + std::to_string(i) + "\r\n");
        all += lines.back();
    }
    const size_t two = lines[0].size() + lines[1].size();
    struct Row {
        size_t landed;
        bool counted;
    };
    for (const Row row : {Row{0, false}, Row{5, false}, Row{two, false}, Row{two + 7, true},
                          Row{all.size(), false}, Row{all.size(), true}}) {
        SCOPED_TRACE(std::to_string(row.landed) + (row.counted ? " counted" : ""));
        const std::string ring = env.runtimeDir() + "/Test.ring0";
        LogSinkState state;
        state.slot = 0;
        state.maxLines = 1000;
        std::snprintf(state.basePath, sizeof state.basePath, "%s/Test", env.workDir().c_str());
        std::snprintf(state.iniPath, sizeof state.iniPath, "%s/Test.ini", env.workDir().c_str());
        LogRing left;
        ASSERT_TRUE(left.create(ring, state));
        for (const std::string& line : lines)
            ASSERT_TRUE(left.push(line.data(), static_cast<uint32_t>(line.size())));
        // The drainer's record of its write, then its death partway.
        LogSinkState& s = left.sink();
        s.pendingPosition = left.tail();
        s.pendingSize = 0;
        s.pendingLineCount = 0;
        if (row.counted) {
            s.fileSize = row.landed;
            s.lineCount = 6;
        }
        writeFile("Test_0000.log", all.substr(0, row.landed));
        left.unmap();

        ASSERT_TRUE(drainLeftRing(ring));
        EXPECT_EQ(rawFile("Test_0000.log"), all);
        EXPECT_NE(rawFile("Test.ini").find("LOGLINE_00=6"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(ring));
    }
}

// Opens the log, writes `count` lines, announces "half" after the first half
// and waits for "go" before the rest, then closes.
KALVO_CHILD(log_for_reader) {
    LogFacility log;
    if (!openDualmasterLog(log)) return 1;
    const int count = std::stoi(args.at(0));
    for (int i = 0; i < count; ++i) {
        if (i == count / 2) {
            writeFile("half", "");
            if (!waitFor([] { return std::filesystem::exists("go"); })) return 2;
        }
        log.writef(0x10002, "line %d", i);
    }
    log.close();
    return 0;
}

// A reader of the live file, taking the log at its word: whatever the ring
// says the file holds is whole lines, in order. A sample whose file was
// switched while it was read proves nothing and is left out.
TEST(LogLiveReader, FindsWholeLinesUpToWhatTheLogSaysItWrote) {
    kalvo::testing::IsolatedEnvironment env;
    constexpr int kLines = 6000, kMaxLines = 1000;
    writeFile("DualmasterLog.ini",
              "[LOG]\r\nLOGLEVEL=10007H\r\nLOGMAXLINE=" + std::to_string(kMaxLines) + "\r\n");
    auto child = kalvo::testing::spawnChild("log_for_reader", {std::to_string(kLines)});
    const std::string ring = env.runtimeDir() + "/DualmasterLog%2EMap.ring0";
    int checked = 0, seen = 0;
    // Lines seen so far: switches before the sample, and the sample's lines.
    auto sample = [&]() -> bool {
        LogRingProgress before, after;
        if (!LogRing::progress(ring, before)) return false;
        const std::string text =
            rawFile(before.fileNumber ? "DualmasterLog_0001.log" : "DualmasterLog_0000.log");
        if (!LogRing::progress(ring, after) || after.switches != before.switches) return false;
        if (text.size() < before.fileSize) {
            ADD_FAILURE() << "the file holds " << text.size() << " bytes, the log says "
                          << before.fileSize;
            return false;
        }
        const std::string held = text.substr(0, before.fileSize);
        const std::string masked = stampsMasked(held);
        if (masked.rfind("BAD", 0) == 0) {
            ADD_FAILURE() << masked;
            return false;
        }
        int n = 0;
        const int first = static_cast<int>(before.switches) * kMaxLines;
        for (size_t pos = 0; pos < masked.size(); ++n) {
            const size_t end = masked.find("\r\n", pos);
            EXPECT_EQ(masked.substr(pos, end - pos), "<>**   line " + std::to_string(first + n));
            pos = end + 2;
        }
        ++checked;
        seen = first + n;
        return true;
    };
    EXPECT_TRUE(waitFor([&] { return std::filesystem::exists("half"); }));
    EXPECT_TRUE(waitFor([&] { return sample() && seen >= kLines / 2; }));
    writeFile("go", "");
    while (child.running()) sample();
    EXPECT_EQ(child.wait(), 0);
    EXPECT_GE(checked, 1);
}

// Writes `count` lines under a file-size limit of `limit` bytes, SIGXFSZ
// ignored as a program that meets such a limit would; exit 0 when every call
// returned.
KALVO_CHILD(log_under_size_limit) {
    LogFacility log;
    if (!openDualmasterLog(log)) return 1;
    signal(SIGXFSZ, SIG_IGN);
    const rlim_t limit = std::stoul(args.at(1));
    const struct rlimit rl = {limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return 2;
    const int count = std::stoi(args.at(0));
    for (int i = 0; i < count; ++i) log.writef(0x10002, "line %d", i);
    log.close();
    return 0;
}

// A full disk (here a file-size limit) loses the lines that do not fit, never
// a call: every call returns and the process ends normally. The file holds
// whole lines only, as many as the slot's key says.
TEST(LogFullDisk, LosesLinesButNoCall) {
    kalvo::testing::IsolatedEnvironment env;
    writeFile("DualmasterLog.ini", "[LOG]\r\nLOGLEVEL=10007H\r\n");
    constexpr int kLines = 3000;
    constexpr size_t kLimit = 20000;
    auto child =
        kalvo::testing::spawnChild("log_under_size_limit", {std::to_string(kLines), "20000"});
    ASSERT_EQ(child.wait(), 0);
    const std::string text = rawFile("DualmasterLog_0000.log");
    EXPECT_LE(text.size(), kLimit);
    EXPECT_GT(text.size(), kLimit - 2 * LogFacility::kLineRoom);
    const std::string masked = stampsMasked(text);
    ASSERT_NE(masked.rfind("BAD", 0), 0u) << masked.substr(0, 200);
    const auto lines = test::readLines("DualmasterLog_0000.log");
    EXPECT_LT(lines.size(), static_cast<size_t>(kLines));
    EXPECT_EQ(iniKey("LOGLINE_00"), static_cast<int64_t>(lines.size()));
}

// A child forked with the log open (no exec) logs into its parent's files
// through the shared ring, and its end leaves the parent's slot alone.
TEST(LogFork, AChildLogsIntoItsParentsFilesAndLeavesItsSlot) {
    kalvo::testing::IsolatedEnvironment env;
    writeFile("DualmasterLog.ini", "[LOG]\r\nLOGLEVEL=10007H\r\n");
    LogFacility log;
    ASSERT_TRUE(openDualmasterLog(log));
    log.write(0x10002, "parent before");
    log.flush();
    const pid_t child = fork();
    if (child == 0) {
        log.write(0x10002, "child");
        log.close();
        _exit(0);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Still the parent's: the next process gets another slot.
    EXPECT_EQ(log.processCount(), 1);
    LogSlotMap other;
    ASSERT_TRUE(other.open("DualmasterLog.Map"));
    EXPECT_EQ(other.slot(), 1);
    other.close();
    log.write(0x10002, "parent after");
    const auto lines = test::readLines("DualmasterLog_0000.log");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(test::messageOf(lines[0], 5), "parent before");
    EXPECT_EQ(test::messageOf(lines[1], 5), "child");
    EXPECT_EQ(test::messageOf(lines[2], 5), "parent after");
}

// Nobody asks for a flush: the log's thread puts the lines in the file by
// itself.
TEST(LogThread, PutsLinesInTheFileUnasked) {
    kalvo::testing::IsolatedEnvironment env;
    writeFile("DualmasterLog.ini", "[LOG]\r\nLOGLEVEL=10007H\r\n");
    LogFacility log;
    ASSERT_TRUE(openDualmasterLog(log));
    for (int i = 0; i < 3; ++i) log.writef(0x10002, "line %d", i);
    EXPECT_TRUE(waitFor([] {
        return stampsMasked(rawFile("DualmasterLog_0000.log")) ==
               "<>**   line 0\r\n<>**   line 1\r\n<>**   line 2\r\n";
    }));
}

}  // namespace
}  // namespace kalvo::diaglog
