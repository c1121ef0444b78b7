// The device host dies, is stopped or restarts under running programs: each
// program learns at once, no call reports done what did not reach a unit,
// blocking waits end, the window of a lost board goes without any call
// faulting, and a program that opens its boards again meets the new host.
// Real programs (children of this test) against a real host.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "host/network_admin.h"
#include "kalvo/board_library.h"
#include "tests/support/child_process.h"
#include "tests/support/kalvo_loader.h"
#include "tests/support/private_host.h"
#include "tests/support/sample_network_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_files.h"

namespace kalvo::apitest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kernel::host::NetworkAdmin;
using testing::readText;
using testing::writeText;

// The bounds of the loss: 100 ms for the first failing call, 1 s for a wait
// to end; a sanitizer build runs everything several times slower.
#ifdef KALVO_SLOW_BUILD
constexpr int64_t kScale = 5;
#else
constexpr int64_t kScale = 1;
#endif
constexpr int64_t kNoticeNs = 100'000'000 * kScale;
constexpr int64_t kWaitEndNs = 1'000'000'000 * kScale;

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

template <class Fn>
Fn bound(platform::ModuleHandle module, const char* name) {
    return reinterpret_cast<Fn>(platform::getProcAddress(module, name));
}

// A program that writes and reads DIO_1 every 5 ms (and asks its condition)
// until the folder's "stop" file appears, recording each call's time and
// codes in "calls". Its unload must then end normally. With "reload" it
// loads the library again and writes 0x5A5A through whatever host serves.
KALVO_CHILD(dio_through_loss) {
    const std::string dir = args.at(0);
    {
        KalvoLibrary kv;
        if (!kv.loaded() || kv.KV_DIO_Open(1) != 0) return 10;
        writeText(dir + "/ready", "ready");
        std::string calls;
        for (uint16_t n = 1; !fs::exists(dir + "/stop"); ++n) {
            const int64_t t = nowNs();
            uint16_t in = 0;
            int32_t condition = -5;
            const int32_t out = kv.KV_DIO_OutData(1, n);
            const int32_t read = kv.KV_DIO_InData(1, &in);
            const int32_t asked = kv.KV_DIO_GetCondition(1, &condition);
            calls += std::to_string(t) + " " + std::to_string(out) + " " + std::to_string(read) +
                     " " + std::to_string(asked) + " " + std::to_string(condition) + "\n";
            std::this_thread::sleep_for(5ms);
        }
        writeText(dir + "/calls", calls);
    }
    if (args.size() < 2 || args[1] != "reload") return 0;
    KalvoLibrary again;
    if (!again.loaded() || again.KV_DIO_Open(1) != 0) return 20;
    if (again.KV_DIO_OutData(1, 0x5A5A) != 0) return 21;
    writeText(dir + "/reloaded", "reloaded");
    while (!fs::exists(dir + "/exit")) std::this_thread::sleep_for(5ms);
    return 0;
}

// A new program on the new host: one word written.
KALVO_CHILD(dio_once) {
    KalvoLibrary kv;
    if (!kv.loaded() || kv.KV_DIO_Open(1) != 0) return 10;
    return kv.KV_DIO_OutData(1, std::stoi(args.at(0), nullptr, 0)) == 0 ? 0 : 11;
}

struct Call {
    int64_t t;
    int32_t out, in, asked, condition;
};

std::vector<Call> readCalls(const std::string& path) {
    std::vector<Call> calls;
    std::istringstream text(readText(path));
    for (Call c{}; text >> c.t >> c.out >> c.in >> c.asked >> c.condition;) calls.push_back(c);
    return calls;
}

