// The stack as it is installed, tested as the people who use it: a device
// host run as a service user with the service's folder modes (its folder
// 0750, group "kalvo"), members of that group by supplementary group, a
// member of the admin group, and a user who is neither. Every case runs the
// real programs as those users (setpriv), against a real host.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "host/network_admin.h"
#include "platform/device.h"
#include "platform/host_folder.h"
#include "platform/semaphore.h"
#include "tests/support/child_process.h"
#include "tests/support/kalvo_loader.h"
#include "tests/support/private_host.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_users.h"

namespace kalvo::apitest {
namespace {

using namespace std::chrono_literals;
using testing::runProgram;
using testing::TestUsers;

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

std::string selfPath() {
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

// A folder as root makes it for the service: owner, group and mode.
void makeFolder(const std::string& path, uid_t owner, gid_t group, mode_t mode) {
    std::filesystem::create_directory(path);
    ASSERT_EQ(::chown(path.c_str(), owner, group), 0) << path;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

class ServiceForMembers : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string why = TestUsers::unavailable(
            {KALVO_DEVHOST_PATH, KALVO_DEVCTL_PATH, KALVO_DEVPROBE_PATH, KALVO_LIBRARY_PATH,
             KALVO_SAMPLE_CONFIG "/Kalvo.ini", selfPath()});
        if (!why.empty()) GTEST_SKIP() << why;
        group_ = users_.addGroup("g");   // the service's group, "kalvo"
        admins_ = users_.addGroup("a");  // the admin group, "kalvo-admin"
        service_ = users_.addUser("s", group_);
        member_ = users_.addUser("m", {}, {group_});
        other_ = users_.addUser("n", {}, {group_});
        admin_ = users_.addUser("d", {}, {group_, admins_});
        stranger_ = users_.addUser("x");
        ASSERT_TRUE(users_.ok()) << "useradd or groupadd failed";

        ASSERT_EQ(::chmod(base_.path().c_str(), 0755), 0);
        const gid_t group = TestUsers::gid(group_);
        makeFolder(run(), TestUsers::uid(service_), group, 0750);  // RuntimeDirectoryMode
        makeFolder(shm(), 0, group, 02770);                        // the group namespace
        makeFolder(work(), 0, group, 02770);  // a configuration folder the members share
        for (const char* name : {"Kalvo.ini", "ModelTbl.ini"})
            std::filesystem::copy_file(std::string(KALVO_SAMPLE_CONFIG) + "/" + name,
                                       work() + "/" + name);
        std::ofstream(work() + "/KalvoLog.ini") << "[LOG]\nLOGLEVEL=101H\n";

        host_.runVia(TestUsers::launcher(service_));
        std::string failure;
        ASSERT_TRUE(host_.start(
            run(), base_.file("devhost.log"), "tolva:id=0", &failure,
            {"--network", work(), "--admin-group", admins_, "--max-user-connections", "8"}))
            << failure;
    }

    void TearDown() override {
        if (host_.running()) {
            EXPECT_EQ(host_.stop(), 0) << host_.log();
        }
    }

    std::string run() const { return base_.file("run"); }
    std::string shm() const { return base_.file("shm"); }
    std::string work() const { return base_.file("work"); }

    // A program as user (root: as it is), its output and status.
    testing::ProgramRun as(const std::string& user, const std::string& command) {
        return runProgram(user == "root" ? command : TestUsers::asUser(user, command));
    }

    TestUsers users_;
    std::string group_, admins_, service_, member_, other_, admin_, stranger_;
    testing::TempDir base_;
    drivertest::PrivateHost host_;
};

TEST_F(ServiceForMembers, EachKindOfUserGetsWhatTheServiceGrantsAndIsToldWhatToDoElse) {
    struct Row {
        std::string user;
        bool uses;         // device open and map, read-only admin requests
        bool changes;      // requests that change the host or the hardware
        std::string join;  // the group a refusal names
    };
    const Row rows[] = {
        {service_, true, true, ""},        {"root", true, true, ""},
        {admin_, true, true, ""},          {member_, true, false, admins_},
        {stranger_, false, false, group_},
    };
    const std::string probe = std::string(KALVO_DEVPROBE_PATH) + " --watch 0 '\\\\.\\tolva0'";
    const std::string list = std::string(KALVO_DEVCTL_PATH) + " list";
    const std::string power = std::string(KALVO_DEVCTL_PATH) + " power S0";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.user);
        const std::string advice = "sudo usermod -aG " + row.join + " " + row.user;
        const auto opened = as(row.user, probe);
        const auto looked = as(row.user, list);
        const auto changed = as(row.user, power);
        EXPECT_EQ(opened.exitCode == 0, row.uses) << opened.output;
        EXPECT_EQ(looked.exitCode == 0, row.uses) << looked.output;
        EXPECT_EQ(changed.exitCode == 0, row.changes) << changed.output;
        if (row.uses) {
            EXPECT_NE(opened.output.find("board ID"), std::string::npos) << opened.output;
            EXPECT_NE(looked.output.find("tolva"), std::string::npos) << looked.output;
        } else {
            const std::string words = "is not a member of group " + group_;
            for (const auto* refused : {&opened, &looked, &changed}) {
                EXPECT_NE(refused->output.find(words), std::string::npos) << refused->output;
                EXPECT_NE(refused->output.find(advice), std::string::npos) << refused->output;
            }
        }
        if (row.uses && !row.changes) {
            EXPECT_NE(changed.output.find("members of group " + admins_), std::string::npos)
                << changed.output;
            EXPECT_NE(changed.output.find(advice), std::string::npos) << changed.output;
        }
    }
}

