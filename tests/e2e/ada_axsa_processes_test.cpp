// ADA and AXSA units shared by processes. Their named objects (channel and
// job locks, the pair map) live while a process has the unit open and are
// gone with the last one, also when that process was killed while it held a
// lock: the next process's command on that channel or job goes through.
// "Gone" is what the next create-or-open says: it made the object anew. The
// locks keep two processes' commands on one channel or job apart.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/page_file_map.h"
#include "platform/semaphore.h"
#include "tests/support/child_process.h"
#include "tests/support/sample_network_host.h"

namespace kalvo::apitest {
namespace {

using namespace std::chrono_literals;

struct FamilyObjects {
    const char* family;
    const char* unit;  // the simulated unit's name
    std::vector<std::string> semaphores;
    std::string map;         // empty: none
    const char* lockedLine;  // logged once the command holds channel / job 1
};

const FamilyObjects kFamilies[] = {
    {"ADA",
     "ADA_1",
     {"KVADA(1)Smph00", "KVADA(1)Smph01", "KVADA(1)Smph02", "KVADA(1)Smph03"},
     "",
     "ADA(1): PutCommand: Start: Ch(1)"},
    {"AXSA",
     "AXSA_1",
     {"AXSA(1)Smph00", "AXSA(1)Smph01", "AXSA(1)Smph02", "AXSA(1)Smph03"},
     "AXSA(1)PairMap",
     "AXSA(1): PutCommandEx: Start: JNo(1)"},
};

void PrintTo(const FamilyObjects& f, std::ostream* os) {
    *os << f.family;
}

// Opening each object anew: true when every one was made by this call (no
// process held it). The probes are closed again, which removes them.
bool allGone(const FamilyObjects& f) {
    bool gone = true;
    for (const auto& name : f.semaphores) {
        auto s = platform::Semaphore::createOrOpen(name, 1, 1);
        gone = gone && s.valid() && s.created();
    }
    if (!f.map.empty()) {
        auto m = platform::PageFileMap::createOrOpen(f.map, 16);
        gone = gone && m.valid() && m.created();
    }
    return gone;
}

bool noneGone(const FamilyObjects& f) {
    for (const auto& name : f.semaphores)
        if (platform::Semaphore::createOrOpen(name, 1, 1).created()) return false;
    return f.map.empty() || !platform::PageFileMap::createOrOpen(f.map, 16).created();
}

int openUnit(FamilyCalls& kv, const std::string& family) {
    return family == "ADA" ? kv.KV_ADA_Open(1) : kv.KV_AXSA_Open(1);
}
int closeUnit(FamilyCalls& kv, const std::string& family) {
    return family == "ADA" ? kv.KV_ADA_Close(1) : kv.KV_AXSA_Close(1);
}

// One command on channel / job 1. AXSA: 0 only when it was answered with
// the pair code expected: 1 on a fresh pair map over a job no command has
// reached, else the code after the one its block shows (the unit ignores a
// block that repeats its last code).
int commandOnFirst(FamilyCalls& kv, const std::string& family, int expectedPair) {
    if (family == "ADA") {
        int32_t version = 0;
        return kv.KV_ADA_GetVersion(1, &version);
    }
    uint16_t status = 0;
    int32_t data = 0;
    const int ret = kv.KV_AXSA_PutCmdEx(1, 1, 'P', 0, 0, &status, &data);
    return ret != 0 ? ret : (((status >> 2) & 3) == expectedPair ? 0 : 100);
}

// Opens the unit, runs one command on its first channel or job, and closes
// it when asked to; exit status 0 when all went through. args: family,
// "close" or "keep", the AXSA pair code expected (1 when not given).
KALVO_CHILD(unit_command) {
    FamilyCalls kv;
    const std::string family = args.at(0);
    if (!kv.loaded() || openUnit(kv, family) != 0) return 2;
    kv.KV_BeginPeriod();
    const int ret = commandOnFirst(kv, family, args.size() > 2 ? std::stoi(args.at(2)) : 1);
    kv.KV_EndPeriod();
    if (args.at(1) == "close" && closeUnit(kv, family) != 0) return 3;
    return ret == 0 ? 0 : 1;
}

// Runs count commands on the first channel or job; 0 when all went through.
KALVO_CHILD(unit_commands) {
    FamilyCalls kv;
    const std::string family = args.at(0);
    if (!kv.loaded() || openUnit(kv, family) != 0) return 2;
    kv.KV_BeginPeriod();
    int failed = 0;
    for (int i = std::stoi(args.at(1)); i > 0; --i) {
        if (family == "ADA") {
            int32_t version = 0;
            failed += kv.KV_ADA_GetVersion(1, &version) != 0 || version != 0xE103;
        } else {
            uint16_t status = 0;
            int32_t data = 0;
            failed += kv.KV_AXSA_PutCmdEx(1, 1, 'P', 0, 0, &status, &data) != 0;
        }
    }
    kv.KV_EndPeriod();
    return failed == 0 ? 0 : 1;
}

class UnitObjects : public ::testing::TestWithParam<FamilyObjects> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(net_.started()) << net_.why();
        // This process keeps the library loaded (and so the line running)
        // but opens the unit only where a case says so.
        ASSERT_TRUE(kv_->loaded());
        ASSERT_EQ(kv_->KV_CheckBoard(1), 0) << net_.hostLog();
    }
    void TearDown() override {
        kv_.reset();
        EXPECT_EQ(net_.stop(), 0) << net_.hostLog();
    }

