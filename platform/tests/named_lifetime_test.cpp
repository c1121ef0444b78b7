// The runtime namespace: name mapping, where objects live, Windows lifetime
// (last close removes, holders that died leave nothing behind), one namespace
// for all kinds, and hostile files in the directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/page_file_map.h"
#include "platform/runtime_dir.h"
#include "platform/semaphore.h"
#include "platform/tests/named_test_util.h"
#include "platform/win_error.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

using namespace kalvo::platform;
using kalvo::testing::awaitReady;
using kalvo::testing::IsolatedEnvironment;
using kalvo::testing::markReady;
using kalvo::testing::sleepForever;
using kalvo::testing::spawnChild;

namespace {

std::vector<std::string> objectFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name[0] != '.') names.push_back(name);
    }
    return names;
}

TEST(NamedObjectNames, MapReversiblyToPlainFileNames) {
    const std::vector<std::string> names = {
        "KVMBrd00_StaSem", "AXSA(1)PairMap", "SIO(1)RcvBuff00Map.Map",  "a/b\\c",      ".", "..",
        ".hidden",         "100%",           std::string("nul\0in", 7), "Global\\Name"};
    for (const auto& name : names) {
        std::string file = encodeObjectName(name);
        EXPECT_EQ(file.find('/'), std::string::npos) << file;
        EXPECT_NE(file[0], '.') << file;
        EXPECT_EQ(decodeObjectName(file), name) << file;
    }
    EXPECT_EQ(encodeObjectName("AXSA(1)PairMap"), "AXSA(1)PairMap");
    EXPECT_EQ(encodeObjectName("SIO(1)Rcv.Map"), "SIO(1)Rcv%2EMap");

    std::string every;
    for (int c = 0; c < 256; ++c) every.push_back(static_cast<char>(c));
    EXPECT_EQ(decodeObjectName(encodeObjectName(every)), every);

    // Anything the encoder never writes is refused, so two files never
    // decode to one name.
    for (const char* bad : {"a.b", "%2", "%", "%zz", "%2e", "%41", "a b", "/"})
        EXPECT_FALSE(decodeObjectName(bad).has_value()) << bad;
}

TEST(NamedObjectNames, ObjectsWithAwkwardNamesLiveInTheNamespace) {
    IsolatedEnvironment env;
    const std::vector<std::string> names = {"SIO(1)RcvBuff00Map.Map", "a/b\\c(2).x", "..", "/"};
    std::vector<Semaphore> held;
    for (const auto& name : names) {
        held.push_back(Semaphore::createOrOpen(name, 1, 1));
        ASSERT_TRUE(held.back().valid()) << name << " error " << lastError();
        EXPECT_TRUE(held.back().created());
    }
    auto files = objectFiles(env.runtimeDir());
    ASSERT_EQ(files.size(), names.size());
    for (const auto& name : names)
        EXPECT_NE(std::find(files.begin(), files.end(), encodeObjectName(name)), files.end());
}

TEST(NamedObjectNames, TooLongForAFileNameFailsCleanly) {
    IsolatedEnvironment env;
    auto fits = Semaphore::createOrOpen(std::string(255, 'n'), 1, 1);
    EXPECT_TRUE(fits.valid()) << lastError();

    auto tooLong = Semaphore::createOrOpen(std::string(256, 'n'), 1, 1);
    EXPECT_FALSE(tooLong.valid());
    EXPECT_EQ(lastError(), ERROR_FILENAME_EXCED_RANGE);

    // Encoding triples each '.', so a name of 100 dots is too long as well.
    auto map = PageFileMap::createOrOpen(std::string(100, '.'), 64);
    EXPECT_FALSE(map.valid());
    EXPECT_EQ(lastError(), ERROR_FILENAME_EXCED_RANGE);
    auto huge = Event::createOrOpen(std::string(100000, 'x'), true, false);
    EXPECT_FALSE(huge.valid());
    EXPECT_EQ(lastError(), ERROR_FILENAME_EXCED_RANGE);
}

