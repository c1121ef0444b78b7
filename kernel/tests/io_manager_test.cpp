// Requests from a client through the I/O manager to the test driver: open by
// link, dispatch, buffers, held requests and their cancellation, close.
#include <future>
#include <thread>

#include "kernel/object_namespace.h"
#include "kernel/tests/kernel_fixture.h"

namespace kalvo::kernel::testing {
namespace {

using platform::STATUS_CANCELLED;
using platform::STATUS_INVALID_DEVICE_REQUEST;
using platform::STATUS_INVALID_HANDLE;
using platform::STATUS_OBJECT_NAME_INVALID;
using platform::STATUS_OBJECT_NAME_NOT_FOUND;
using platform::STATUS_OBJECT_PATH_NOT_FOUND;
using platform::STATUS_SHARING_VIOLATION;
using platform::STATUS_SUCCESS;

class IoManagerTest : public KernelFixture {};

TEST_F(IoManagerTest, OpensThroughTheLinkWithoutRegardToCase) {
    boot(2);
    FileId a = open("\\\\.\\KTEST0");
    FileId b = open("\\\\.\\ktest1");
    EXPECT_NE(a, b);
    open("\\\\.\\ktest2", STATUS_OBJECT_NAME_NOT_FOUND);
    open("\\\\.\\", STATUS_OBJECT_PATH_NOT_FOUND);
    open("ktest0", STATUS_OBJECT_PATH_NOT_FOUND);
    open("\\\\.\\ktest0\\sub", STATUS_OBJECT_NAME_INVALID);
    open("\\\\.\\kt\xff\xfe", STATUS_OBJECT_NAME_INVALID);
    backend->close(a);
    backend->close(b);
    EXPECT_EQ(events(),
              "add:0 start:0 add:1 start:1 create:0 create:1 cleanup:0 close:0 "
              "cleanup:1 close:1");
}

TEST_F(IoManagerTest, BufferedRequestsCarryInputAndReturnOnlyReportedBytes) {
    boot(1);
    FileId id = open("\\\\.\\ktest0");
    IoResult echo = control(id, IOCTL_KTEST_ECHO, {1, 2, 3, 4, 5}, 3);
    EXPECT_EQ(echo.status, STATUS_SUCCESS);
    EXPECT_EQ(echo.output, (std::vector<uint8_t>{1, 2, 3}));

    // A driver reporting more than the caller's buffer gets it cut to the
    // buffer, never beyond.
    IoResult over = control(id, IOCTL_KTEST_OVERSTATE, {}, 16);
    EXPECT_EQ(over.status, STATUS_SUCCESS);
    EXPECT_EQ(over.output.size(), 16u);

    IoResult unknown = control(id, KTEST_CODE(99), {9}, 8);
    EXPECT_EQ(unknown.status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_TRUE(unknown.output.empty());

    EXPECT_EQ(control(12345, IOCTL_KTEST_ECHO).status, STATUS_INVALID_HANDLE);
    backend->close(id);
    EXPECT_EQ(control(id, IOCTL_KTEST_ECHO).status, STATUS_INVALID_HANDLE);
    backend->close(id);  // a second close does nothing
}

TEST_F(IoManagerTest, CreateCarriesShareModeAndCallerWordSize) {
    boot(1);
    FileId first = open("\\\\.\\ktest0");
    open("\\\\.\\ktest0", STATUS_SHARING_VIOLATION, 0);
    FakeCaller small(32);
    IoResult info = backend->deviceControl(first, IOCTL_KTEST_INFO, {}, 8, small);
    ASSERT_EQ(info.output.size(), 8u);
    EXPECT_EQ(info.output[4], 32);
    info = control(first, IOCTL_KTEST_INFO, {}, 8);
    EXPECT_EQ(info.output[4], 64);
}

TEST_F(IoManagerTest, HeldRequestBlocksUntilReleased) {
    boot(1);
    FileId held = open("\\\\.\\ktest0");
    FileId other = open("\\\\.\\ktest0");
    auto waiting = std::async(std::launch::async, [&] { return control(held, IOCTL_KTEST_HOLD); });
    // The release finds the request once it is held; until then it reports 0.
    uint32_t released = 0;
    while (released == 0) {
        IoResult r = control(other, IOCTL_KTEST_RELEASE, {}, 4);
        ASSERT_EQ(r.output.size(), 4u);
        std::memcpy(&released, r.output.data(), 4);
        if (released == 0) std::this_thread::yield();
    }
    EXPECT_EQ(released, 1u);
    EXPECT_EQ(waiting.get().status, STATUS_SUCCESS);
}

TEST_F(IoManagerTest, CancelEndsAHeldRequestThroughItsCancelRoutine) {
    boot(1);
    FileId id = open("\\\\.\\ktest0");
    auto waiting = std::async(std::launch::async, [&] { return control(id, IOCTL_KTEST_HOLD); });
    // Cancel until the request is gone: a cancel before the driver holds it
    // marks the request, which the driver then ends at once.
    while (waiting.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        backend->cancel(id);
    IoResult result = waiting.get();
    EXPECT_EQ(result.status, STATUS_CANCELLED);
    EXPECT_TRUE(result.output.empty());
    // The file is still usable.
    EXPECT_EQ(control(id, IOCTL_KTEST_ECHO, {7}, 1).output, std::vector<uint8_t>{7});
}

TEST_F(IoManagerTest, CloseCancelsHeldRequestsBeforeCleanup) {
    boot(1);
    FileId id = open("\\\\.\\ktest0");
    std::vector<std::future<IoResult>> waiting;
    for (int i = 0; i < 3; ++i)
        waiting.push_back(
            std::async(std::launch::async, [&] { return control(id, IOCTL_KTEST_HOLD); }));
    backend->close(id);
    for (auto& w : waiting) {
        NTSTATUS status = w.get().status;
        // A request that reached the file only after the close began is
        // refused as on a closed handle.
        EXPECT_TRUE(status == STATUS_CANCELLED || status == STATUS_INVALID_HANDLE)
            << std::hex << status;
    }
    EXPECT_EQ(backend->openFiles(), 0u);
    std::string log = events();
    EXPECT_NE(log.find("cleanup:0 close:0"), std::string::npos) << log;
}

TEST_F(IoManagerTest, ManyThreadsOnManyHandles) {
    boot(2);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            FakeCaller me;
            for (int i = 0; i < 50; ++i) {
                OpenRequest request{t % 2 ? "\\\\.\\ktest1" : "\\\\.\\KTEST0", 0, 3, 3, 0};
                FileId id;
                if (backend->open(request, me, &id) != STATUS_SUCCESS) {
                    ++failures;
                    continue;
                }
                std::vector<uint8_t> in{uint8_t(t), uint8_t(i)};
                IoResult r = backend->deviceControl(id, IOCTL_KTEST_ECHO, in, 2, me);
                if (r.output != in) ++failures;
                backend->close(id);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace kalvo::kernel::testing
