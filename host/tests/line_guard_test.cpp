// The line guard's own open of a device whose last client died, when the
// device holds it (stopped): the host's shutdown cancels it, so the dead
// client's connection ends and the host can stop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>

#include "host/line_guard.h"
#include "tests/support/driver_harness.h"

namespace kalvo::kernel::host {
namespace {

using namespace std::chrono_literals;
using drivertest::DriverHarness;

TEST(LineGuard, ItsOwnOpenHeldByAStoppedDeviceIsCancelledWhenTheHostStops) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    LineGuard guard(h.backend(), true);
    drivertest::FakeCaller client(64, 7001);
    OpenRequest request;
    request.path = "\\\\.\\tolva0";
    request.desiredAccess = 0xC0000000u;
    request.shareMode = 3;
    request.creationDisposition = 3;
    FileId file = 0;
    ASSERT_EQ(guard.open(request, client, &file), STATUS_SUCCESS);
    // The device stops under the client (a stop without its query, as a
    // misbehaving bus sends it): from now on it holds what it is sent.
    ASSERT_EQ(h.pnpRequest(0, IRP_MN_STOP_DEVICE), STATUS_SUCCESS);

    // The client dies: the guard opens the device to stop its line, and
    // that open is held.
    const uint64_t from = drivertest::lastCompletionSequence();
    guard.clientGone(file);
    auto closed = std::async(std::launch::async, [&] { guard.close(file); });
    ASSERT_TRUE(drivertest::waitFor(
        [&] {
            return drivertest::completionRowsSince(from, CompletionRow::Kind::Held, ::getpid()) > 0;
        },
        20s));

    guard.stop();
    ASSERT_EQ(closed.wait_for(20s), std::future_status::ready) << "the guard's open still waits";
    const auto records = guard.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].result.find("device not opened: STATUS_CANCELLED"), std::string::npos)
        << records[0].result;
}

}  // namespace
}  // namespace kalvo::kernel::host