class HostLoss : public ::testing::Test {
  protected:
    void startHost(const std::vector<std::string>& options = {}) {
        std::vector<std::string> all = {"--network", env_.workDir()};
        all.insert(all.end(), options.begin(), options.end());
        std::string why;
        ASSERT_TRUE(host_.start(env_.work().file("devices"), env_.work().file("devhost.log"),
                                "tolva:id=0", &why, all))
            << why;
    }
    // SIGKILL, then the moment it is known dead (its sockets are closed by then).
    int64_t killHost() {
        ::kill(host_.pid(), SIGKILL);
        while (host_.running()) std::this_thread::sleep_for(1ms);
        return nowNs();
    }
    bool waitFor(const std::string& file, std::chrono::seconds limit = 30s) {
        return eventually([&] { return fs::exists(dir() + "/" + file); }, limit);
    }
    std::string dir() const { return env_.workDir(); }
    void TearDown() override { host_.stop(); }

    testing::IsolatedEnvironment env_;
    drivertest::PrivateHost host_;
};

TEST_F(HostLoss, EveryCallAfterTheLossFailsAndNoneReportsDone) {
    enum How { Kill, StopForce, Restart };
    const struct {
        const char* name;
        How how;
        const char* why;  // in the program's one log line about the loss
    } cases[] = {{"killed", Kill, "killed or crashed"},
                 {"stopped with --force", StopForce, "was stopped"},
                 {"restarted", Restart, "killed or crashed"}};
    writeSampleFolder(dir(), 0, "");
    int losses = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* file : {"stop", "ready", "calls", "reloaded", "exit"})
            fs::remove(dir() + "/" + file);
        startHost();
        auto program =
            testing::spawnChild("dio_through_loss", {dir(), c.how == Restart ? "reload" : "stay"});
        ASSERT_TRUE(waitFor("ready"));
        std::this_thread::sleep_for(200ms);  // calls that reach the units first
        int64_t gone = 0;
        if (c.how == StopForce) {
            const auto stop = drivertest::devctl("stop --force");
            EXPECT_EQ(stop.exitCode, 0) << stop.output;
            while (host_.running()) std::this_thread::sleep_for(1ms);
            gone = nowNs();
        } else {
            gone = killHost();
        }
        if (c.how == Restart) {
            startHost();
            // A new program works at once against the new host...
            auto fresh = testing::spawnChild("dio_once", {"0x1234"});
            EXPECT_EQ(fresh.wait(), 0);
            NetworkAdmin admin(env_.work().file("devices"));
            EXPECT_TRUE(eventually([&] {
                return admin.describeUnit("DIO_1").find("[0] out 0x1234") != std::string::npos;
            })) << admin.describeUnit("DIO_1");
        }
        while (nowNs() < gone + 2 * kNoticeNs) std::this_thread::sleep_for(10ms);
        writeText(dir() + "/stop", "stop");
        if (c.how == Restart) {
            // The old program reloaded the library: it writes through the new host.
            ASSERT_TRUE(waitFor("reloaded")) << "exit " << program.wait(0ms);
            NetworkAdmin admin(env_.work().file("devices"));
            EXPECT_TRUE(eventually([&] {
                return admin.describeUnit("DIO_1").find("[0] out 0x5a5a") != std::string::npos;
            })) << admin.describeUnit("DIO_1");
            writeText(dir() + "/exit", "exit");
        }
        EXPECT_EQ(program.wait(), 0) << host_.log();
        // Its log says it once, with the board and the reason.
        std::vector<std::string> said;
        for (const auto& entry : fs::directory_iterator(dir())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("KalvoLog_", 0) != 0 || entry.path().extension() != ".log") continue;
            std::istringstream log(readText(entry.path().string()));
            for (std::string line; std::getline(log, line);)
                if (line.find("Board(1) lost: ") != std::string::npos) said.push_back(line);
        }
        ASSERT_EQ(said.size(), size_t(++losses));
        EXPECT_TRUE(std::any_of(said.begin(), said.end(), [&](const std::string& line) {
            return line.find(c.why) != std::string::npos;
        })) << said.back();

        const std::vector<Call> calls = readCalls(dir() + "/calls");
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front().out, 0) << "the first call reached the unit";
        bool failed = false;
        for (const Call& call : calls) {
            const bool lost =
                call.out == -1 && call.in == -1 && call.asked == -1 && call.condition == 0;
            // ...while the old program keeps failing: no call after the loss
            // is reported done, not even once the new host serves.
            if (call.t > gone + kNoticeNs) {
                EXPECT_TRUE(lost) << (call.t - gone) / 1'000'000
                                  << " ms after the loss: " << call.out << " " << call.in << " "
                                  << call.asked << " " << call.condition;
            }
            if (failed) {
                EXPECT_TRUE(call.out != 0 && call.in != 0 && call.asked != 0)
                    << "a call done after one failed: " << (call.t - gone) / 1'000'000
                    << " ms after the loss: " << call.out << " " << call.in << " " << call.asked
                    << " " << call.condition;
            }
            failed = failed || call.out != 0 || call.in != 0;
        }
        EXPECT_TRUE(failed);
        host_.stop();
    }
}