    testing::IsolatedEnvironment env_;
    // A silent unit keeps a command waiting 20 x 200 ms with its lock held.
    SampleNetwork net_{env_, 20, "FFFFFF0FH"};
    std::unique_ptr<FamilyCalls> kv_ = std::make_unique<FamilyCalls>();
};

TEST_P(UnitObjects, LiveWhileAnyProcessHasTheUnitOpenAndGoWithTheLast) {
    const FamilyObjects& f = GetParam();
    ASSERT_EQ(openUnit(*kv_, f.family), 0);
    auto child = testing::spawnChild("unit_command", {f.family, "close"});
    ASSERT_EQ(child.wait(60s), 0);
    EXPECT_TRUE(noneGone(f));  // this process still holds them
    ASSERT_EQ(closeUnit(*kv_, f.family), 0);
    EXPECT_TRUE(allGone(f));
}

TEST_P(UnitObjects, AHolderKilledInsideACommandLeavesNothingBehind) {
    const FamilyObjects& f = GetParam();
    ASSERT_TRUE(net_.admin().setUnitSilent(f.unit, true));
    auto holder = testing::spawnChild("unit_command", {f.family, "keep"});
    // The step line is written once the command holds the lock: a record,
    // not a moment to catch.
    ASSERT_TRUE(eventually([&] { return logHas(env_.workDir(), f.lockedLine); }, 30s))
        << allLogText(env_.workDir());
    holder.kill(SIGKILL);
    EXPECT_TRUE(allGone(f));

    ASSERT_TRUE(net_.admin().setUnitSilent(f.unit, false));
    // The pair map is new, and starts after the code the killed holder sent.
    auto next = testing::spawnChild("unit_command", {f.family, "close", "2"});
    EXPECT_EQ(next.wait(60s), 0);
}

// The channel or job lock keeps two processes' command sequences apart: each
// gets its own answer (AXSA: with its own pair code), and the ADA channel's
// output value survives every command of both.
TEST_P(UnitObjects, TwoProcessesCommandingOneChannelOrJobEachGetTheirAnswers) {
    const FamilyObjects& f = GetParam();
    env_.work().write("KalvoLog.ini", "[LOG]\nLOGLEVEL=1H\n");
    const std::string family = f.family;
    if (family == "ADA") {
        ASSERT_EQ(openUnit(*kv_, family), 0);
        ASSERT_EQ(kv_->KV_ADA_OutValue(1, 1, 0x555), 0);
    }
    auto a = testing::spawnChild("unit_commands", {family, "150"});
    auto b = testing::spawnChild("unit_commands", {family, "150"});
    EXPECT_EQ(a.wait(120s), 0);
    EXPECT_EQ(b.wait(120s), 0);
    if (family == "ADA") {
        uint16_t word = 0;
        EXPECT_EQ(kv_->KV_ADA_InOValueFull(1, 1, &word), 0);
        EXPECT_EQ(word, 0x555);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, UnitObjects, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param.family); });

}  // namespace
}  // namespace kalvo::apitest
