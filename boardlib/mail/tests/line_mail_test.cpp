// The mail calls against a 4096-byte buffer as the window: the accesses the
// chip sees, the codes, the log lines and the line's named objects.
#include "boardlib/mail/line_mail.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>

#include "boardlib/mail/mail_events.h"
#include "boardlib/mail/mail_poll.h"
#include "boardlib/mail/tests/mail_test_support.h"
#include "platform/event.h"
#include "platform/mutex.h"
#include "tests/support/temp_dir.h"

namespace kalvo::boardlib {
namespace {

using namespace mail;
using test::Access;
using test::St16;

class LineMailTest : public ::testing::Test {
  protected:
    kalvo::testing::IsolatedEnvironment env_;
    test::TestLog log_;
    test::Window window_;
    std::unique_ptr<LineMail> mail_ = std::make_unique<LineMail>("KVMBrd0", 0, 0, log_.log);

    void openMail() {
        mail_->setWindow(window_.base());
        ASSERT_EQ(mail_->open(), 0);
    }
    // The chip fills receive buffer k: full and enabled, source and blocks.
    void fill(int k, int source, int blocks, const char* text) {
        window_.put16(k == 1 ? kReceiveControl1 : kReceiveControl2,
                      static_cast<uint16_t>(0xC0 | (source << 8) | blocks));
        std::memcpy(window_.bytes + (k == 1 ? kMailReceiveBuffer1 : kMailReceiveBuffer2), text,
                    std::strlen(text));
    }
    static platform::Event openEvent(const char* name) {
        return platform::Event::createOrOpen(name, true, false);
    }
};

TEST(MailNames, EventsAndMutexAreNamedAfterBoardAndLine) {
    char base[kNameRoom], name[kNameRoom];
    formatEventBaseName(base, kEventRecv1, 0);
    formatEventName(name, base, 0);
    EXPECT_STREQ(base, "MailRecv1_0");
    EXPECT_STREQ(name, "MailRecv1_00_MailEve");
    formatEventBaseName(base, kEventError, 3);
    formatEventName(name, base, 1);
    EXPECT_STREQ(name, "MailError_31_MailEve");
    formatMutexName(name, "KVMBrd2", 0);
    EXPECT_STREQ(name, "KVMBrd20_Mutx");
    EXPECT_STREQ(mailEventBase(kEventSendResult), "MailSeRes");
    EXPECT_STREQ(mailEventBase(kEventClose), "MailClose");
}

TEST_F(LineMailTest, OpenEnablesBothBuffersAndMarksTheLineWithTheMutex) {
    EXPECT_EQ(mail_->open(), 16);  // not mapped
    mail_->setWindow(window_.base());
    test::RecordingBus bus;
    ASSERT_EQ(mail_->open(), 0);
    EXPECT_EQ(bus.takeStores16(),
              (std::vector<Access>{St16(0x448, 0x30), St16(0x484, 0), St16(0x48C, 0x40),
                                   St16(0x448, 0x30), St16(0x484, 0), St16(0x490, 0x40)}));
    EXPECT_TRUE(
        log_.has("KVMBrd0: CreateMutex: Mail Open Mutex: Line(0): OK: Name(KVMBrd00_Mutx)"));

    EXPECT_EQ(mail_->open(), 18);  // already open here
    EXPECT_TRUE(bus.take().empty());

    // A second line object (another library or process) finds the mutex.
    LineMail other("KVMBrd0", 0, 0, log_.log);
    other.setWindow(window_.base());
    EXPECT_EQ(other.open(), 18);
    EXPECT_TRUE(
        log_.has("KVMBrd0: CreateMutex: Mail Open Mutex: Line(0): NG: Name(KVMBrd00_Mutx)"));
    EXPECT_TRUE(bus.take().empty());

    // Closing disables both buffers and gives the mark up.
    EXPECT_EQ(mail_->close(), 0);
    EXPECT_EQ(bus.takeStores16(),
              (std::vector<Access>{St16(0x448, 0x30), St16(0x484, 0), St16(0x48C, 0),
                                   St16(0x448, 0x30), St16(0x484, 0), St16(0x490, 0)}));
    EXPECT_TRUE(log_.has("KVMBrd0: DestoryMutex: Mail Open Mutex: Line(0)"));
    EXPECT_EQ(mail_->close(), 19);
    EXPECT_EQ(other.open(), 0);
    EXPECT_EQ(other.close(), 0);
}

TEST_F(LineMailTest, CallsCheckPointersLengthMappingAndOpenInThatOrder) {
    uint8_t data[256] = {};
    int32_t station = -7;
    uint16_t status = 0xABCD;
    test::RecordingBus bus;
    // Null pointers: nothing read or written.
    EXPECT_EQ(mail_->send(1, nullptr, 4), 3);
    EXPECT_EQ(mail_->receive(nullptr, 4, &station), 3);
    EXPECT_EQ(mail_->receive(data, 4, nullptr), 3);
    EXPECT_EQ(mail_->status(nullptr), 3);
    EXPECT_EQ(mail_->waitObject(nullptr), 3);
    // The length comes before the mapping.
    EXPECT_EQ(mail_->send(1, data, 0), 20);
    EXPECT_EQ(mail_->send(1, data, 257), 20);
    EXPECT_EQ(mail_->receive(data, -1, &station), 20);
    EXPECT_EQ(mail_->send(1, data, 1), 16);
    EXPECT_EQ(mail_->receive(data, 1, &station), 16);
    EXPECT_EQ(mail_->status(&status), 16);
    EXPECT_EQ(mail_->waitObject(&status), 16);
    EXPECT_EQ(mail_->close(), 16);
    mail_->setWindow(window_.base());
    EXPECT_EQ(mail_->send(1, data, 1), 19);
    EXPECT_EQ(mail_->receive(data, 1, &station), 19);
    EXPECT_EQ(mail_->status(&status), 19);
    EXPECT_EQ(mail_->waitObject(&status), 19);
    EXPECT_EQ(mail_->close(), 19);
    EXPECT_TRUE(bus.take().empty());
    EXPECT_EQ(station, -7);
    EXPECT_EQ(status, 0xABCD);
}

TEST_F(LineMailTest, SendWritesTheBufferThenTheControlWordLast) {
    openMail();
    test::RecordingBus bus;
    const uint8_t one = 0x5A;
    ASSERT_EQ(mail_->send(5, &one, 1), 0);
    std::vector<Access> seen = bus.take();
    const std::vector<Access> expected = {{false, 0x47C, 2, 0},   St16(0x448, 0x30),
                                          St16(0x484, 0),         St16(0x480, 0x1FFF),
                                          {true, 0x500, 1, 0x5A}, St16(0x47C, 0x4501)};
    EXPECT_EQ(seen, expected);

    struct Case {
        int32_t station;
        int32_t length;
        uint16_t control;
    } cases[] = {{63, 256, 0x7F20}, {0, 9, 0x4002}, {0, 8, 0x4001}, {0x105, 17, 0x4503}};
    uint8_t data[256];
    for (int i = 0; i < 256; ++i) data[i] = static_cast<uint8_t>(i * 7);
    for (const Case& c : cases) {
        window_.put16(kMailControl, 0);  // the chip finished the previous send
        bus.take();
        ASSERT_EQ(mail_->send(c.station, data, c.length), 0);
        std::vector<Access> stores = bus.takeStores16();
        ASSERT_FALSE(stores.empty());
        EXPECT_EQ(stores.back(), St16(0x47C, c.control)) << c.station << "/" << c.length;
        EXPECT_EQ(std::memcmp(window_.bytes + kMailSendBuffer, data, c.length), 0);
    }
}

TEST_F(LineMailTest, SendWhileTheChipIsStillSendingChangesNothing) {
    openMail();
    test::RecordingBus bus;
    bus.script(kMailControl, 0x4501);
    const uint8_t data[4] = {1, 2, 3, 4};
    uint16_t status = 0;
    window_.put16(kMailStatusRegister, 0x1);
    ASSERT_EQ(mail_->status(&status), 0);
    bus.take();
    EXPECT_EQ(mail_->send(7, data, 4), 21);
    EXPECT_EQ(bus.take(), (std::vector<Access>{{false, 0x47C, 2, 0x4501}}));
    EXPECT_EQ(window_.bytes[kMailSendBuffer], 0);
    // The refused send did not clear the status word; the earlier send
    // then completes as usual.
    bus.unscript(kMailControl);
    ASSERT_EQ(mail_->status(&status), 0);
    EXPECT_EQ(status, 0x0003);
}

TEST_F(LineMailTest, SendClearsTheStatusButMailWaitingAndReportsCompletion) {
    openMail();
    ASSERT_TRUE(mail_->createEvents());
    fill(1, 3, 1, "x");
    window_.put16(kMailStatusRegister, 0x7);
    uint16_t status = 0;
    ASSERT_EQ(mail_->status(&status), 0);
    EXPECT_EQ(status, 0x010E);

    const uint8_t data[3] = {9, 8, 7};
    ASSERT_EQ(mail_->send(2, data, 3), 0);
    window_.put16(kMailStatusRegister, 0);  // the send cleared it
    ASSERT_EQ(mail_->status(&status), 0);
    EXPECT_EQ(status, 0x0100);  // still sending: control word has bit 14

    // The chip finishes: bit 0, the send-result event, and a waiter sees 23
    // with the status word.
    window_.put16(kMailControl, 0x0501);
    ASSERT_EQ(mail_->status(&status), 0);
    EXPECT_EQ(status, 0x0101);
    platform::Event sendResult = openEvent("MailSeRes_00_MailEve");
    EXPECT_TRUE(sendResult.isSet());
    uint16_t out = 0;
    // The receive event of buffer 1 is lower-indexed: take it first.
    EXPECT_EQ(mail_->waitObject(&out), 24);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(mail_->waitObject(&out), 23);
    EXPECT_EQ(out, 0x0101);
    EXPECT_FALSE(sendResult.isSet());  // the waiter reset it
}

TEST_F(LineMailTest, ASendThatEndsBeforeTheNextPollIsStillReportedComplete) {
    openMail();
    ASSERT_TRUE(mail_->createEvents());
    const uint8_t data[1] = {1};
    ASSERT_EQ(mail_->send(2, data, 1), 0);
    window_.put16(kMailControl, 0x0201);  // done at once
    uint16_t status = 0;
    ASSERT_EQ(mail_->status(&status), 0);
    EXPECT_EQ(status & kStatusSendComplete, kStatusSendComplete);
    EXPECT_TRUE(openEvent("MailSeRes_00_MailEve").isSet());
}

TEST_F(LineMailTest, ReceiveCopiesTheSmallerOfLengthAndBlocksAndEnablesTheBufferAgain) {
    openMail();
    uint8_t data[64];
    int32_t station = -1;
    EXPECT_EQ(mail_->receive(data, 4, &station), 22);

    fill(1, 5, 3, "abcdefghijklmnopqrstuvwx");
    uint16_t status = 0;
    ASSERT_EQ(mail_->status(&status), 0);
    test::RecordingBus bus;
    std::memset(data, '.', sizeof data);
    ASSERT_EQ(mail_->receive(data, 4, &station), 0);
    EXPECT_EQ(station, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 6), "abcd..");
    std::vector<Access> seen = bus.take();
    EXPECT_EQ(seen.front(), (Access{false, 0x48C, 2, 0x05C3}));
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [](const Access& a) { return !a.store && a.bytes == 1; }),
              4);
    const std::vector<Access> tail(seen.end() - 3, seen.end());
    EXPECT_EQ(tail, (std::vector<Access>{St16(0x448, 0x30), St16(0x484, 0), St16(0x48C, 0x40)}));

    // The buffer is empty again: not read a second time.
    EXPECT_EQ(mail_->receive(data, 4, &station), 22);

    // A longer buffer than the mail: only the blocks received.
    fill(2, 63, 2, "0123456789ABCDEFGHIJ");
    ASSERT_EQ(mail_->status(&status), 0);
    std::memset(data, '.', sizeof data);
    ASSERT_EQ(mail_->receive(data, 64, &station), 0);
    EXPECT_EQ(station, 63);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 18), "0123456789ABCDEF..");
}

