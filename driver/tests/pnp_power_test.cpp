// The plug-and-play device class's power handling and the open, sharing and
// removal rules, as the PnP manager and a client's handles meet them.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "tests/support/driver_harness.h"

namespace kalvo::drivertest {
namespace {

namespace rq = kalvo::requests;
using namespace platform;
using namespace std::chrono_literals;

const char* const kTolva0 = "\\\\.\\tolva0";
const char* const kTolva1 = "\\\\.\\tolva1";

TEST(DevicePower, OnlyTheFirstOpenPowersUpAndOnlyTheLastClosePowersDown) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    kernel::FileId a = 0, b = 0, c = 0;
    ASSERT_EQ(h.open(kTolva0, &a), STATUS_SUCCESS);
    EXPECT_EQ(h.powerState(0), "D0");
    ASSERT_EQ(h.open(kTolva0, &b), STATUS_SUCCESS);
    h.close(b);
    EXPECT_EQ(h.powerState(0), "D0");  // a handle is still open
    // Put down by hand with a handle open: a second open sends no D0.
    ASSERT_EQ(h.devicePower(0, 3), STATUS_SUCCESS);
    EXPECT_EQ(h.powerState(0), "D3");
    ASSERT_EQ(h.open(kTolva0, &c), STATUS_SUCCESS);
    EXPECT_EQ(h.powerState(0), "D3");
    h.close(c);
    ASSERT_EQ(h.devicePower(0, 0), STATUS_SUCCESS);
    EXPECT_EQ(h.powerState(0), "D0");
    EXPECT_TRUE(h.status(a));  // served at every step
    h.close(a);
    EXPECT_EQ(h.powerState(0), "D3");
    ASSERT_EQ(h.open(kTolva0, &a), STATUS_SUCCESS);  // back up from D3
    EXPECT_EQ(h.powerState(0), "D0");
    EXPECT_TRUE(h.status(a));
}

TEST(DevicePower, SystemSleepIsVetoedWhileAHandleIsOpenAndTakenWithoutOne) {
    struct Row {
        bool handleOpen;
        NTSTATUS sleep;
        const char* powerAfter;
    };
    for (const Row& row :
         {Row{true, STATUS_UNSUCCESSFUL, "D0"}, Row{false, STATUS_SUCCESS, "D3"}}) {
        SCOPED_TRACE(row.handleOpen ? "handle open" : "no handle");
        DriverHarness h("tolva");
        ASSERT_TRUE(h.loaded());
        ASSERT_TRUE(h.addAndStartAll());
        kernel::FileId file = 0;
        if (row.handleOpen) {
            ASSERT_EQ(h.open(kTolva0, &file), STATUS_SUCCESS);
        }
        ASSERT_EQ(h.devicePower(0, 0), STATUS_SUCCESS);
        EXPECT_EQ(h.systemPower(3), row.sleep);
        EXPECT_EQ(h.powerState(0), row.powerAfter);
        if (!row.handleOpen) {
            // An open while asleep powers the board up and is served.
            auto opened = std::async(std::launch::async, [&] { return h.open(kTolva0, &file); });
            ASSERT_EQ(opened.wait_for(5s), std::future_status::ready);
            ASSERT_EQ(opened.get(), STATUS_SUCCESS);
            EXPECT_EQ(h.powerState(0), "D0");
        }
        EXPECT_TRUE(h.status(file));
        ASSERT_EQ(h.systemPower(0), STATUS_SUCCESS);
    }
}

TEST(DevicePower, ADeviceThatAcceptedAVetoedSleepDoesNotKeepHoldingRequests) {
    DriverHarness h("tolva:count=2");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    kernel::FileId second = 0;
    ASSERT_EQ(h.open(kTolva1, &second), STATUS_SUCCESS);
    ASSERT_EQ(h.devicePower(0, 0), STATUS_SUCCESS);
    // The first board accepts the query (and holds from then on), the
    // second vetoes it.
    EXPECT_EQ(h.systemPower(3), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(h.powerState(0), "D0");
    auto opened = std::async(std::launch::async, [&] {
        kernel::FileId file = 0;
        NTSTATUS status = h.open(kTolva0, &file);
        bool served = NT_SUCCESS(status) && h.status(file).has_value();
        return std::make_pair(status, served);
    });
    ASSERT_EQ(opened.wait_for(5s), std::future_status::ready) << "the open is still held";
    auto [status, served] = opened.get();
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_TRUE(served);
}

TEST(OpenRules, SharingViolations) {
    struct Row {
        const char* name;
        uint32_t firstShare, secondShare;
        NTSTATUS second;
    };
    for (const Row& row : {Row{"shared then shared", 3, 3, STATUS_SUCCESS},
                           Row{"shared then alone", 3, 0, STATUS_SHARING_VIOLATION},
                           Row{"alone then shared", 0, 3, STATUS_SHARING_VIOLATION},
                           Row{"alone then alone", 0, 0, STATUS_SHARING_VIOLATION}}) {
        SCOPED_TRACE(row.name);
        DriverHarness h("tolva");
        ASSERT_TRUE(h.loaded());
        ASSERT_TRUE(h.addAndStartAll());
        kernel::FileId first = 0, second = 0;
        ASSERT_EQ(h.open(kTolva0, &first, row.firstShare), STATUS_SUCCESS);
        EXPECT_EQ(h.open(kTolva0, &second, row.secondShare), row.second);
        if (NT_SUCCESS(row.second)) h.close(second);
        h.close(first);
        // A refused open leaves no count behind: the device stops and
        // takes an exclusive open again.
        ASSERT_EQ(h.open(kTolva0, &first, 0), STATUS_SUCCESS);
        h.close(first);
        EXPECT_EQ(h.stop(0), STATUS_SUCCESS);
    }
}

TEST(HeldRequests, AHeldOpenThatItsCallerCancelsEndsCancelled) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    ASSERT_EQ(h.stop(0), STATUS_SUCCESS);
    auto opened = std::async(std::launch::async, [&] {
        kernel::FileId file = 0;
        return h.open(kTolva0, &file);
    });
    // The cancel is repeated until the open ends, as the transport does for
    // a client that hung up (the first may come before the open is held).
    while (opened.wait_for(10ms) != std::future_status::ready) h.cancelOpen();
    EXPECT_EQ(opened.get(), STATUS_CANCELLED);
    // Nothing of it is left: the device stops again after a start.
    ASSERT_EQ(h.start(0), STATUS_SUCCESS);
    EXPECT_EQ(h.stop(0), STATUS_SUCCESS);
}

TEST(Removal, QueryRemoveWithAHandleOpenFailsAndTheDeviceStaysStarted) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    kernel::FileId file = 0;
    ASSERT_EQ(h.open(kTolva0, &file), STATUS_SUCCESS);
    EXPECT_EQ(h.remove(0), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(h.pnpState(0), "started");
    EXPECT_TRUE(h.status(file));
}

TEST(Removal, AfterAFailedStartTheDeviceGoesWhenItsLastHandleCloses) {
    DriverHarness h("tolva:fault=one-memory-range");
    ASSERT_TRUE(h.loaded());
    h.addAndStartAll();
    ASSERT_EQ(h.pnpState(0), "start failed");
    kernel::FileId file = 0;
    ASSERT_EQ(h.open(kTolva0, &file), STATUS_SUCCESS);  // admitted after a failed start
    // A removal without a query: the request returns at once, the device
    // waits for its handle in a work item; its requests are refused now.
    EXPECT_EQ(h.remove(0), STATUS_PENDING);
    EXPECT_TRUE(waitFor([&] {
        return h.ioctl(file, rq::IOCTL_TOLVA_STATUS, {}, 12).status == STATUS_DELETE_PENDING;
    }));
    // The handle keeps the device.
    EXPECT_EQ(h.pnpState(0), "remove pending");
    h.close(file);
    EXPECT_TRUE(waitFor([&] { return h.pnpState(0) == "removed"; }, 10s));
    EXPECT_TRUE(h.deviceNames().empty());
}

// The removal of a device whose start failed, with a handle still open,
// when no work item can be had to wait for the handle in: the removal
// waits itself and deletes the device once the handle closes.
TEST(Removal, ARemovalWorkItemThatCannotBeQueuedStillDeletesTheDevice) {
    DriverHarness h("tolva:fault=one-memory-range");
    ASSERT_TRUE(h.loaded());
    h.addAndStartAll();
    ASSERT_EQ(h.pnpState(0), "start failed");
    kernel::FileId file = 0;
    ASSERT_EQ(h.open(kTolva0, &file), STATUS_SUCCESS);
    h.refuseWorkItems(1);
    // Without a work item the removal waits for the handle itself (in the
    // background: the request answers at once).
    EXPECT_EQ(h.remove(0), STATUS_PENDING);
    EXPECT_TRUE(waitFor([&] {
        return h.ioctl(file, rq::IOCTL_TOLVA_STATUS, {}, 12).status == STATUS_DELETE_PENDING;
    }));
    EXPECT_EQ(h.pnpState(0), "remove pending");
    h.close(file);
    EXPECT_TRUE(waitFor([&] { return h.pnpState(0) == "removed"; }, 10s));
    EXPECT_TRUE(h.deviceNames().empty());
}

}  // namespace
}  // namespace kalvo::drivertest
