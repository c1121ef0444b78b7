// The whole stack while its programs are killed: four application processes
// (DIO with mail, ADA, AXSA, SIO) on the example folder's network, and a
// supervisor that kills one of them at random every 200 ms and starts a new
// one in its place. Halfway the device host itself is killed and started
// again: every worker notices (its calls give -1), reloads the libraries and
// goes on against the new host. Afterwards no process hangs, the named
// objects and log slots of the dead are reclaimed, the output words are what
// the surviving writers last wrote, and the device host's handle and view
// counts are back where they started.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "diaglog/log_slot_map.h"
#include "host/network_admin.h"
#include "kalvo/board_library.h"
#include "kalvo/kalvo.h"
#include "platform/module.h"
#include "tests/support/child_process.h"
#include "tests/support/private_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_files.h"

namespace kalvo::apitest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kernel::host::NetworkAdmin;
using testing::readText;
using testing::writeText;

// The echo station the DIO worker mails.
constexpr int kEchoStation = 20;
// The run's length; the default is the bound CI runs.
std::chrono::milliseconds runTime() {
    const char* text = std::getenv("KALVO_KILL_TEST_MS");
    return std::chrono::milliseconds(text ? std::atoi(text) : 30'000);
}

bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return condition();
}

template <class Fn>
Fn bound(platform::ModuleHandle module, const char* name) {
    return reinterpret_cast<Fn>(platform::getProcAddress(module, name));
}

// One round trip to the echo station; false on any failure. Echoes of mail
// that a killed predecessor sent may still come in first: they are taken
// and passed over.
bool mailRoundTrip(platform::ModuleHandle board, uint8_t tag) {
    auto send = bound<decltype(&KV_MailSend)>(board, "KV_MailSend");
    auto status = bound<decltype(&KV_MailStatus)>(board, "KV_MailStatus");
    auto receive = bound<decltype(&KV_MailReceive)>(board, "KV_MailReceive");
    uint8_t data[8] = {tag, 1, 2, 3, 4, 5, 6, 7};
    if (send(0, 0, kEchoStation, data, sizeof data) != 0) return false;
    for (int i = 0; i < 500; ++i) {
        uint16_t word = 0;
        if (status(0, 0, &word) != 0) return false;
        if (!(word & 0x0100)) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        uint8_t back[64] = {};
        int32_t source = -1;
        if (receive(0, 0, back, sizeof back, &source) != 0) return false;
        if (source == kEchoStation && back[0] == tag) return true;
    }
    return false;
}

// A call that failed because the board is lost (its host went away).
constexpr int kLost = 99;