TEST(RuntimeDir, OverrideIsCreatedPrivateAndUsed) {
    IsolatedEnvironment env;
    std::string nested = env.runtimeDir() + "/ns";
    setenv("KALVO_RUNTIME_DIR", nested.c_str(), 1);
    EXPECT_EQ(runtimeDir(), nested);
    struct stat st {};
    ASSERT_EQ(stat(nested.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    auto sem = Semaphore::createOrOpen("InNested", 1, 1);
    ASSERT_TRUE(sem.valid());
    EXPECT_TRUE(std::filesystem::exists(nested + "/InNested"));

    // A namespace that cannot be a directory fails with a reason, no crash.
    std::string file = env.runtimeDir() + "/plain";
    env.work().write("x", "");
    ASSERT_EQ(std::filesystem::copy_file(env.workDir() + "/x", file), true);
    setenv("KALVO_RUNTIME_DIR", file.c_str(), 1);
    EXPECT_EQ(runtimeDir(), "");
    auto none = Mutex::createOrOpen("Anything");
    EXPECT_FALSE(none.valid());
    EXPECT_NE(lastError(), ERROR_SUCCESS);
    setenv("KALVO_RUNTIME_DIR", env.runtimeDir().c_str(), 1);
}

TEST(NamedObjectLifetime, LastCloseRemovesAndHandlesShareOneObject) {
    IsolatedEnvironment env;
    auto first = PageFileMap::createOrOpen("Share.Map", 4096);
    ASSERT_TRUE(first.valid());
    EXPECT_TRUE(first.created());
    EXPECT_EQ(lastError(), ERROR_SUCCESS);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first.data()) % 4096, 0u);

    auto second = PageFileMap::createOrOpen("Share.Map", 1024);
    ASSERT_TRUE(second.valid());
    EXPECT_FALSE(second.created());
    EXPECT_EQ(lastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(second.size(), 4096u);  // the whole section, as MapViewOfFile maps it
    static_cast<char*>(first.data())[100] = 42;
    EXPECT_EQ(static_cast<char*>(second.data())[100], 42);

    first.close();
    first.close();  // idempotent
    EXPECT_EQ(objectFiles(env.runtimeDir()).size(), 1u);
    EXPECT_EQ(static_cast<char*>(second.data())[100], 42);
    second.close();
    EXPECT_TRUE(objectFiles(env.runtimeDir()).empty());

    auto again = PageFileMap::createOrOpen("Share.Map", 4096);
    EXPECT_TRUE(again.created());
    EXPECT_EQ(static_cast<char*>(again.data())[100], 0);

    // Moving a handle keeps the object; the moved-from handle holds nothing.
    PageFileMap moved = std::move(again);
    EXPECT_FALSE(again.valid());
    EXPECT_TRUE(moved.valid());
    EXPECT_EQ(objectFiles(env.runtimeDir()).size(), 1u);
}

TEST(NamedObjectLifetime, MapSizeRules) {
    IsolatedEnvironment env;
    auto zero = PageFileMap::createOrOpen("Zero.Map", 0);
    EXPECT_FALSE(zero.valid());
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
    auto absurd = PageFileMap::createOrOpen("Absurd.Map", SIZE_MAX);
    EXPECT_FALSE(absurd.valid());

    auto small = PageFileMap::createOrOpen("Small.Map", 100);
    ASSERT_TRUE(small.valid());
    auto bigger = PageFileMap::createOrOpen("Small.Map", 200);
    EXPECT_FALSE(bigger.valid());
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
}

TEST(NamedObjectLifetime, OneNamespaceForAllKinds) {
    IsolatedEnvironment env;
    auto sem = Semaphore::createOrOpen("Shared", 1, 1);
    ASSERT_TRUE(sem.valid());

    EXPECT_FALSE(Mutex::createOrOpen("Shared").valid());
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(Event::createOrOpen("Shared", true, false).valid());
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(PageFileMap::createOrOpen("Shared", 16).valid());
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);

    // Once the semaphore is gone the name is free for another kind.
    sem.close();
    auto mutex = Mutex::createOrOpen("Shared");
    EXPECT_TRUE(mutex.valid());
    EXPECT_TRUE(mutex.created());
}

TEST(NamedObjectLifetime, PrivateObjectsHaveNoNameAndAreDistinct) {
    IsolatedEnvironment env;
    auto a = Semaphore::createOrOpen("", 1, 1);
    auto b = Semaphore::createOrOpen("", 1, 1);
    ASSERT_TRUE(a.valid() && b.valid());
    EXPECT_TRUE(a.created() && b.created());
    EXPECT_EQ(a.wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(b.wait(0), WAIT_OBJECT_0);
    auto map = PageFileMap::createOrOpen("", 8192);
    ASSERT_TRUE(map.valid());
    EXPECT_EQ(static_cast<char*>(map.data())[8191], 0);
    EXPECT_TRUE(objectFiles(env.runtimeDir()).empty());
}

// Files in the directory that were not made by us, or were left half-made,
// never crash anything: a dead leftover is replaced, a live foreign one is
// refused.
TEST(NamedObjectLifetime, HostileFilesInTheNamespace) {
    IsolatedEnvironment env;
    env.work().write("junk", std::string(10, 'J'));
    ASSERT_TRUE(
        std::filesystem::copy_file(env.workDir() + "/junk", env.runtimeDir() + "/Leftover"));
    auto replaced = PageFileMap::createOrOpen("Leftover", 64);
    ASSERT_TRUE(replaced.valid());
    EXPECT_TRUE(replaced.created());
    EXPECT_EQ(static_cast<char*>(replaced.data())[0], 0);

    std::string live = env.runtimeDir() + "/LiveJunk";
    int fd = open(live.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "garbage", 7), 7);
    ASSERT_EQ(flock(fd, LOCK_SH), 0);  // somebody seems to hold it
    auto refused = Semaphore::createOrOpen("LiveJunk", 1, 1);
    EXPECT_FALSE(refused.valid());
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    close(fd);

    ASSERT_EQ(symlink("/etc/passwd", (env.runtimeDir() + "/Link").c_str()), 0);
    auto link = Mutex::createOrOpen("Link");
    EXPECT_FALSE(link.valid());
    ASSERT_EQ(mkdir((env.runtimeDir() + "/Dir").c_str(), 0700), 0);
    EXPECT_FALSE(Event::createOrOpen("Dir", true, false).valid());
}

