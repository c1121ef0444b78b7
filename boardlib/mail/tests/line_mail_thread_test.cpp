// The mail thread, waiters in other threads and a second process: the
// lifetime rules that keep them off freed memory and the cross-process mark.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

#include "boardlib/mail/line_mail.h"
#include "boardlib/mail/mail_poll.h"
#include "boardlib/mail/tests/mail_test_support.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace kalvo::boardlib {
namespace {

using namespace mail;
using namespace std::chrono_literals;

// Opens mail on board 0 line 0 over a private window, reports "open" through
// a file and holds mail open until the file "release" appears.
KALVO_CHILD(hold_mail) {
    test::TestLog log;
    test::Window window;
    LineMail mail("KVMBrd0", 0, 0, log.log);
    mail.setWindow(window.base());
    const int32_t rc = mail.open();
    // Written whole under another name and renamed, so the parent never
    // reads the file between its creation and its contents.
    FILE* f = std::fopen("opened.tmp", "w");
    if (f != nullptr) {
        std::fprintf(f, "%d", rc);
        std::fclose(f);
        std::rename("opened.tmp", "opened");
    }
    if (rc != 0) return 1;
    for (int i = 0; i < 3000 && ::access("release", F_OK) != 0; ++i) platform::sleepMs(10);
    return mail.close() == 0 ? 0 : 2;
}

class MailThreadTest : public ::testing::Test {
  protected:
    kalvo::testing::IsolatedEnvironment env_;
    test::TestLog log_;
    test::Window window_;
    std::unique_ptr<LineMail> mail_ = std::make_unique<LineMail>("KVMBrd0", 0, 0, log_.log);

    void SetUp() override {
        mail_->setWindow(window_.base());
        ASSERT_TRUE(mail_->startThread());
        ASSERT_TRUE(mail_->createEvents());
    }
};

TEST_F(MailThreadTest, ThePollingThreadSignalsAReceivedMailOnlyWhileMailIsOpen) {
    window_.put16(kReceiveControl1, 0xC0 | (9 << 8) | 1);
    std::memcpy(window_.bytes + kMailReceiveBuffer1, "hello", 5);
    platform::Event recv1 = platform::Event::createOrOpen("MailRecv1_00_MailEve", true, false);
    platform::sleepMs(60);
    EXPECT_FALSE(recv1.isSet());  // mail closed: no poll

    ASSERT_EQ(mail_->open(), 0);  // enables the buffers, so the chip fills again
    window_.put16(kReceiveControl1, 0xC0 | (9 << 8) | 1);
    uint16_t status = 0xFFFF;
    ASSERT_EQ(mail_->waitObject(&status), 24);
    EXPECT_EQ(status, 0);
    char data[8] = {};
    int32_t station = 0;
    ASSERT_EQ(mail_->receive(reinterpret_cast<uint8_t*>(data), 8, &station), 0);
    EXPECT_EQ(station, 9);
    EXPECT_STREQ(data, "hello");

    mail_->closeIfOpen();
    mail_->destroyEvents();
    mail_->stopThread(true);
    EXPECT_TRUE(log_.has("KVMBrd0: CreateThread: Mail Thread: Line(0): OK"));
    EXPECT_TRUE(log_.has("KVMBrd0: DestoryThread: Mail Thread: Line(0)"));
}

TEST_F(MailThreadTest, ClosingTheLineWakesAWaiterInAnotherThreadWith25) {
    ASSERT_EQ(mail_->open(), 0);
    std::atomic<bool> waiting{false};
    auto waiter = std::async(std::launch::async, [&] {
        uint16_t status = 0xFFFF;
        waiting = true;
        const int32_t rc = mail_->waitObject(&status);
        return std::make_pair(rc, status);
    });
    while (!waiting) std::this_thread::yield();
    platform::sleepMs(30);
    // The closing sequence as KV_close runs it, then the record goes; the
    // waiter holds its own references.
    mail_->setWindow(nullptr);
    mail_->closeIfOpen();
    mail_->destroyEvents();
    mail_->stopThread(true);
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    auto [rc, status] = waiter.get();
    EXPECT_EQ(rc, 25);
    EXPECT_EQ(status, 0);
    mail_.reset();
}

TEST_F(MailThreadTest, AnUnwaitedStopLeavesNoThreadOnTheFreedRecord) {
    ASSERT_EQ(mail_->open(), 0);
    platform::sleepMs(30);
    // Unload and a failed open: no wait, the record is deleted at once.
    mail_->closeIfOpen();
    mail_->destroyEvents();
    mail_->stopThread(false);
    mail_.reset();
    // A record destroyed with its thread still running stops it too.
    auto again = std::make_unique<LineMail>("KVMBrd1", 1, 0, log_.log);
    again->setWindow(window_.base());
    ASSERT_TRUE(again->startThread());
    ASSERT_EQ(again->open(), 0);
    again.reset();
    platform::sleepMs(40);
}

TEST_F(MailThreadTest, StatusPollsBesideTheThread) {
    ASSERT_EQ(mail_->open(), 0);
    std::atomic<bool> stop{false};
    // The chip side: buffers fill and sends finish while both poll.
    std::thread chip([&] {
        for (int i = 0; !stop; ++i) {
            window_.put16(kReceiveControl2, (i & 1) ? 0xC1 : 0x40);
            window_.put16(kMailControl, (i & 2) ? 0x4001 : 0x0001);
            platform::sleepMs(1);
        }
    });
    uint16_t status = 0;
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(mail_->status(&status), 0);
        EXPECT_EQ(status & kStatusNoBuffer, 0);
    }
    stop = true;
    chip.join();
    mail_->stopThread(true);
}

TEST_F(MailThreadTest, ASecondProcessCannotOpenMailWhileTheFirstHasIt) {
    auto child = kalvo::testing::spawnChild("hold_mail");
    for (int i = 0; i < 1000 && !env_.work().exists("opened"); ++i) platform::sleepMs(10);
    ASSERT_EQ(env_.work().read("opened"), "0");
    EXPECT_EQ(mail_->open(), 18);
    EXPECT_TRUE(
        log_.has("KVMBrd0: CreateMutex: Mail Open Mutex: Line(0): NG: Name(KVMBrd00_Mutx)"));
    env_.work().write("release", "");
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(mail_->open(), 0);
    // And the other way round.
    auto second = kalvo::testing::spawnChild("hold_mail");
    EXPECT_EQ(second.wait(), 1);
    EXPECT_EQ(env_.work().read("opened"), "18");
    mail_->stopThread(true);
}

}  // namespace
}  // namespace kalvo::boardlib
