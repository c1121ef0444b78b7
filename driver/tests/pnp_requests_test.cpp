// Requests meeting the device in its plug-and-play states: held while the
// board is stopped and replayed at the next start, refused once it is gone,
// and a driver unloaded under a running line.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "tests/support/driver_harness.h"

namespace kalvo::drivertest {
namespace {

namespace rq = kalvo::requests;
using namespace platform;
using namespace std::chrono_literals;

TEST(HeldRequests, AnOpenWhileStoppedWaitsForTheNextStart) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    ASSERT_EQ(h.stop(0), STATUS_SUCCESS);

    auto opened = std::async(std::launch::async, [&] {
        kernel::FileId file = 0;
        NTSTATUS status = h.open("\\\\.\\tolva0", &file);
        return std::make_pair(status, file);
    });
    EXPECT_EQ(opened.wait_for(100ms), std::future_status::timeout);  // held
    ASSERT_EQ(h.start(0), STATUS_SUCCESS);
    ASSERT_EQ(opened.wait_for(5s), std::future_status::ready);
    auto [status, file] = opened.get();
    ASSERT_EQ(status, STATUS_SUCCESS);
    auto s = h.status(file);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->lineState, 0);
}

TEST(HeldRequests, QueryStopIsRefusedWhileAHandleIsOpen) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    kernel::FileId file = 0;
    ASSERT_EQ(h.open("\\\\.\\tolva0", &file), STATUS_SUCCESS);
    EXPECT_EQ(h.stop(0), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(h.pnpState(0), "started");
    EXPECT_TRUE(h.status(file));  // served as before
}

TEST(Removal, AfterSurpriseRemovalRequestsAreRefusedAndRemovalWaitsForTheHandle) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    kernel::FileId file = 0;
    ASSERT_EQ(h.open("\\\\.\\tolva0", &file), STATUS_SUCCESS);
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "2", 1), STATUS_SUCCESS);
    ASSERT_EQ(h.surpriseRemove(0), STATUS_SUCCESS);
    EXPECT_EQ(h.ioctl(file, rq::IOCTL_TOLVA_STATUS, {}, 12).status, STATUS_DELETE_PENDING);

    // The removal waits for the handle in the background: the request
    // answers at once, and the device goes when the handle closes.
    EXPECT_EQ(h.remove(0), STATUS_PENDING);
    EXPECT_EQ(h.pnpState(0), "remove pending");
    h.close(file);
    EXPECT_TRUE(waitFor([&] { return h.pnpState(0) == "removed"; }));
    EXPECT_TRUE(h.deviceNames().empty());
    EXPECT_EQ(h.sim().liveMappings(), 0u);
}

TEST(Unload, ADriverUnloadedUnderARunningLineStopsItsTimerFirst) {
    DriverHarness h("tolva:count=2");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    kernel::FileId file = 0;
    ASSERT_EQ(h.open("\\\\.\\tolva1", &file), STATUS_SUCCESS);
    ASSERT_EQ(h.connect(file, rq::IOCTL_TOLVA_CONNECT, "3", 1), STATUS_SUCCESS);
    h.close(file);
    h.unloadDriver();
    EXPECT_EQ(h.sim().liveMappings(), 0u);
    h.bus().clear();
    std::this_thread::sleep_for(60ms);
    EXPECT_TRUE(h.bus().all().empty());
}

}  // namespace
}  // namespace kalvo::drivertest