// Three threads blocked on the unit and the board (a serial receive without
// a time limit, an ADA command the unit never answers, a mail wait); their
// results in "waits" as "<name> <end time> <code>".
KALVO_CHILD(blocked_waits) {
    const std::string dir = args.at(0);
    FamilyCalls kv;
    platform::ModuleHandle board = platform::loadLibrary("Pcimaster64");  // libKalvo's own
    if (!kv.loaded() || !board) return 10;
    if (kv.KV_SIO_Open(1) != 0 || kv.KV_ADA_Open(1) != 0) return 11;
    if (kv.KV_SIO_Config(1, 1, 0, 0, 0, 0, 4096, 4096) != 0) return 12;
    if (bound<decltype(&KV_MailOpen)>(board, "KV_MailOpen")(0, 0) != 0) return 13;
    struct Result {
        std::atomic<int64_t> t{0};
        std::atomic<int32_t> rc{0};
    } results[3];
    auto finish = [&](int i, int32_t rc) {
        results[i].rc = rc;
        results[i].t = nowNs();
    };
    std::thread sio([&] {
        uint8_t bytes[16];
        int32_t got = 0;
        finish(0, kv.KV_SIO_GetData(1, 1, bytes, sizeof bytes, &got, 0));
    });
    std::thread ada([&] {
        uint16_t reply = 0;
        // Not a command code of the unit's: it is never answered.
        finish(1, kv.KV_ADA_PutCmd(1, 1, 0x1000, 0, &reply));
    });
    std::thread mail([&] {
        uint16_t status = 0;
        finish(2, bound<decltype(&KV_MailWaitObject)>(board, "KV_MailWaitObject")(0, 0, &status));
    });
    std::this_thread::sleep_for(300ms);
    for (const Result& r : results)
        if (r.t != 0) return 14;  // a wait that did not wait
    writeText(dir + "/ready", "ready");
    sio.join();
    ada.join();
    mail.join();
    const char* names[] = {"sio", "ada", "mail"};
    std::string text;
    for (int i = 0; i < 3; ++i)
        text += std::string(names[i]) + " " + std::to_string(results[i].t.load()) + " " +
                std::to_string(results[i].rc.load()) + "\n";
    writeText(dir + "/waits", text);
    platform::freeLibrary(board);
    return 0;
}

TEST_F(HostLoss, BlockedWaitsEndWithTheLostCode) {
    writeSampleFolder(dir(), 30, "");  // an unanswered command would wait 6 s
    startHost();
    auto program = testing::spawnChild("blocked_waits", {dir()});
    ASSERT_TRUE(waitFor("ready", 60s)) << "exit " << program.wait(0ms);
    const int64_t gone = killHost();
    ASSERT_EQ(program.wait(), 0);
    std::istringstream waits(readText(dir() + "/waits"));
    int ended = 0;
    for (std::string name; waits >> name;) {
        int64_t t = 0;
        int32_t rc = 0;
        waits >> t >> rc;
        ++ended;
        EXPECT_EQ(rc, -1) << name;
        EXPECT_LT(t - gone, kWaitEndNs)
            << name << " ended " << (t - gone) / 1'000'000 << " ms late";
    }
    EXPECT_EQ(ended, 3);
}

