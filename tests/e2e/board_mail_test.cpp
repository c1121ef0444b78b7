// The mail calls of the Dualmaster build against a real device host on a
// simulated board, from real processes: the cross-process mail-open mark, a
// waiter woken by KV_close in another thread, and a mail that the simulated
// line's echo station sends back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/module.h"
#include "tests/support/child_process.h"
#include "tests/support/private_host.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

// The calls bound by name, as the API library binds a board library. The
// library is loaded after the test's environment is in place, so its log
// and named objects are the test's own.
struct BoardLibrary {
    kalvo::platform::ModuleHandle module = nullptr;
    int32_t (*open)(int32_t) = nullptr;
    int32_t (*close)(int32_t) = nullptr;
    int32_t (*start)(int32_t, int32_t, int32_t, int32_t, int32_t) = nullptr;
    int32_t (*mailOpen)(int32_t, int32_t) = nullptr;
    int32_t (*mailClose)(int32_t, int32_t) = nullptr;
    int32_t (*mailSend)(int32_t, int32_t, int32_t, const uint8_t*, int32_t) = nullptr;
    int32_t (*mailReceive)(int32_t, int32_t, uint8_t*, int32_t, int32_t*) = nullptr;
    int32_t (*mailStatus)(int32_t, int32_t, uint16_t*) = nullptr;
    int32_t (*mailWait)(int32_t, int32_t, uint16_t*) = nullptr;
    int32_t (*getReg16)(int32_t, int32_t, int32_t, uint16_t*) = nullptr;

    template <class F>
    bool bind(F& fn, const char* name) {
        fn = reinterpret_cast<F>(kalvo::platform::getProcAddress(module, name));
        return fn != nullptr;
    }
    bool load() {
        module = kalvo::platform::loadLibrary(KALVO_DUALMASTER_PATH);
        return module != nullptr && bind(open, "KV_open") && bind(close, "KV_close") &&
               bind(start, "KV_start") && bind(mailOpen, "KV_MailOpen") &&
               bind(mailClose, "KV_MailClose") && bind(mailSend, "KV_MailSend") &&
               bind(mailReceive, "KV_MailReceive") && bind(mailStatus, "KV_MailStatus") &&
               bind(mailWait, "KV_MailWaitObject") && bind(getReg16, "KV_GetReg16");
    }
    ~BoardLibrary() {
        if (module != nullptr) kalvo::platform::freeLibrary(module);
    }
};

// Another application: opens board 0 and tries to open mail on its line;
// the exit status is the code (18 as 18, 0 as 0, anything else 100+).
KALVO_CHILD(try_mail_open) {
    BoardLibrary lib;
    if (!lib.load()) return 101;
    if (lib.open(0) != 0) return 102;
    const int32_t rc = lib.mailOpen(0, 0);
    if (rc == 0) lib.mailClose(0, 0);
    lib.close(0);
    return rc == 0 || rc == 18 ? rc : 103;
}

class MailHostE2E : public ::testing::Test {
  protected:
    kalvo::testing::IsolatedEnvironment env_;
    kalvo::drivertest::PrivateHost host_;
    BoardLibrary lib_;

    // Host options beyond the board set.
    virtual std::vector<std::string> hostOptions() { return {}; }

    void SetUp() override {
        std::string why;
        ASSERT_TRUE(host_.start(env_.work().file("devices"), env_.work().file("devhost.log"),
                                "kvmdrv:id=0", &why, hostOptions()))
            << why;
        ASSERT_TRUE(lib_.load());
        ASSERT_EQ(lib_.open(0), 0);
    }
};

TEST_F(MailHostE2E, ASecondProcessGets18WhileMailIsOpenHere) {
    ASSERT_EQ(lib_.mailOpen(0, 0), 0);
    auto child = kalvo::testing::spawnChild("try_mail_open");
    EXPECT_EQ(child.wait(), 18);
    ASSERT_EQ(lib_.mailClose(0, 0), 0);
    auto again = kalvo::testing::spawnChild("try_mail_open");
    EXPECT_EQ(again.wait(), 0);
    EXPECT_EQ(lib_.close(0), 0);
}

