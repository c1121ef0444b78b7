// Modules: attach and detach exactly once, failing attach, the search order,
// and the behaviour of other loaders (plain dlopen, linking at build time).
#include "platform/module.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/win_error.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

extern char** environ;

using namespace kalvo::platform;
using kalvo::testing::IsolatedEnvironment;
using kalvo::testing::spawnChild;

namespace {

const std::string kModuleDir = KALVO_TEST_MODULE_DIR;
const std::string kSearchA = KALVO_TEST_SEARCH_A_DIR;
const std::string kSearchB = KALVO_TEST_SEARCH_B_DIR;
const std::string kCounting = kModuleDir + "/CountingModule.so";
const std::string kFailing = kModuleDir + "/FailingModule.so";

class Modules : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("KALVO_TEST_MODULE_LOG", env.work().file("events.log").c_str(), 1);
    }
    void TearDown() override { ::unsetenv("KALVO_TEST_MODULE_LOG"); }
    std::string events() const { return env.work().read("events.log"); }
    bool stillMapped(const std::string& path) const {
        void* dl = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (dl != nullptr) ::dlclose(dl);
        return dl != nullptr;
    }

    IsolatedEnvironment env;
};

TEST_F(Modules, AttachOnceAndDetachOnceOnTheLastFree) {
    // Without extension the name gets ".so".
    ModuleHandle first = loadLibrary((kModuleDir + "/CountingModule").c_str());
    ASSERT_NE(first, nullptr);
    ModuleHandle second = loadLibrary(kCounting.c_str());
    EXPECT_EQ(second, first);
    EXPECT_EQ(events(), "CountingModule attach\n");

    auto answer = reinterpret_cast<int (*)()>(getProcAddress(first, "KV_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);

    EXPECT_TRUE(freeLibrary(first));
    EXPECT_EQ(events(), "CountingModule attach\n");
    EXPECT_TRUE(stillMapped(kCounting));
    EXPECT_TRUE(freeLibrary(second));
    EXPECT_EQ(events(), "CountingModule attach\nCountingModule detach\n");
    EXPECT_FALSE(stillMapped(kCounting));

    // The handle is gone now; using it is an error, not a crash.
    setLastError(0);
    EXPECT_FALSE(freeLibrary(second));
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(getProcAddress(second, "KV_answer"), nullptr);

    // A new load is a new attach.
    ModuleHandle again = loadLibrary(kCounting.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(freeLibrary(again));
    EXPECT_EQ(events(),
              "CountingModule attach\nCountingModule detach\n"
              "CountingModule attach\nCountingModule detach\n");
}

TEST_F(Modules, GetProcAddressFindsOnlyTheModulesOwnExports) {
    ModuleHandle m = loadLibrary(kCounting.c_str());
    ASSERT_NE(m, nullptr);
    setLastError(0);
    EXPECT_EQ(getProcAddress(m, "KV_missing"), nullptr);
    EXPECT_EQ(lastError(), ERROR_PROC_NOT_FOUND);
    // Defined by a library the module uses, not by the module.
    EXPECT_EQ(getProcAddress(m, "malloc"), nullptr);
    EXPECT_EQ(getProcAddress(m, "_ZN5kalvo8platform11loadLibraryEPKc"), nullptr);
    // An ordinal-sized "name" is never read.
    EXPECT_EQ(getProcAddress(m, reinterpret_cast<const char*>(uintptr_t{5})), nullptr);
    EXPECT_EQ(getProcAddress(nullptr, "KV_answer"), nullptr);
    EXPECT_TRUE(freeLibrary(m));
}

TEST_F(Modules, FailingAttachIsUnloadedAndNotReturned) {
    setLastError(0);
    EXPECT_EQ(loadLibrary(kFailing.c_str()), nullptr);
    EXPECT_EQ(lastError(), ERROR_DLL_INIT_FAILED);
    EXPECT_FALSE(stillMapped(kFailing));
    // Attach ran once; detach never runs after a failed attach.
    EXPECT_EQ(events(), "FailingModule attach\n");

    setLastError(0);
    EXPECT_EQ(loadLibrary("NoSuchModule"), nullptr);
    EXPECT_EQ(lastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(loadLibrary((kModuleDir + "/NoSuchModule").c_str()), nullptr);
    EXPECT_EQ(loadLibrary(""), nullptr);
    EXPECT_EQ(loadLibrary(nullptr), nullptr);
    // A file that is not a shared object.
    env.work().write("Garbage.so", "not an ELF file");
    EXPECT_EQ(loadLibrary("Garbage"), nullptr);
    EXPECT_EQ(lastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(Modules, BareNamesSearchTheCallersDirectoryBeforeTheCurrentOne) {
    // Copy B into the current directory; A sits beside the loading library.
    std::filesystem::copy_file(kSearchB + "/SearchProbe.so", env.work().file("SearchProbe.so"));
    ModuleHandle loader = loadLibrary((kSearchA + "/libSearchLoader.so").c_str());
    ASSERT_NE(loader, nullptr);
    auto loadProbe = reinterpret_cast<const char* (*)()>(getProcAddress(loader, "KV_loadProbe"));
    ASSERT_NE(loadProbe, nullptr);
    EXPECT_STREQ(loadProbe(), "A");
    EXPECT_TRUE(freeLibrary(loader));

    // Called from the test program, whose directory has no such module: the
    // current directory's copy.
    ModuleHandle probe = loadLibrary("SearchProbe");
    ASSERT_NE(probe, nullptr);
    auto id = reinterpret_cast<const char* (*)()>(getProcAddress(probe, "KV_probeId"));
    ASSERT_NE(id, nullptr);
    EXPECT_STREQ(id(), "B");
    EXPECT_TRUE(freeLibrary(probe));
}

// A name that differs from the file's only in case loads it, as on a file
// system that ignores case; a file of the exact name wins over it.
TEST_F(Modules, NamesDifferingOnlyInCaseLoadAfterTheExactName) {
    std::filesystem::copy_file(kSearchB + "/SearchProbe.so", env.work().file("searchprobe.so"));
    auto probeId = [](ModuleHandle m) -> std::string {
        auto id = reinterpret_cast<const char* (*)()>(getProcAddress(m, "KV_probeId"));
        return id != nullptr ? id() : "no symbol";
    };
    struct Row {
        std::string name, id;
    };
    const Row rows[] = {{"SEARCHPROBE", "B"},
                        {"SearchProbe.SO", "B"},
                        {kSearchA + "/searchPROBE.so", "A"},
                        {kSearchA + "/SearchProbe", "A"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ModuleHandle m = loadLibrary(row.name.c_str());
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(probeId(m), row.id);
        EXPECT_TRUE(freeLibrary(m));
    }
    // The exact name first: "SearchProbe.so" (A's copy) beside "searchprobe.so" (B's).
    std::filesystem::copy_file(kSearchA + "/SearchProbe.so", env.work().file("SearchProbe.so"));
    ModuleHandle exact = loadLibrary("SearchProbe");
    ASSERT_NE(exact, nullptr);
    EXPECT_EQ(probeId(exact), "A");
    EXPECT_TRUE(freeLibrary(exact));
    setLastError(0);
    EXPECT_EQ(loadLibrary("SearchProbeX"), nullptr);
    EXPECT_EQ(lastError(), ERROR_MOD_NOT_FOUND);
}

KALVO_CHILD(load_and_exit) {
    // Loaded and never freed: detach runs when the process exits.
    return loadLibrary(args.at(0).c_str()) != nullptr ? 0 : 2;
}

KALVO_CHILD(plain_dlopen) {
    ::dlopen(args.at(0).c_str(), RTLD_NOW);
    return 5;  // not reached: the failing attach stops the process
}

TEST_F(Modules, DetachRunsAtProcessExitAndAPlainDlopenOfAFailingModuleStops) {
    EXPECT_EQ(spawnChild("load_and_exit", {kCounting}).wait(), 0);
    EXPECT_EQ(events(), "CountingModule attach\nCountingModule detach\n");

    EXPECT_EQ(spawnChild("plain_dlopen", {kFailing}).wait(), 1);
    EXPECT_EQ(events(), "CountingModule attach\nCountingModule detach\nFailingModule attach\n");
}

TEST_F(Modules, AProgramLinkedToAFailingModuleStopsWithAMessage) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, env.work().file("out.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, env.work().file("err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char* argv[] = {const_cast<char*>(KALVO_TEST_LINKED_FAILING), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(env.work().read("err.txt").find("FailingModule: process attach failed"),
              std::string::npos);
    EXPECT_EQ(env.work().read("out.txt").find("main reached"), std::string::npos);
    EXPECT_EQ(events(), "FailingModule attach\n");
}

}  // namespace