// A worker: args role, folder. It writes and reads its unit until the
// folder's "stop" file appears, then makes one last write, records it in
// "<role>.last", says "<role>.idle" and waits for "exit" to end normally.
// A call that gives -1 (the host went away) makes it say "<role>.noticed",
// unload both libraries and load them again until the boards open on a new
// host; it opens them so at its start too, should the host be away then.
// Every other failed call ends it with a code naming the call.
KALVO_CHILD(stack_worker) {
    const std::string role = args.at(0), dir = args.at(1);
    platform::ModuleHandle kalvo = nullptr, board = nullptr;
    bool mail = false, mailed = false;
    auto unload = [&] {
        if (board) platform::freeLibrary(board);
        if (kalvo) platform::freeLibrary(kalvo);
        board = kalvo = nullptr;
    };
    // 0, or the code of a library that does not load at all.
    auto load = [&]() -> int {
        for (;;) {
            kalvo = platform::loadLibrary(KALVO_LIBRARY_PATH);
            if (!kalvo) return 10;
            board = platform::loadLibrary("Pcimaster64");
            if (!board) return 11;
            int opened = -1;
            if (role == "dio") opened = bound<decltype(&KV_DIO_Open)>(kalvo, "KV_DIO_Open")(1);
            if (role == "ada") opened = bound<decltype(&KV_ADA_Open)>(kalvo, "KV_ADA_Open")(1);
            if (role == "axsa") opened = bound<decltype(&KV_AXSA_Open)>(kalvo, "KV_AXSA_Open")(1);
            if (role == "sio") opened = bound<decltype(&KV_SIO_Open)>(kalvo, "KV_SIO_Open")(1);
            mail = false;
            if (opened == 0) {
                writeText(dir + "/" + role + ".opened", std::to_string(getpid()));
                return 0;
            }
            if (opened != 4) return 12;  // 4: no board opened, the host is away
            unload();
            std::this_thread::sleep_for(20ms);
        }
    };
    uint32_t n = static_cast<uint32_t>(getpid()) << 4;
    auto step = [&](bool last) -> int {
        ++n;
        const uint16_t value = static_cast<uint16_t>(n);
        auto code = [](int32_t rc, int failed) { return rc == 0 ? 0 : rc == -1 ? kLost : failed; };
        if (role == "dio") {
            if (int rc =
                    code(bound<decltype(&KV_DIO_OutData)>(kalvo, "KV_DIO_OutData")(1, value), 20))
                return rc;
            uint16_t in = 0;
            if (int rc = code(bound<decltype(&KV_DIO_InData)>(kalvo, "KV_DIO_InData")(1, &in), 21))
                return rc;
            // Mail is one process's at a time: a worker killed with it open
            // must not keep it from the next one.
            if (!mail) mail = bound<decltype(&KV_MailOpen)>(board, "KV_MailOpen")(0, 0) == 0;
            if (mail) mailed = mailRoundTrip(board, static_cast<uint8_t>(n));
            if (last) writeText(dir + "/dio.last", std::to_string(value));
        } else if (role == "ada") {
            if (int rc = code(bound<decltype(&KV_ADA_OutValue)>(kalvo, "KV_ADA_OutValue")(
                                  1, 1, value & 0x7FF),
                              30))
                return rc;
            int32_t in = 0;
            if (int rc =
                    code(bound<decltype(&KV_ADA_InValue)>(kalvo, "KV_ADA_InValue")(1, 1, &in), 31))
                return rc;
        } else if (role == "axsa") {
            uint16_t status = 0;
            int32_t data = 0;
            if (int rc = code(bound<decltype(&KV_AXSA_GetStatus)>(kalvo, "KV_AXSA_GetStatus")(
                                  1, 1, &status, &data),
                              40))
                return rc;
        } else if (role == "sio") {
            const uint8_t bytes[4] = {'k', 'i', 'l', 'l'};
            int32_t sent = 0;
            const int32_t rc = bound<decltype(&KV_SIO_PutData)>(kalvo, "KV_SIO_PutData")(
                1, 1, bytes, sizeof bytes, &sent, 200);
            // A worker killed in the middle of a message leaves the unit's
            // handshake where it was: the next block may time out (0x20) or
            // find a send error (0x10), which the living clear.
            if (rc == -1) return kLost;
            if (rc == 0x10) bound<decltype(&KV_SIO_ClearError)>(kalvo, "KV_SIO_ClearError")(1, 1);
            if (rc != 0 && rc != 0x10 && rc != 0x11 && rc != 0x20) return 50;
        }
        return 0;
    };
    if (int rc = load()) return rc;
    for (bool last = false;;) {
        last = fs::exists(dir + "/stop");
        const int rc = step(last);
        if (rc == kLost) {
            writeText(dir + "/" + role + ".noticed", "lost");
            unload();
            if (int failed = load()) return failed;
            continue;
        }
        if (rc != 0) return rc;
        if (last) break;
    }
    writeText(dir + "/" + role + ".idle", mailed ? "mail" : "-");
    while (!fs::exists(dir + "/exit")) std::this_thread::sleep_for(2ms);
    if (mail) bound<decltype(&KV_MailClose)>(board, "KV_MailClose")(0, 0);
    unload();
    return 0;
}

// The named objects of the runtime namespace; not its own lock and event
// files, nor the log slot maps' side files of lock bytes, which outlive
// their users by design (a dead holder's lock byte is simply free).
std::set<std::string> namedObjects(const std::string& runtimeDir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(runtimeDir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".") || name.ends_with(".slots")) continue;
        names.insert(entry.path().string());
    }
    return names;
}

// Processes holding a slot of the named log slot map, this probe included,
// after the slots of dead holders were freed.
int32_t logSlotsInUse(const char* map) {
    diaglog::LogSlotMap probe;
    return probe.open(map) ? probe.processCount() : -1;
}

