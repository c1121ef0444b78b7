// Named events: manual and auto reset, time-outs, and wait-for-any across
// processes and threads.
#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/page_file_map.h"
#include "platform/tests/named_test_util.h"
#include "platform/win_error.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

using namespace kalvo::platform;
using kalvo::testing::awaitReady;
using kalvo::testing::IsolatedEnvironment;
using kalvo::testing::nowNs;
using kalvo::testing::spawnChild;

namespace {

std::string mailEventName(int i) {
    return "MailEve" + std::to_string(i) + "1_0_MailEve";
}

TEST(NamedEvent, ManualAndAutoReset) {
    IsolatedEnvironment env;
    auto manual = Event::createOrOpen("Manual", true, true);
    ASSERT_TRUE(manual.valid());
    EXPECT_TRUE(manual.isSet());
    EXPECT_EQ(manual.wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(manual.wait(0), WAIT_OBJECT_0);  // stays set
    EXPECT_TRUE(manual.reset());
    EXPECT_EQ(manual.wait(0), WAIT_TIMEOUT);

    auto automatic = Event::createOrOpen("Auto", false, false);
    EXPECT_EQ(automatic.wait(0), WAIT_TIMEOUT);
    EXPECT_TRUE(automatic.set());
    EXPECT_TRUE(automatic.set());  // setting a set event changes nothing
    EXPECT_EQ(automatic.wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(automatic.wait(0), WAIT_TIMEOUT);  // the wait cleared it

    // An opened event keeps its creator's kind and state.
    auto opened = Event::createOrOpen("Auto", true, true);
    EXPECT_EQ(lastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(opened.isSet());
    EXPECT_TRUE(opened.set());
    EXPECT_EQ(automatic.wait(0), WAIT_OBJECT_0);
    EXPECT_FALSE(opened.isSet());

    int64_t t0 = nowNs();
    EXPECT_EQ(automatic.wait(30), WAIT_TIMEOUT);
    EXPECT_GE(nowNs() - t0, 29'000'000);
}

TEST(NamedEvent, WaitForAnyPicksTheLowestSetIndex) {
    IsolatedEnvironment env;
    std::vector<Event> events;
    for (int i = 0; i < 4; ++i)
        events.push_back(Event::createOrOpen(mailEventName(i), false, false));
    std::vector<Event*> list;
    for (auto& e : events) list.push_back(&e);

    EXPECT_EQ(waitForAny(list, 0), WAIT_TIMEOUT);
    events[3].set();
    events[1].set();
    EXPECT_EQ(waitForAny(list, 0), WAIT_OBJECT_0 + 1);
    EXPECT_TRUE(events[3].isSet());  // only the reported one is consumed
    EXPECT_EQ(waitForAny(list, 0), WAIT_OBJECT_0 + 3);
    EXPECT_EQ(waitForAny(list, 0), WAIT_TIMEOUT);

    // Private and named events mixed in one wait.
    auto priv = Event::createOrOpen("", true, false);
    std::vector<Event*> mixed = {&events[0], &priv};
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        priv.set();
    });
    EXPECT_EQ(waitForAny(mixed, 10000), WAIT_OBJECT_0 + 1);
    setter.join();

    EXPECT_EQ(waitForAny({}, 0), WAIT_FAILED);
    EXPECT_EQ(lastError(), ERROR_INVALID_PARAMETER);
    std::vector<Event*> tooMany(65, &events[0]);
    EXPECT_EQ(waitForAny(tooMany, 0), WAIT_FAILED);
    Event invalid;
    std::vector<Event*> withInvalid = {&events[0], &invalid};
    EXPECT_EQ(waitForAny(withInvalid, 0), WAIT_FAILED);
    EXPECT_EQ(lastError(), ERROR_INVALID_HANDLE);
    std::vector<Event*> withNull = {nullptr};
    EXPECT_EQ(waitForAny(withNull, 0), WAIT_FAILED);
    EXPECT_EQ(invalid.wait(0), WAIT_FAILED);
    EXPECT_FALSE(invalid.set());
    EXPECT_FALSE(invalid.isSet());
}

struct Stamp {
    int64_t setAtNs;
};

KALVO_CHILD(setLater) {
    auto event = Event::createOrOpen(mailEventName(std::stoi(args.at(0))), true, false);
    auto map = PageFileMap::createOrOpen("Stamp.Map", sizeof(Stamp));
    if (!event.valid() || !map.valid()) return 2;
    awaitReady("go");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the parent fall asleep
    static_cast<Stamp*>(map.data())->setAtNs = nowNs();
    return event.set() ? 0 : 3;
}

TEST(NamedEvent, SetInOneProcessWakesWaitForAnyInAnother) {
    IsolatedEnvironment env;
    auto map = PageFileMap::createOrOpen("Stamp.Map", sizeof(Stamp));
    std::vector<Event> events;
    for (int i = 0; i < 5; ++i)
        events.push_back(Event::createOrOpen(mailEventName(i), true, false));
    std::vector<Event*> list;
    for (auto& e : events) list.push_back(&e);

    for (int index : {2, 4}) {
        std::remove("go");
        auto child = spawnChild("setLater", {std::to_string(index)});
        kalvo::testing::markReady("go");
        uint32_t r = waitForAny(list, 30000);
        int64_t wokeAt = nowNs();
        EXPECT_EQ(r, WAIT_OBJECT_0 + static_cast<uint32_t>(index));
        EXPECT_EQ(child.wait(), 0);
        std::printf("wait-for-any woke %.3f ms after the set in another process\n",
                    (wokeAt - static_cast<Stamp*>(map.data())->setAtNs) / 1e6);
        events[index].reset();
    }
}

TEST(NamedEvent, ThreadsWaitingOnOneEvent) {
    IsolatedEnvironment env;
    auto gate = Event::createOrOpen("Gate", true, false);
    int payload = 0;  // published by the set, read after the wait
    std::atomic<int> passed{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            auto mine = Event::createOrOpen("Gate", true, false);
            if (mine.wait(10000) == WAIT_OBJECT_0 && payload == 7) ++passed;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    payload = 7;
    gate.set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(passed.load(), 3);

    // Auto reset lets exactly one of several waiters through per set. The
    // others time out; the bound is generous so that a loaded machine never
    // times out the one the set is for.
    auto turnstile = Event::createOrOpen("Turnstile", false, false);
    std::atomic<int> through{0};
    std::vector<std::thread> racers;
    for (int i = 0; i < 3; ++i)
        racers.emplace_back([&] {
            if (turnstile.wait(3000) == WAIT_OBJECT_0) ++through;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    turnstile.set();
    for (auto& t : racers) t.join();
    EXPECT_EQ(through.load(), 1);
}

}  // namespace