TEST_F(LineMailTest, BothBuffersFullAreReadOneAfterTheOtherWithOneEvent) {
    openMail();
    ASSERT_TRUE(mail_->createEvents());
    fill(1, 1, 1, "first");
    fill(2, 2, 1, "second");
    uint16_t status = 0;
    ASSERT_EQ(mail_->status(&status), 0);
    platform::Event recv1 = openEvent("MailRecv1_00_MailEve");
    platform::Event recv2 = openEvent("MailRecv2_00_MailEve");
    EXPECT_TRUE(recv1.isSet());
    EXPECT_FALSE(recv2.isSet());

    char data[8] = {};
    int32_t station = 0;
    ASSERT_EQ(mail_->receive(reinterpret_cast<uint8_t*>(data), 8, &station), 0);
    EXPECT_EQ(station, 1);
    EXPECT_STREQ(data, "first");
    ASSERT_EQ(mail_->status(&status), 0);
    EXPECT_FALSE(recv2.isSet());
    std::memset(data, 0, sizeof data);
    ASSERT_EQ(mail_->receive(reinterpret_cast<uint8_t*>(data), 8, &station), 0);
    EXPECT_EQ(station, 2);
    EXPECT_STREQ(data, "second");
}

TEST_F(LineMailTest, AMailArrivingBeforeTheNextPollInATakenBufferStillSignals) {
    openMail();
    ASSERT_TRUE(mail_->createEvents());
    fill(1, 1, 1, "one");
    uint16_t status = 0;
    ASSERT_EQ(mail_->status(&status), 0);
    platform::Event recv1 = openEvent("MailRecv1_00_MailEve");
    ASSERT_TRUE(recv1.reset());
    uint8_t data[8];
    int32_t station = 0;
    ASSERT_EQ(mail_->receive(data, 8, &station), 0);
    fill(1, 4, 1, "two");  // the chip fills it again at once
    ASSERT_EQ(mail_->status(&status), 0);
    EXPECT_TRUE(recv1.isSet());
}

