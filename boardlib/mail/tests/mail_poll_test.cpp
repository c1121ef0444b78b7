// The poll as a function of the chip's registers and the previous poll.
#include "boardlib/mail/mail_poll.h"

#include <gtest/gtest.h>

#include "boardlib/mail/tests/mail_test_support.h"

namespace kalvo::boardlib::mail {
namespace {

constexpr uint16_t kEnabled = 0x40;
constexpr uint16_t kFull = 0xC0;

PollRegisters regs(uint16_t status, uint16_t r1, uint16_t r2, uint16_t control = 0) {
    return {status, r1, r2, control, control};
}

TEST(MailPoll, ChipStatusBitsMoveIntoTheStatusWord) {
    PollState st;
    // Bits 0..2 go up one place, bit 5 goes to bit 4; bits 3, 4, 6.. are dropped.
    applyPoll(st, regs(0x0001, kEnabled, kEnabled));
    EXPECT_EQ(st.status, 0x0002);
    applyPoll(st, regs(0x0007, kEnabled, kEnabled));
    EXPECT_EQ(st.status, 0x000E);
    applyPoll(st, regs(0x0020, kEnabled, kEnabled));
    EXPECT_EQ(st.status, 0x0010);
    applyPoll(st, regs(0xFFD8, kEnabled, kEnabled));
    EXPECT_EQ(st.status, 0x0000);
}

TEST(MailPoll, NoBufferEnabledSetsBit5AndSignalsTheErrorAtEveryPoll) {
    PollState st;
    for (int i = 0; i < 3; ++i) {
        PollSignals s = applyPoll(st, regs(0, 0, 0));
        EXPECT_EQ(st.status, kStatusNoBuffer);
        EXPECT_TRUE(s.error);
        EXPECT_FALSE(s.recv1 || s.recv2 || s.sendResult);
    }
    // Either buffer enabled, or full without the enable bit, clears it.
    EXPECT_FALSE(applyPoll(st, regs(0, 0, kEnabled)).error);
    EXPECT_FALSE(applyPoll(st, regs(0, 0x80, 0)).error);
    EXPECT_EQ(st.status & kStatusNoBuffer, 0);
}

TEST(MailPoll, SendCompletesWhenBit14ClearsAfterAPollThatSawItSet) {
    PollState st;
    // A busy control register at a poll arms the completion.
    EXPECT_FALSE(applyPoll(st, regs(0, kEnabled, kEnabled, 0x4501)).sendResult);
    EXPECT_EQ(st.prevSend, kSendWasBusy);
    EXPECT_FALSE(applyPoll(st, regs(0, kEnabled, kEnabled, 0x4501)).sendResult);

    PollSignals s = applyPoll(st, regs(0x0001, kEnabled, kEnabled, 0x0501));
    EXPECT_TRUE(s.sendResult);
    EXPECT_EQ(st.status, kStatusSendComplete | 0x0002);
    EXPECT_EQ(st.prevSend, 0);

    // Bit 0 stays, and the event is not repeated.
    s = applyPoll(st, regs(0, kEnabled, kEnabled, 0));
    EXPECT_FALSE(s.sendResult);
    EXPECT_EQ(st.status, kStatusSendComplete);
}

TEST(MailPoll, SendStateFollowsTheSecondReadOfTheControlRegister) {
    PollState st;
    st.prevSend = kSendWasBusy;
    // Cleared at the first read, set again at the second: a completion, and
    // the next send is already in progress.
    PollSignals s = applyPoll(st, {0, kEnabled, kEnabled, 0x0000, 0x4001});
    EXPECT_TRUE(s.sendResult);
    EXPECT_EQ(st.prevSend, kSendWasBusy);
}

TEST(MailPoll, BothBuffersFullSignalOnlyBuffer1ThenBuffer2BecomesPending) {
    PollState st;
    PollSignals s = applyPoll(st, regs(0, kFull | 0x0501, kFull | 0x0702));
    EXPECT_TRUE(s.recv1);
    EXPECT_FALSE(s.recv2);
    EXPECT_EQ(st.pending, 1);
    EXPECT_EQ(st.status, kStatusMailWaiting);
    EXPECT_EQ(st.prevRecv, 3);

    // Buffer 1 taken and enabled again: buffer 2 is next, without an event
    // (it was full at the previous poll already).
    s = applyPoll(st, regs(0, kEnabled, kFull | 0x0702));
    EXPECT_FALSE(s.any());
    EXPECT_EQ(st.pending, 2);

    s = applyPoll(st, regs(0, kEnabled, kEnabled));
    EXPECT_EQ(st.pending, 0);
    EXPECT_EQ(st.status, 0);
    EXPECT_EQ(st.prevRecv, 0);
}

TEST(MailPoll, BothFullKeepsAPendingBuffer2AndSignalsANewlyFullBuffer) {
    PollState st;
    applyPoll(st, regs(0, kEnabled, kFull));
    EXPECT_EQ(st.pending, 2);
    // Buffer 1 fills while 2 is pending: 2 stays the one to read, event 0 fires.
    PollSignals s = applyPoll(st, regs(0, kFull, kFull));
    EXPECT_EQ(st.pending, 2);
    EXPECT_TRUE(s.recv1);
    EXPECT_FALSE(s.recv2);

    // Buffer 2 newly full while 1 stays full: event 1.
    PollState st2;
    applyPoll(st2, regs(0, kFull, kEnabled));
    s = applyPoll(st2, regs(0, kFull, kFull));
    EXPECT_FALSE(s.recv1);
    EXPECT_TRUE(s.recv2);
    EXPECT_EQ(st2.pending, 1);
}

TEST(MailPoll, ReadsTheRegistersInOrderWithTheControlRegisterTwice) {
    test::Window w;
    test::RecordingBus bus;
    PollState st;
    pollWindow(w.base(), st);
    std::vector<test::Access> seen = bus.take();
    ASSERT_EQ(seen.size(), 5u);
    const uint32_t order[] = {kMailStatusRegister, kReceiveControl1, kReceiveControl2, kMailControl,
                              kMailControl};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_FALSE(seen[i].store);
        EXPECT_EQ(seen[i].offset, order[i]);
        EXPECT_EQ(seen[i].bytes, 2u);
    }
}

}  // namespace
}  // namespace kalvo::boardlib::mail