TEST_F(ServiceForMembers, AMemberCanNeitherReplaceTheSocketsNorPoseAsAnotherUsersHost) {
    // The folder is the host's: members enter and connect, nothing more.
    for (const char* attempt : {"mv {run}/devices.sock {run}/moved", "rm -f {run}/admin.sock",
                                "ln -s /tmp {run}/devices2.sock", "touch {run}/new"}) {
        std::string command = attempt;
        for (size_t at; (at = command.find("{run}")) != std::string::npos;)
            command.replace(at, 5, run());
        EXPECT_NE(as(member_, command).exitCode, 0) << command;
    }
    struct stat st {};
    EXPECT_EQ(::lstat((run() + "/devices.sock").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);

    // Another user makes the member's private folder first and serves in it.
    const std::string mine = "/tmp/kalvo-" + std::to_string(TestUsers::uid(member_));
    std::filesystem::remove_all(mine);
    drivertest::PrivateHost impostor;
    impostor.runVia(TestUsers::launcher(stranger_));
    std::string failure;
    ASSERT_TRUE(impostor.start(mine, base_.file("impostor.log"), "tolva:id=0", &failure))
        << failure;
    setenv("KALVO_DEVICE_DIR", run().c_str(), 1);  // impostor.start moved it
    const std::string unset = "env -u KALVO_DEVICE_DIR ";
    for (const std::string& program :
         {std::string(KALVO_DEVCTL_PATH) + " list",
          std::string(KALVO_DEVPROBE_PATH) + " --watch 0 '\\\\.\\tolva0'"}) {
        const auto refused = as(member_, unset + program);
        EXPECT_NE(refused.exitCode, 0) << refused.output;
        for (const std::string& words :
             {mine, "owner " + stranger_, "belongs to neither user " + member_ + " nor root"})
            EXPECT_NE(refused.output.find(words), std::string::npos) << refused.output;
    }
    EXPECT_EQ(impostor.stop(), 0) << impostor.log();
    setenv("KALVO_DEVICE_DIR", run().c_str(), 1);
    std::filesystem::remove_all(mine);
}

// Opens handles until one is refused; 0 when the ninth is, by the limit.
KALVO_CHILD(member_open_handles) {
    std::vector<platform::HANDLE> handles;
    for (int i = 0; i < 9; ++i) {
        handles.push_back(platform::createFile(
            "\\\\.\\tolva0", platform::GENERIC_READ | platform::GENERIC_WRITE,
            platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE, platform::OPEN_EXISTING, 0));
        const bool refused = handles.back() == platform::INVALID_HANDLE_VALUE;
        if (refused != (i == 8)) return 10 + i;
    }
    const std::string& why = platform::host_folder::lastOpenProblem();
    std::printf("%s\n", why.c_str());
    return why.find("holds 8 connections") != std::string::npos ? 0 : 1;
}

TEST_F(ServiceForMembers, OneUserCannotHoldEveryConnectionNorASilentOneForever) {
    auto member = testing::spawnChildVia(TestUsers::launcher(member_), "member_open_handles");
    EXPECT_EQ(member.wait(60s), 0);
    // The limit is the user's: another member still gets in meanwhile.
    EXPECT_EQ(as(other_, std::string(KALVO_DEVCTL_PATH) + " list").exitCode, 0);

    // A connection that never sends its first frame is dropped after 5 s.
    const int sock = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = run() + "/devices.sock";
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const auto start = std::chrono::steady_clock::now();
    pollfd p{sock, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 60000), 1);
    char byte;
    EXPECT_EQ(::recv(sock, &byte, 1, 0), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4s);
    ::close(sock);
}