TEST_F(LineMailTest, NoEnabledBufferSignalsTheErrorAndTheWaiterGetsMinusOne) {
    openMail();
    ASSERT_TRUE(mail_->createEvents());
    window_.put16(kReceiveControl1, 0);
    window_.put16(kReceiveControl2, 0);
    uint16_t status = 0;
    ASSERT_EQ(mail_->status(&status), 0);
    EXPECT_EQ(status, kStatusNoBuffer);
    uint16_t out = 0x77;
    EXPECT_EQ(mail_->waitObject(&out), -1);
    EXPECT_EQ(out, 0x77);
    EXPECT_FALSE(openEvent("MailError_00_MailEve").isSet());
}

TEST_F(LineMailTest, EventsAreCreatedAndDestroyedWithTheirLogLines) {
    ASSERT_TRUE(mail_->createEvents());
    EXPECT_TRUE(
        log_.has("MailRecv1_0: CreateEvent: Mail Event: Line(0): OK: Name(MailRecv1_00_MailEve)"));
    EXPECT_TRUE(
        log_.has("MailError_0: CreateEvent: Mail Event: Line(0): OK: Name(MailError_00_MailEve)"));
    platform::Event close = openEvent("MailClose_00_MailEve");
    EXPECT_FALSE(close.created());  // it was made by createEvents
    EXPECT_FALSE(close.isSet());
    mail_->destroyEvents();
    EXPECT_TRUE(log_.has("MailSeRes_0: DestoryEvent: Mail Event: Line(0)"));
    EXPECT_TRUE(close.isSet());  // signalled for waiters before it went
    // A second destroy has nothing to close.
    const size_t lines = log_.messages().size();
    mail_->destroyEvents();
    EXPECT_EQ(log_.messages().size(), lines);
}

TEST_F(LineMailTest, ClosingTheLineAfterTheUnmapStillGivesUpTheMutex) {
    openMail();
    test::RecordingBus bus;
    mail_->setWindow(nullptr);  // the closing sequence unmaps first
    mail_->closeIfOpen();
    EXPECT_TRUE(bus.take().empty());
    EXPECT_TRUE(log_.has("KVMBrd0: DestoryMutex: Mail Open Mutex: Line(0)"));
    platform::Mutex probe = platform::Mutex::createOrOpen("KVMBrd00_Mutx");
    EXPECT_TRUE(probe.created());
    probe.close();
    // Mapped again, mail is closed.
    mail_->setWindow(window_.base());
    EXPECT_EQ(mail_->close(), 19);
    mail_->closeIfOpen();  // nothing open: nothing happens
}

}  // namespace
}  // namespace kalvo::boardlib
