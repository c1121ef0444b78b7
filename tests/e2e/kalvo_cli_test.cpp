// kalvo as a user runs it, in a configuration folder: doctor naming each
// cause of failure, get/set round trips on the simulated units of every
// family, and units --watch under a pseudo-terminal seeing another process's
// change.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/program_run.h"
#include "tests/support/sample_network_host.h"

namespace kalvo::apitest {
namespace {

struct KalvoRun {
    int status = -1;
    std::string output;
};

// kalvo with its arguments in the current directory, stdout and stderr
// together.
KalvoRun kalvo(const std::string& arguments) {
    const auto run = kalvo::testing::runProgram(std::string(KALVO_CLI_PATH) + " " + arguments);
    return {run.exitCode, run.output};
}

// Replaces the first occurrence of a text in Kalvo.ini; the line ends in
// from and to are those of the file.
void editIni(const std::string& dir, std::string from, std::string to) {
    std::ifstream in(dir + "/Kalvo.ini", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string ini = text.str();
    if (ini.find("\r\n") != std::string::npos) {
        for (std::string* s : {&from, &to})
            for (size_t at = 0; (at = s->find('\n', at)) != std::string::npos; at += 2)
                s->insert(at, "\r");
    }
    const size_t at = ini.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    ini.replace(at, from.size(), to);
    std::ofstream(dir + "/Kalvo.ini", std::ios::binary | std::ios::trunc) << ini;
}

// One broken folder per cause: how it is broken, and the words doctor must
// say about it. No device host runs in these.
struct BrokenFolder {
    const char* cause;
    void (*breakIt)(const std::string& dir);
    const char* says;
};

const BrokenFolder kBrokenFolders[] = {
    {"no Kalvo.ini", [](const std::string& dir) { std::filesystem::remove(dir + "/Kalvo.ini"); },
     "there is no Kalvo.ini in"},
    {"unreadable Kalvo.ini",
     [](const std::string& dir) {
         std::filesystem::remove(dir + "/Kalvo.ini");
         std::filesystem::create_directory(dir + "/Kalvo.ini");
     },
     "Kalvo.ini in"},
    {"Board out of range", [](const std::string& dir) { editIni(dir, "Board=1\n", "Board=9\n"); },
     "Board=9 in section [KALVO]"},
    {"Kind not found",
     [](const std::string& dir) { editIni(dir, "Kind=Pcimaster64", "Kind=Nosuchmaster"); },
     "its library Kind=Nosuchmaster (Nosuchmaster.so) is not found; searched"},
    {"unit section refused",
     [](const std::string& dir) {
         editIni(dir, "Base=2\nOffset=0,1,2,3", "Base=2\nOffset=0,1,17");
     },
     "section [ADA_1] of Kalvo.ini: Offset lists 17"},
    {"SIO channel not on a 4-word boundary",
     [](const std::string& dir) {
         editIni(dir, "Base=8\nOffset=0,1,2,3", "Base=8\nOffset=1,2,3,4");
     },
     "section [SIO_1] of Kalvo.ini: channel 1 starts at word 1"},
    {"line without start keys",
     [](const std::string& dir) { editIni(dir, "StationAddr_1=0\n", ""); },
     "line 1 of board 1 does not start: section [BOARD_1] has no StationAddr_1"},
    {"no device host", [](const std::string&) {}, "no device host"},
    {"log cannot be written",
     [](const std::string& dir) { std::filesystem::create_directory(dir + "/KalvoLog_0000.log"); },
     "KalvoLog_0000.log cannot be written"},
};

TEST(KalvoDoctor, NamesEachCauseInABrokenFolder) {
    for (const BrokenFolder& c : kBrokenFolders) {
        testing::IsolatedEnvironment env;
        const std::string devices = env.work().file("no-host");
        setenv("KALVO_DEVICE_DIR", devices.c_str(), 1);
        writeSampleFolder(env.workDir(), 0, "");
        c.breakIt(env.workDir());
        const KalvoRun run = kalvo("doctor");
        EXPECT_EQ(run.status, 1) << c.cause << "\n" << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.cause << "\n" << run.output;
        unsetenv("KALVO_DEVICE_DIR");
    }
}

TEST(KalvoDoctor, TheLibraryRefusingToLoadSaysWhyOnStandardError) {
    testing::IsolatedEnvironment env;
    writeSampleFolder(env.workDir(), 0, "");
    std::filesystem::create_directory(env.workDir() + "/KalvoLog_0000.log");
    const KalvoRun run = kalvo("units");
    EXPECT_EQ(run.status, 1) << run.output;
    for (const char* words : {"KalvoLog_0000.log", env.workDir().c_str(), "does not load"})
        EXPECT_NE(run.output.find(words), std::string::npos) << words << "\n" << run.output;
}

TEST(KalvoDoctor, PassesOnTheExampleFolderWithARunningHost) {
    testing::IsolatedEnvironment env;
    SampleNetwork net(env, 0);
    ASSERT_TRUE(net.started()) << net.why();
    const KalvoRun run = kalvo("doctor");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("no problem found"), std::string::npos) << run.output;
    // Also from elsewhere, with the folder named.
    const KalvoRun status = kalvo("-C " + env.workDir() + " status");
    EXPECT_EQ(status.status, 0) << status.output;
    EXPECT_NE(status.output.find("line 1: StationAddr=0 StationSize=32, running"),
              std::string::npos)
        << status.output;
}

TEST(KalvoDoctor, AStationThatDoesNotAnswerIsNamed) {
    testing::IsolatedEnvironment env;
    SampleNetwork net(env, 0);
    ASSERT_TRUE(net.started()) << net.why();
    // DIO_2 moved to a station the network does not have.
    editIni(env.workDir(), "[DIO_2]\nBoard=1\nLine=1\nBase=1", "[DIO_2]\nBoard=1\nLine=1\nBase=20");
    const KalvoRun run = kalvo("doctor");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("DIO_2: station 20 of board 1 line 1 does not answer"),
              std::string::npos)
        << run.output;
}

// A program holding the library loaded, as the application whose units an
// engineer inspects: the first process starts the lines and clears their
// outputs, so values written by one short-lived kalvo would not outlive it.
// Here kalvo units --watch, which says when its table is up.
class LibraryHolder {
  public:
    LibraryHolder() {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execl(KALVO_CLI_PATH, KALVO_CLI_PATH, "units", "--watch", "--interval-ms", "60000",
                  nullptr);
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
        std::string text;
        char buffer[512];
        while (text.find("Ctrl-C ends") == std::string::npos) {
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) return;
            text.append(buffer, size_t(n));
        }
        up_ = true;
    }
    ~LibraryHolder() {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    bool up() const { return up_; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool up_ = false;
};

TEST(KalvoGetSet, RoundTripsOnEveryFamily) {
    testing::IsolatedEnvironment env;
    SampleNetwork net(env, 0);
    ASSERT_TRUE(net.started()) << net.why();
    LibraryHolder holder;
    ASSERT_TRUE(holder.up());

    // DIO: the output word and a bit, read back from the output area; the
    // example network wires each output to its input.
    EXPECT_EQ(kalvo("set DIO_1 0x00A5").status, 0);
    EXPECT_EQ(kalvo("get DIO_1 out").output, "0x00A5\n");
    EXPECT_TRUE(eventually([] { return kalvo("get DIO_1").output == "0x00A5\n"; }));
    EXPECT_EQ(kalvo("set DIO_1.9 1").status, 0);
    EXPECT_EQ(kalvo("get DIO_1.9 out").output, "1\n");
    EXPECT_TRUE(eventually([] { return kalvo("get DIO_1 9").output == "1\n"; }));

    // ADA: a channel's output value comes back on its input.
    EXPECT_EQ(kalvo("set ADA_1.2 1234").status, 0);
    EXPECT_EQ(kalvo("get ADA_1.2 out").output, "1234\n");
    EXPECT_TRUE(eventually([] { return kalvo("get ADA_1 2").output == "1234\n"; }));

    // AXSA: the job's status outside a command.
    const KalvoRun axsa = kalvo("get AXSA_1 status");
    EXPECT_EQ(axsa.status, 0) << axsa.output;
    EXPECT_EQ(axsa.output.rfind("status 0x", 0), 0u) << axsa.output;

    // SIO: a text sent comes back through the unit's loopback to a receiver
    // that is listening (it says so on stderr first).
    int fromReceiver[2];
    ASSERT_EQ(pipe(fromReceiver), 0);
    const pid_t receiver = fork();
    ASSERT_GE(receiver, 0);
    if (receiver == 0) {
        dup2(fromReceiver[1], 1);
        dup2(fromReceiver[1], 2);
        close(fromReceiver[0]);
        execl(KALVO_CLI_PATH, KALVO_CLI_PATH, "get", "SIO_1", "receive", "--timeout-ms", "5000",
              nullptr);
        _exit(127);
    }
    close(fromReceiver[1]);
    std::string received;
    char buffer[256];
    while (received.find("receiving") == std::string::npos) {
        const ssize_t n = read(fromReceiver[0], buffer, sizeof buffer);
        if (n <= 0) break;
        received.append(buffer, size_t(n));
    }
    EXPECT_EQ(kalvo("set SIO_1 send hello").status, 0);
    for (ssize_t n; (n = read(fromReceiver[0], buffer, sizeof buffer)) > 0;)
        received.append(buffer, size_t(n));
    close(fromReceiver[0]);
    int status = 0;
    waitpid(receiver, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << received;
    EXPECT_NE(received.find("\nhello\n"), std::string::npos) << received;
}

TEST(KalvoGetSet, AFailureNamesTheReturnCode) {
    testing::IsolatedEnvironment env;
    SampleNetwork net(env, 0);
    ASSERT_TRUE(net.started()) << net.why();
    const KalvoRun missing = kalvo("get DIO_7");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("KV_DIO_Open gives KALVO_ERR_UNIT (9)"), std::string::npos)
        << missing.output;
    const KalvoRun channel = kalvo("get ADA_1.9");
    EXPECT_NE(channel.output.find("KALVO_ERR_ARGUMENT (3)"), std::string::npos) << channel.output;
    const KalvoRun bad = kalvo("get XYZ_1");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.output.find("\"XYZ_1\" is not a unit"), std::string::npos) << bad.output;
    const KalvoRun code = kalvo("strerror 0x11");
    EXPECT_EQ(code.status, 0);
    EXPECT_NE(code.output.find("KALVO_ERR_TIMEOUT"), std::string::npos) << code.output;
}

TEST(KalvoUnits, WatchShowsAnotherProcesssChangeWithinASecond) {
    testing::IsolatedEnvironment env;
    SampleNetwork net(env, 0);
    ASSERT_TRUE(net.started()) << net.why();
    ASSERT_EQ(kalvo("set DIO_2 0").status, 0);

    int master = -1;
    const pid_t watcher = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(watcher, 0);
    if (watcher == 0) {
        execl(KALVO_CLI_PATH, KALVO_CLI_PATH, "units", "--watch", "--interval-ms", "50", nullptr);
        _exit(127);
    }
    std::string screen;
    auto readUntil = [&](const std::string& text, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (screen.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, int(left.count())) <= 0) continue;
            char buffer[4096];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) return false;
            screen.append(buffer, size_t(n));
        }
        return true;
    };
    // The table is up (it opened the units) before the change is made.
    ASSERT_TRUE(readUntil("Ctrl-C ends", std::chrono::seconds(10))) << screen;
    screen.clear();
    ASSERT_EQ(kalvo("set DIO_2 0x5A5A").status, 0);
    EXPECT_TRUE(readUntil("out 0x5A5A", std::chrono::seconds(1))) << screen;
    kill(watcher, SIGINT);
    int status = 0;
    waitpid(watcher, &status, 0);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(DeviceHostMessages, ANetworkFolderWithoutBoardsIsWarnedAbout) {
    testing::IsolatedEnvironment env;
    const std::string folder = env.work().file("net");
    std::filesystem::create_directory(folder);
    std::ofstream(folder + "/Kalvo.ini") << "[KALVO]\nBoard=0\n";
    setenv("KALVO_DEVICE_DIR", env.work().file("devices").c_str(), 1);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t host = fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        execl(KALVO_DEVHOST_PATH, KALVO_DEVHOST_PATH, "--network", folder.c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[512];
    while (text.find("serving") == std::string::npos) {
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, size_t(n));
    }
    kill(host, SIGTERM);
    waitpid(host, nullptr, 0);
    close(out[0]);
    unsetenv("KALVO_DEVICE_DIR");
    EXPECT_NE(text.find("warning: the network folder " + folder + " gives no board"),
              std::string::npos)
        << text;
}

