// Device stacks built by the PnP manager over the boards: AddDevice and start
// with the board's resources, stop and removal in the order the system uses,
// refusals while a handle is open, and the listing.
#include <thread>

#include "kernel/tests/kernel_fixture.h"

namespace kalvo::kernel::testing {
namespace {

using platform::STATUS_SUCCESS;
using platform::STATUS_UNSUCCESSFUL;

class PnpManagerTest : public KernelFixture {};

TEST_F(PnpManagerTest, StartsEachBoardAndListsItsDevice) {
    boot(2);
    auto devices = pnp->devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].location, "test-0");
    EXPECT_EQ(devices[0].service, "KTest");
    EXPECT_EQ(devices[0].deviceName, "\\Device\\KTest0");
    EXPECT_EQ(devices[0].links, std::vector<std::string>{"\\??\\ktest0"});
    EXPECT_EQ(devices[0].state, PnpState::Started);
    EXPECT_EQ(devices[1].deviceName, "\\Device\\KTest1");
    // The driver mapped both memory windows of each board.
    EXPECT_EQ(hardware->liveMappings(), 4u);
}

TEST_F(PnpManagerTest, ShutdownStopsThenRemovesEveryDevice) {
    boot(2);
    pnp->shutdown();
    EXPECT_EQ(events(),
              "add:0 start:0 add:1 start:1 "
              "query-stop:1 stop:1 query-remove:1 remove:1 "
              "query-stop:0 stop:0 query-remove:0 remove:0");
    for (auto& d : pnp->devices()) EXPECT_EQ(d.state, PnpState::Removed);
    EXPECT_EQ(driver->DeviceObject, nullptr);
    EXPECT_EQ(hardware->liveMappings(), 0u);
}

TEST_F(PnpManagerTest, OpenHandleRefusesStopAndRemoval) {
    boot(1);
    FileId id = open("\\\\.\\ktest0");
    EXPECT_EQ(pnp->stop("test-0"), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(pnp->remove("test-0"), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(pnp->devices()[0].state, PnpState::Started);
    backend->close(id);
    EXPECT_EQ(pnp->stop("test-0"), STATUS_SUCCESS);
    EXPECT_EQ(pnp->devices()[0].state, PnpState::Stopped);
    EXPECT_EQ(pnp->start("test-0"), STATUS_SUCCESS);
    EXPECT_EQ(pnp->devices()[0].state, PnpState::Started);
    EXPECT_EQ(events(),
              "add:0 start:0 create:0 query-stop:0 cancel-stop:0 query-remove:0 cancel-remove:0 "
              "cleanup:0 close:0 query-stop:0 stop:0 start:0");
    EXPECT_EQ(pnp->start("test-0"), ::STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(pnp->stop("nowhere"), platform::STATUS_NO_SUCH_DEVICE);
}

TEST_F(PnpManagerTest, StartWithFaultyResourcesFailsAndCanBeRemoved) {
    boot(1);
    ASSERT_EQ(pnp->stop("test-0"), STATUS_SUCCESS);
    // One memory range only: the driver cannot find its second window.
    auto one = hardware->boards()[0].resources;
    one.pop_back();
    EXPECT_NE(pnp->start("test-0", one), STATUS_SUCCESS);
    EXPECT_EQ(pnp->devices()[0].state, PnpState::StartFailed);
    // A window that no board backs: the mapping fails.
    auto unbacked = hardware->boards()[0].resources;
    unbacked.back().start = 0x10000;
    EXPECT_NE(pnp->start("test-0", unbacked), STATUS_SUCCESS);
    EXPECT_EQ(hardware->liveMappings(), 0u);
    // Removal after a failed start goes without a query.
    EXPECT_EQ(pnp->remove("test-0"), STATUS_SUCCESS);
    EXPECT_EQ(pnp->devices()[0].state, PnpState::Removed);
    std::string log = events();
    EXPECT_EQ(log.substr(log.size() - 16), "start:0 remove:0") << log;
}

// A create already inside the driver when a removal begins is finished
// before the remove request goes down (the driver would tear the device down
// under it), and an open that comes while the remove request runs is refused.
TEST_F(PnpManagerTest, RemovalWaitsForACreateInsideTheDriverAndRefusesLaterOpens) {
    boot(1);
    auto* holdCreates = driverFunction<void(int)>("KtestHoldCreates");
    auto* waitForHeldCreate = driverFunction<void()>("KtestWaitForHeldCreate");
    auto* onRemove = driverFunction<void(void (*)(void*), void*)>("KtestOnRemove");
    ASSERT_TRUE(holdCreates && waitForHeldCreate && onRemove);

    struct DuringRemoval {
        WdmDeviceBackend* backend = nullptr;
        FakeCaller caller;
        NTSTATUS status = STATUS_SUCCESS;
    } during;
    during.backend = backend.get();
    onRemove(
        [](void* context) {
            auto* d = static_cast<DuringRemoval*>(context);
            OpenRequest request{"\\\\.\\ktest0", 0xC0000000u, 3, 3, 0};
            FileId id = 0;
            d->status = d->backend->open(request, d->caller, &id);
        },
        &during);

    holdCreates(1);
    std::thread opener([&] { open("\\\\.\\ktest0", STATUS_UNSUCCESSFUL); });
    waitForHeldCreate();
    NTSTATUS removal = STATUS_UNSUCCESSFUL;
    std::thread remover([&] { removal = pnp->remove("test-0"); });
    // Time for a removal that did not wait to overtake the create.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    holdCreates(0);
    opener.join();
    remover.join();
    onRemove(nullptr, nullptr);

    EXPECT_EQ(removal, STATUS_SUCCESS);
    EXPECT_EQ(during.status, platform::STATUS_DELETE_PENDING);
    const std::string log = events();
    ASSERT_NE(log.find("create-refused:0"), std::string::npos) << log;
    EXPECT_LT(log.find("create-refused:0"), log.find(" remove:0")) << log;
    EXPECT_EQ(pnp->devices()[0].state, PnpState::Removed);
}

TEST_F(PnpManagerTest, BoardsOfAnotherKindGetNoDevice) {
    boot(0);
    TestHardware other(1, "elsewhere");
    // A second kernel is refused while one runs.
    EXPECT_THROW(Kernel(KernelOptions{&other, {}, {}}), std::logic_error);
    EXPECT_TRUE(pnp->devices().empty());
}

}  // namespace
}  // namespace kalvo::kernel::testing