// Open, mark, check, close in a loop. A creator that re-initialised a map
// another process still held would wipe that holder's mark under it.
// args: bit number, path of the map's file.
KALVO_CHILD(openCloseRace) {
    const uint32_t mine = 1u << std::stoi(args.at(0));
    for (int i = 0; i < 2000; ++i) {
        auto map = PageFileMap::createOrOpen("Race.Map", 64);
        if (!map.valid()) return 2;
        std::atomic_ref<uint32_t> marks(*static_cast<uint32_t*>(map.data()));
        marks.fetch_or(mine);
        // A held object keeps its name: a last close racing with this open
        // must not have removed the file under a handle reported as opened.
        if (!std::filesystem::exists(args.at(1))) return 4;
        if ((marks.fetch_and(~mine) & mine) == 0) return 5;
    }
    return 0;
}

TEST(NamedObjectLifetime, CreateAndLastCloseAreAtomicAcrossProcesses) {
    IsolatedEnvironment env;
    std::string file = env.runtimeDir() + "/" + encodeObjectName("Race.Map");
    auto a = spawnChild("openCloseRace", {"0", file});
    auto b = spawnChild("openCloseRace", {"1", file});
    auto c = spawnChild("openCloseRace", {"2", file});
    EXPECT_EQ(a.wait(std::chrono::minutes(3)), 0);
    EXPECT_EQ(b.wait(std::chrono::minutes(3)), 0);
    EXPECT_EQ(c.wait(std::chrono::minutes(3)), 0);
    EXPECT_TRUE(objectFiles(env.runtimeDir()).empty());
}

KALVO_CHILD(holdAll) {
    auto mutex = Mutex::createOrOpen("Held(1)Mutx", true);
    auto sem = Semaphore::createOrOpen("Held(1)Smph", 1, 1);
    auto map = PageFileMap::createOrOpen("Held(1).Map", 8192);
    if (!mutex.valid() || !sem.valid() || !map.valid()) return 2;
    if (sem.wait() != WAIT_OBJECT_0) return 3;
    std::memset(map.data(), 0xAB, map.size());
    markReady("held");
    sleepForever();
    return 0;
}

KALVO_CHILD(openAndExit) {
    auto sem = Semaphore::createOrOpen("Opened", 1, 1);
    return sem.valid() && !sem.created() ? 0 : 1;
}

TEST(NamedObjectLifetime, KilledHoldersLeaveNothingBehind) {
    IsolatedEnvironment env;
    auto child = spawnChild("holdAll");
    ASSERT_TRUE(awaitReady("held"));
    {
        auto whileHeld = PageFileMap::createOrOpen("Held(1).Map", 8192);
        ASSERT_TRUE(whileHeld.valid());
        EXPECT_FALSE(whileHeld.created());
        EXPECT_EQ(static_cast<unsigned char*>(whileHeld.data())[8191], 0xAB);
    }
    child.kill(SIGKILL);

    auto mutex = Mutex::createOrOpen("Held(1)Mutx");
    ASSERT_TRUE(mutex.valid());
    EXPECT_TRUE(mutex.created());
    EXPECT_EQ(lastError(), ERROR_SUCCESS);
    EXPECT_EQ(mutex.wait(0), WAIT_OBJECT_0);  // a fresh mutex, not an abandoned one

    auto map = PageFileMap::createOrOpen("Held(1).Map", 8192);
    ASSERT_TRUE(map.valid());
    EXPECT_TRUE(map.created());
    auto* bytes = static_cast<unsigned char*>(map.data());
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[8191], 0);

    auto sem = Semaphore::createOrOpen("Held(1)Smph", 1, 1);
    ASSERT_TRUE(sem.valid());
    EXPECT_TRUE(sem.created());
    EXPECT_EQ(sem.wait(0), WAIT_OBJECT_0);

    // A holder that exits normally without closing is a holder that died.
    auto opened = Semaphore::createOrOpen("Opened", 1, 1);
    auto other = spawnChild("openAndExit");
    EXPECT_EQ(other.wait(), 0);
    opened.close();
    EXPECT_EQ(objectFiles(env.runtimeDir()).size(), 3u);
}

}  // namespace