// Threads hammering every kind of window access of the board library while
// the host dies: none may fault (a fault ends the child with SIGSEGV), each
// call after the loss answers -1, and in the end the window is memory that
// faults, so a pointer kept into it reaches nothing.
KALVO_CHILD(window_hammer) {
    const std::string dir = args.at(0);
    platform::ModuleHandle board =
        platform::loadLibrary((std::string(KALVO_BOARDLIB_DIR) + "/Pcimaster64.so").c_str());
    if (!board || bound<decltype(&KV_open)>(board, "KV_open")(0) != 0) return 10;
    void* window = nullptr;
    auto attach = bound<decltype(&KV_Attach)>(board, "KV_Attach");
    if (attach(0, 0, &window) != 0) return 11;
    auto getReg64 = bound<decltype(&KV_GetReg64)>(board, "KV_GetReg64");
    auto setReg16 = bound<decltype(&KV_SetReg16)>(board, "KV_SetReg16");
    auto getBytes = bound<decltype(&KV_GetMemByte)>(board, "KV_GetMemByte");
    auto setShort = bound<decltype(&KV_SetMemShort)>(board, "KV_SetMemShort");
    auto setBytes = bound<decltype(&KV_SetMemByte)>(board, "KV_SetMemByte");
    auto check = bound<decltype(&KV_Ck)>(board, "KV_Ck");
    std::atomic<bool> bad{false};
    // Long GM accesses keep their threads inside the window nearly all the
    // time (a retirement that did not wait for them would fault them); the
    // register calls are single accesses, without a lock.
    auto hammer = [&](int kind) {
        int after = 0;  // calls since this thread first saw the loss
        static thread_local uint8_t bytes[512];
        for (uint16_t n = 0; after < 2000; ++n) {
            uint64_t reg = 0;
            uint16_t word = n;
            int32_t rc = 0;
            switch (kind) {
                case 0:
                    rc = getBytes(0, 0, bytes, 0, 0, 512);
                    break;
                case 1:
                    rc = setBytes(0, 0, bytes, 0, 0, 256);
                    break;
                case 2:
                    rc = getReg64(0, 0, 0x428, &reg) | setShort(0, 0, &word, 3, 0, 1);
                    break;
                default:
                    rc = check(0, 0, &word) | setReg16(0, 0, 0x40C, 0);
            }
            if (after > 0 && rc == 0) bad = true;
            if (rc == -1) ++after;
        }
    };
    std::vector<std::thread> threads;
    for (int kind = 0; kind < 4; ++kind) threads.emplace_back(hammer, kind);
    writeText(dir + "/ready", "ready");
    for (auto& t : threads) t.join();
    if (bad) return 12;
    // The window is retired (once the calls that were in it are out): no
    // access there, and the board hands it out no more.
    auto permissions = [&] {
        std::ifstream maps("/proc/self/maps");
        for (std::string line; std::getline(maps, line);) {
            uintptr_t from = 0, to = 0;
            char p[8] = {};
            const auto at = reinterpret_cast<uintptr_t>(window);
            if (std::sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, p) == 3 && at >= from &&
                at < to)
                return std::string(p);
        }
        return std::string();
    };
    if (!eventually([&] { return permissions() == "---p"; })) return 13;
    void* again = nullptr;
    if (attach(0, 0, &again) != -1) return 14;
    if (bound<decltype(&KV_close)>(board, "KV_close")(0) != 0) return 15;
    platform::freeLibrary(board);
    return 0;
}

TEST_F(HostLoss, TheWindowGoesOnlyWhenNoCallIsInIt) {
    writeSampleFolder(dir(), 0, "");
    // Each round catches a retirement that does not wait for the calls in
    // the window about every second time; four rounds nearly always.
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        fs::remove(dir() + "/ready");
        startHost();
        auto program = testing::spawnChild("window_hammer", {dir()});
        ASSERT_TRUE(waitFor("ready")) << "exit " << program.wait(0ms);
        std::this_thread::sleep_for(50ms);
        killHost();
        EXPECT_EQ(program.wait(), 0) << "12: a call done after the loss, 13: the window still "
                                        "accessible, 14: still handed out, 128+: a fault";
    }
}

}  // namespace
}  // namespace kalvo::apitest