TEST_F(MailHostE2E, KvCloseWakesAWaiterInAnotherThreadWith25) {
    ASSERT_EQ(lib_.mailOpen(0, 0), 0);
    auto waiter = std::async(std::launch::async, [&] {
        uint16_t status = 0xFFFF;
        const int32_t rc = lib_.mailWait(0, 0, &status);
        return std::make_pair(rc, status);
    });
    kalvo::platform::sleepMs(50);
    ASSERT_EQ(lib_.close(0), 0);
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
    auto [rc, status] = waiter.get();
    EXPECT_EQ(rc, 25);
    EXPECT_EQ(status, 0);
    // Mail was closed with the board: another process may open it now.
    auto child = kalvo::testing::spawnChild("try_mail_open");
    EXPECT_EQ(child.wait(), 0);
}

// A line with an echo station at address 5, which answers every mail with
// the same data and its own address as the source.
class MailEchoE2E : public MailHostE2E {
  protected:
    std::vector<std::string> hostOptions() override {
        env_.work().write("network.txt", "[board 0]\nstation 5 echo\n");
        return {"--network", env_.work().file("network.txt"), "--cycle-us", "1000"};
    }
};

// The master joins as the configuration tool has it (address 0, 32
// stations, so station 5 is on its line) and sends once the driver's connect
// sequence has the line running: a mail handed to a stopped line finds nobody.
TEST_F(MailEchoE2E, AMailSentToTheEchoStationComesBackFromIt) {
    ASSERT_EQ(lib_.start(0, 0, 0, 32, 4), 0);
    uint16_t command = 0;
    for (int i = 0; i < 500 && (command & 0x200) == 0; ++i) {
        ASSERT_EQ(lib_.getReg16(0, 0, 0x44C, &command), 0);
        if ((command & 0x200) == 0) kalvo::platform::sleepMs(10);
    }
    ASSERT_NE(command & 0x200, 0) << "the line never ran";
    ASSERT_EQ(lib_.mailOpen(0, 0), 0);
    uint8_t data[20];
    for (int i = 0; i < 20; ++i) data[i] = static_cast<uint8_t>(0x30 + i);
    ASSERT_EQ(lib_.mailSend(0, 0, 5, data, sizeof data), 0);

    // The send's completion and the received mail each end a wait.
    auto waiter = std::async(std::launch::async, [&] {
        bool sent = false, received = false;
        uint16_t status = 0;
        for (int i = 0; i < 4 && !(sent && received); ++i) {
            const int32_t rc = lib_.mailWait(0, 0, &status);
            if (rc == 23)
                sent = (status & 1) != 0;
            else if (rc == 24)
                received = true;
            else
                return rc;
        }
        return sent && received ? 0 : -2;
    });
    if (waiter.wait_for(10s) != std::future_status::ready) {
        lib_.close(0);  // wakes the waiter
        FAIL() << "no send result or received mail within 10 s";
    }
    EXPECT_EQ(waiter.get(), 0);

    uint8_t back[64] = {};
    int32_t source = -1;
    ASSERT_EQ(lib_.mailReceive(0, 0, back, sizeof back, &source), 0);
    EXPECT_EQ(source, 5);
    // Three 8-byte blocks came back: the 20 bytes and the rest of the block.
    EXPECT_EQ(std::memcmp(back, data, sizeof data), 0);
    uint16_t status = 0;
    ASSERT_EQ(lib_.mailStatus(0, 0, &status), 0);
    EXPECT_EQ(status & 0x0101, 0x0001);  // sent, nothing more waiting
    EXPECT_EQ(lib_.mailClose(0, 0), 0);
    EXPECT_EQ(lib_.close(0), 0);
}

}  // namespace