// Holds the library and DIO_1 open, says so (a file named by the third
// argument), waits for "go", then sets and clears its bit count times and
// leaves it set; 0 when every change read back.
KALVO_CHILD(member_toggle_after_go) {
    KalvoLibrary kv;
    if (!kv.loaded() || kv.KV_DIO_Open(1) != 0) return 2;
    std::ofstream(args.at(2));
    while (!std::filesystem::exists("go")) std::this_thread::sleep_for(2ms);
    const int bitNo = std::stoi(args.at(0)), count = std::stoi(args.at(1));
    for (int i = 0; i < count; ++i) {
        int32_t bit = -1;
        if (kv.KV_DIO_OutDataBit(1, bitNo, i % 2 == 0) != 0 ||
            kv.KV_DIO_InODataBit(1, bitNo, &bit) != 0 || bit != (i % 2 == 0))
            return 1;
    }
    return kv.KV_DIO_OutDataBit(1, bitNo, 1) == 0 ? 0 : 1;
}

// Takes DIO_1's lock as the library does and never lets go.
KALVO_CHILD(member_hold_dio_lock) {
    KalvoLibrary kv;
    if (!kv.loaded() || kv.KV_DIO_Open(1) != 0) return 2;
    auto lock = platform::Semaphore::createOrOpen("KVDIO(1)Smph", 1, 1);
    if (!lock || lock.created() || lock.wait(10000) != platform::WAIT_OBJECT_0) return 3;
    std::ofstream("held");
    for (;;) ::pause();
}

class MembersOnOneBoard : public ServiceForMembers {
  protected:
    void SetUp() override {
        ServiceForMembers::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        setenv("KALVO_RUNTIME_DIR", shm().c_str(), 1);
        char buffer[4096];
        ASSERT_NE(::getcwd(buffer, sizeof buffer), nullptr);
        oldCwd_ = buffer;
        ASSERT_EQ(::chdir(work().c_str()), 0);
        // A program of root's holds the line as the members' run: the last
        // program's unload clears the outputs.
        kv_ = std::make_unique<KalvoLibrary>();
        ASSERT_TRUE(kv_->loaded());
        ASSERT_EQ(kv_->KV_DIO_Open(1), 0);
    }
    void TearDown() override {
        kv_.reset();
        if (!oldCwd_.empty() && ::chdir(oldCwd_.c_str()) != 0) ADD_FAILURE() << oldCwd_;
        unsetenv("KALVO_RUNTIME_DIR");
        ServiceForMembers::TearDown();
    }
    bool unitShows(const std::string& text) {
        kernel::host::NetworkAdmin admin(run());
        return eventually(
            [&] { return admin.describeUnit("DIO_1").find(text) != std::string::npos; });
    }
    // The DIO_1 word as the library reads it back.
    uint16_t outputs() {
        uint16_t word = 0;
        EXPECT_EQ(kv_->KV_DIO_InOData(1, &word), 0);
        return word;
    }
    std::string oldCwd_;
    std::unique_ptr<KalvoLibrary> kv_;
};

TEST_F(MembersOnOneBoard, TwoMembersTogglingBitsOfOneWordLoseNothing) {
    // Loaded one after the other, then toggling at once: the lock is what
    // is tested.
    auto a = testing::spawnChildVia(TestUsers::launcher(member_), "member_toggle_after_go",
                                    {"3", "3000", "ready-a"});
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists("ready-a"); }));
    auto b = testing::spawnChildVia(TestUsers::launcher(other_), "member_toggle_after_go",
                                    {"12", "3000", "ready-b"});
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists("ready-b"); }));
    std::ofstream("go");
    EXPECT_EQ(a.wait(240s), 0);
    EXPECT_EQ(b.wait(240s), 0);
    EXPECT_EQ(outputs(), 0x1008);
    EXPECT_TRUE(unitShows("[0] out 0x1008")) << host_.log();
    // Every named object went with its last holder, whoever made it (an
    // object's encoded name never holds a '.', the namespace's own files do).
    kv_.reset();
    for (const auto& entry : std::filesystem::directory_iterator(shm()))
        EXPECT_NE(entry.path().filename().string().find('.'), std::string::npos) << entry.path();
}

TEST_F(MembersOnOneBoard, AMembersProgramKilledHoldingTheLineLockIsTakenOverByAnothersProgram) {
    auto survivor = testing::spawnChildVia(TestUsers::launcher(other_), "member_toggle_after_go",
                                           {"5", "100", "ready"});
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists("ready"); }));
    auto holder = testing::spawnChildVia(TestUsers::launcher(member_), "member_hold_dio_lock");
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists("held"); }));
    // Killed and not reaped: a zombie of another user, which a signal still
    // finds; only the holder's record says it is gone.
    ASSERT_EQ(::kill(holder.pid(), SIGKILL), 0);
    std::ofstream("go");
    EXPECT_EQ(survivor.wait(120s), 0);
    EXPECT_EQ(outputs(), 1u << 5);
}

}  // namespace
}  // namespace kalvo::apitest
