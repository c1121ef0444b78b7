// Requests the device class holds, and how they end: at a surprise removal
// or a failed start, replayed without the thread that ends the hold waiting
// for a client, and opens and closes running against stop and power
// queries. Where a test waits for a request to be held it reads the host's
// record of it.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "tests/support/driver_harness.h"

namespace kalvo::drivertest {
namespace {

namespace rq = kalvo::requests;
using namespace platform;
using namespace std::chrono_literals;
using Kind = kernel::CompletionRow::Kind;

const char* const kTolva0 = "\\\\.\\tolva0";

// Held requests no longer wait for a start that may never come: a surprise
// removal ends them with STATUS_DELETE_PENDING, a failed start with its own
// status.
TEST(HeldRequests, EndWithTheirStatusAtASurpriseRemovalOrAFailedStart) {
    struct Row {
        const char* name;
        std::function<NTSTATUS(DriverHarness&)> end;  // what ends the hold
        bool statusIsTheStarts;
    };
    const Row rows[] = {
        {"surprise removal", [](DriverHarness& h) { return h.surpriseRemove(0); }, false},
        {"failed start", [](DriverHarness& h) { return h.startWith(0, {}); }, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DriverHarness h("tolva");
        ASSERT_TRUE(h.loaded());
        ASSERT_TRUE(h.addAndStartAll());
        ASSERT_EQ(h.stop(0), STATUS_SUCCESS);
        const uint64_t from = lastCompletionSequence();
        auto opened = std::async(std::launch::async, [&] {
            kernel::FileId file = 0;
            return h.open(kTolva0, &file);
        });
        ASSERT_TRUE(waitFor([&] { return completionRowsSince(from, Kind::Held) == 1; }, 20s));
        const NTSTATUS ended = row.end(h);
        const bool endedToo = opened.wait_for(20s) == std::future_status::ready;
        EXPECT_TRUE(endedToo) << "still held";
        // (Left held, it is cancelled as its client would, to end the test.)
        while (opened.wait_for(10ms) != std::future_status::ready) h.cancelOpen();
        if (!endedToo) continue;
        EXPECT_EQ(opened.get(), row.statusIsTheStarts ? ended : STATUS_DELETE_PENDING);
        if (row.statusIsTheStarts) {
            EXPECT_FALSE(NT_SUCCESS(ended));
        }
        EXPECT_EQ(completionRowsSince(from, Kind::Replayed), 1u);
    }
}

// A held request is replayed on a work item of its own: the thread that
// ends the hold (here the start) does not wait for the clients, and a
// client that does not answer the view its replayed map makes holds up
// neither the start nor another client's held open.
TEST(HeldRequests, AClientThatNeverAnswersItsReplayedMapStallsNoOtherClient) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    FakeCaller silent(64, 5001), other(64, 5002);
    kernel::FileId held = 0;
    ASSERT_EQ(h.openAs(silent, kTolva0, &held), STATUS_SUCCESS);
    // A stop without its query (as a misbehaving bus would send it) holds
    // the requests of the handle that is open.
    ASSERT_EQ(h.pnpRequest(0, IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    const uint64_t from = lastCompletionSequence();
    auto mapped = std::async(std::launch::async, [&] {
        rq::MapRequestBlock64 map{rq::MapCommand::Map, 0, 0, 0x1000, 0};
        return h.ioctlAs(silent, held, rq::IOCTL_TOLVA_MAP_MEMORY, rq::toBytes(map), sizeof map)
            .status;
    });
    ASSERT_TRUE(waitFor([&] { return completionRowsSince(from, Kind::Held, 5001) == 1; }, 20s));
    auto opened = std::async(std::launch::async, [&] {
        kernel::FileId file = 0;
        NTSTATUS status = h.openAs(other, kTolva0, &file);
        if (NT_SUCCESS(status)) h.close(file);
        return status;
    });
    ASSERT_TRUE(waitFor([&] { return completionRowsSince(from, Kind::Held, 5002) == 1; }, 20s));

    silent.stopAnswering();
    auto started = std::async(std::launch::async, [&] { return h.start(0); });
    // The map is replayed (it came first) and asks its client for the view ...
    ASSERT_TRUE(waitFor([&] { return silent.unansweredAsks() == 1; }, 20s));
    // ... which does not answer; the start and the other open end meanwhile.
    EXPECT_EQ(started.wait_for(20s), std::future_status::ready) << "the start waits for a client";
    EXPECT_EQ(opened.wait_for(20s), std::future_status::ready) << "the open waits for a client";
    EXPECT_EQ(mapped.wait_for(0s), std::future_status::timeout);
    silent.answer();
    EXPECT_EQ(started.get(), STATUS_SUCCESS);
    EXPECT_EQ(opened.get(), STATUS_SUCCESS);
    EXPECT_EQ(mapped.get(), STATUS_SUCCESS);
    h.close(held);
}

// Opens and closes race against each other, against stop queries and
// against system sleep. An open's count, its power-up and its admission are
// one step against a close's power-down and a query's look at the counts,
// so whatever interleaves: a handle open sees its device in D0, and no
// request of an open handle is ever held (a query accepted while an admitted
// open was not yet counted would hold it).
TEST(OpenCloseAndPower, AHandleNeverMeetsAPoweredDownOrStoppingDevice) {
    DriverHarness h("tolva");
    ASSERT_TRUE(h.loaded());
    ASSERT_TRUE(h.addAndStartAll());
    const uint64_t from = lastCompletionSequence();
    std::atomic<bool> stop{false};
    std::atomic<int> poweredDown{0}, failed{0}, served{0};
    auto client = [&](FakeCaller& caller) {
        while (!stop) {
            kernel::FileId file = 0;
            if (!NT_SUCCESS(h.openAs(caller, kTolva0, &file))) {
                ++failed;
                continue;
            }
            if (h.powerState(0) != "D0") ++poweredDown;
            auto answer = h.ioctlAs(caller, file, rq::IOCTL_TOLVA_STATUS, {}, 12);
            if (NT_SUCCESS(answer.status)) ++served;
            h.close(file);
        }
    };
    FakeCaller a(64, 6001), b(64, 6002);
    std::thread first(client, std::ref(a)), second(client, std::ref(b));
    std::thread queries([&] {
        while (!stop) {
            if (h.queryStop(0) == STATUS_SUCCESS) h.cancelStop(0);
            if (h.systemPower(3) == STATUS_SUCCESS) h.systemPower(0);
            std::this_thread::yield();
        }
    });
    // The record keeps the newest rows of a device: it is read as it grows.
    size_t heldControls = 0;
    uint64_t seen = from;
    for (const auto end = Clock::now() + 3s; Clock::now() < end;) {
        for (const auto& row : kernel::completionRows()) {
            if (row.sequence <= seen) continue;
            seen = row.sequence;
            if (row.kind == Kind::Held && row.major == IRP_MJ_DEVICE_CONTROL) ++heldControls;
        }
        std::this_thread::sleep_for(2ms);
    }
    stop = true;
    queries.join();
    first.join();
    second.join();
    EXPECT_EQ(poweredDown.load(), 0);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_GT(served.load(), 0);
    EXPECT_EQ(heldControls, 0u);
    // The last close left the device down, and it serves a new open.
    EXPECT_EQ(h.systemPower(0), STATUS_SUCCESS);
    kernel::FileId file = 0;
    ASSERT_EQ(h.open(kTolva0, &file), STATUS_SUCCESS);
    EXPECT_TRUE(h.status(file));
    h.close(file);
}

}  // namespace
}  // namespace kalvo::drivertest