TEST(DeviceHostMessages, UnitNamesMatchInAnyCaseAndAMissListsTheUnits) {
    testing::IsolatedEnvironment env;
    SampleNetwork net(env, 0);
    ASSERT_TRUE(net.started()) << net.why();
    auto devctl = [](const std::string& words) {
        KalvoRun r;
        FILE* pipe = popen((std::string(KALVO_DEVCTL_PATH) + " " + words + " 2>&1").c_str(), "r");
        char buffer[512];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.output.append(buffer, n);
        r.status = WEXITSTATUS(pclose(pipe));
        return r;
    };
    const KalvoRun lower = devctl("sim unit dio_1");
    EXPECT_EQ(lower.status, 0) << lower.output;
    EXPECT_EQ(devctl("sim unit Ada_1 help").status, 0);
    for (const char* words :
         {"sim unit DIO_9", "sim unit DIO_9 help", "sim unit DIO_9 input 0 1"}) {
        const KalvoRun miss = devctl(words);
        EXPECT_EQ(miss.status, 1) << words;
        EXPECT_NE(miss.output.find("no unit DIO_9 (the units: DIO_1, DIO_2, ADA_1, AXSA_1, SIO_1)"),
                  std::string::npos)
            << words << ": " << miss.output;
    }
}

TEST(DeviceHostMessages, DevctlStartSaysWhyTheHostEndedAtOnce) {
    testing::IsolatedEnvironment env;
    setenv("KALVO_DEVICE_DIR", env.work().file("devices").c_str(), 1);
    const KalvoRun run = [] {
        KalvoRun r;
        FILE* pipe = popen(KALVO_DEVCTL_PATH " start --boards nonsense 2>&1", "r");
        char buffer[512];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.output.append(buffer, n);
        r.status = WEXITSTATUS(pclose(pipe));
        return r;
    }();
    unsetenv("KALVO_DEVICE_DIR");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("the device host ended at once: kalvo-devhost: --boards:"),
              std::string::npos)
        << run.output;
}

}  // namespace
}  // namespace kalvo::apitest