TEST(KillStack, KilledProgramsLeaveNothingBehindAndTheSurvivorsOutputsStand) {
    testing::IsolatedEnvironment env;
    for (const char* name : {"Kalvo.ini", "ModelTbl.ini"})
        fs::copy_file(std::string(KALVO_SAMPLE_CONFIG) + "/" + name, env.work().file(name));
    std::ofstream(env.work().file("Kalvo.ini"), std::ios::app)
        << "[Simulation]\nEcho_1=" << kEchoStation << "\n";
    drivertest::PrivateHost host;
    std::string why;
    ASSERT_TRUE(host.start(env.work().file("devices"), env.work().file("devhost.log"), "tolva:id=0",
                           &why, {"--network", env.workDir()}))
        << why;
    NetworkAdmin admin(env.work().file("devices"));
    // The counts of open handles, views and files; the rest of the report
    // (the host's start, its records) belongs to one host.
    auto handleCounts = [] {
        const std::string report = drivertest::devctl("handles").output;
        size_t end = 0;
        for (int line = 0; line < 3 && end != std::string::npos; ++line)
            end = report.find('\n', end + (line ? 1 : 0));
        return report.substr(0, end);
    };
    const std::string handlesAtStart = handleCounts();
    const std::set<std::string> objectsAtStart = namedObjects(env.runtimeDir());

    const std::string dir = env.work().file("run");
    fs::create_directories(dir);
    const std::vector<std::string> roles = {"dio", "ada", "axsa", "sio"};
    std::vector<testing::ChildProcess> workers;
    for (const auto& role : roles)
        workers.push_back(testing::spawnChild("stack_worker", {role, dir}));

    std::mt19937 pick(12345);
    int kills = 0;
    const auto end = std::chrono::steady_clock::now() + runTime();
    bool restarted = false;
    while (std::chrono::steady_clock::now() < end) {
        if (!restarted && std::chrono::steady_clock::now() > end - runTime() / 2) {
            // The host goes: every worker notices, and goes on on a new one.
            // (Each has opened its unit first: one just started may not yet.)
            restarted = true;
            for (size_t i = 0; i < roles.size(); ++i)
                ASSERT_TRUE(eventually([&] {
                    return readText(dir + "/" + roles[i] + ".opened") ==
                           std::to_string(workers[i].pid());
                })) << roles[i]
                    << " never opened its unit";
            ::kill(host.pid(), SIGKILL);
            while (host.running()) std::this_thread::sleep_for(1ms);
            for (const auto& role : roles)
                EXPECT_TRUE(eventually([&] { return fs::exists(dir + "/" + role + ".noticed"); }))
                    << role << " did not notice the host's death";
            ASSERT_TRUE(host.start(env.work().file("devices"), env.work().file("devhost.log"),
                                   "tolva:id=0", &why, {"--network", env.workDir()}))
                << why;
        }
        std::this_thread::sleep_for(200ms);
        const size_t victim = pick() % workers.size();
        // A worker that ended by itself failed a call: its code says which.
        ASSERT_TRUE(workers[victim].running())
            << roles[victim] << " ended with " << workers[victim].wait(0ms) << "\n"
            << host.log();
        workers[victim].kill(SIGKILL);
        ++kills;
        workers[victim] = testing::spawnChild("stack_worker", {roles[victim], dir});
    }
    RecordProperty("kills", kills);

    // The survivors make their last writes and say so; none hangs.
    writeText(dir + "/stop", "stop");
    for (size_t i = 0; i < roles.size(); ++i) {
        EXPECT_TRUE(eventually([&] { return fs::exists(dir + "/" + roles[i] + ".idle"); }, 30s))
            << roles[i] << (workers[i].running() ? " hangs" : " ended early");
    }
    // The last DIO worker has mail and its echo: the dead never kept mail
    // from the living.
    EXPECT_EQ(readText(dir + "/dio.idle"), "mail");
    // Each survivor holds one slot of each log; the dead hold none.
    EXPECT_EQ(logSlotsInUse("KalvoLog.Map"), int32_t(roles.size()) + 1);
    EXPECT_EQ(logSlotsInUse("Pcimaster64Log.Map"), int32_t(roles.size()) + 1);
    const std::string last = readText(dir + "/dio.last");
    char expected[16];
    std::snprintf(expected, sizeof expected, "[0] out 0x%04x", std::stoi(last));
    EXPECT_TRUE(eventually([&] {
        return admin.describeUnit("DIO_1").find(expected) != std::string::npos;
    })) << expected
        << " / " << admin.describeUnit("DIO_1");

    writeText(dir + "/exit", "exit");
    for (size_t i = 0; i < roles.size(); ++i) EXPECT_EQ(workers[i].wait(30s), 0) << roles[i];

    // Every handle and view of the dead went with them, and the runtime
    // namespace holds what it held before the first worker.
    EXPECT_TRUE(restarted);
    EXPECT_TRUE(eventually([&] { return handleCounts() == handlesAtStart; }))
        << handlesAtStart << " / " << drivertest::devctl("handles").output;
    EXPECT_TRUE(eventually([&] { return namedObjects(env.runtimeDir()) == objectsAtStart; }))
        << [&] {
               std::string text = "left in the runtime namespace:";
               for (const std::string& name : namedObjects(env.runtimeDir()))
                   if (!objectsAtStart.count(name)) text += "\n  " + name;
               return text;
           }();
    EXPECT_EQ(host.stop(), 0) << host.log();
}

}  // namespace
}  // namespace kalvo::apitest
