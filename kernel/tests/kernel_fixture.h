// A running kernel with the test driver loaded over in-memory boards, and a
// device backend to send requests through, as the host sets them up.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/pnp_manager.h"
#include "kernel/tests/test_hardware.h"
#include "kernel/wdm_device_backend.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_driver/test_driver_codes.h"

namespace kalvo::kernel::testing {

class KernelFixture : public ::testing::Test {
  protected:
    void boot(int boards, const std::string& registry = "") {
        if (!registry.empty()) dir.write("registry.reg", registry);
        hardware = std::make_unique<TestHardware>(boards);
        kernel = std::make_unique<Kernel>(
            KernelOptions{hardware.get(), dir.file("registry.reg"), dir.file("errors.log")});
        pnp = std::make_unique<PnpManager>(*kernel);
        NTSTATUS status;
        driver = kernel->loadDriver(KALVO_TEST_DRIVER_PATH, "KTest", &status);
        ASSERT_NE(driver, nullptr) << std::hex << status;
        pnp->addDriver(driver, "ktest");
        pnp->enumerate();
        backend = std::make_unique<WdmDeviceBackend>(*kernel);
    }

    void TearDown() override {
        backend.reset();
        pnp.reset();
        kernel.reset();
    }

    FileId open(const std::string& path, NTSTATUS expected = platform::STATUS_SUCCESS,
                uint32_t share = 3) {
        OpenRequest request{path, 0xC0000000u, share, 3, 0};
        FileId id = 0;
        EXPECT_EQ(backend->open(request, caller, &id), expected) << path;
        return id;
    }

    IoResult control(FileId id, uint32_t code, std::vector<uint8_t> input = {},
                     uint32_t outputLength = 0) {
        return backend->deviceControl(id, code, input, outputLength, caller);
    }

    // A function the test driver exports for the tests.
    template <class Function>
    static Function* driverFunction(const char* name) {
        void* module = dlopen(KALVO_TEST_DRIVER_PATH, RTLD_NOW | RTLD_NOLOAD);
        if (!module) return nullptr;
        auto* fn = reinterpret_cast<Function*>(dlsym(module, name));
        dlclose(module);  // the kernel still holds the driver loaded
        return fn;
    }

    // The test driver's event log.
    static std::string events() {
        void* module = dlopen(KALVO_TEST_DRIVER_PATH, RTLD_NOW | RTLD_NOLOAD);
        if (!module) return "(not loaded)";
        auto fn = reinterpret_cast<size_t (*)(char*, size_t)>(dlsym(module, "KtestEvents"));
        std::string out(fn(nullptr, 0) + 1, '\0');
        fn(out.data(), out.size());
        out.pop_back();
        dlclose(module);
        return out;
    }

    kalvo::testing::TempDir dir;
    FakeCaller caller;
    std::unique_ptr<TestHardware> hardware;
    std::unique_ptr<Kernel> kernel;
    std::unique_ptr<PnpManager> pnp;
    PDRIVER_OBJECT driver = nullptr;
    std::unique_ptr<WdmDeviceBackend> backend;
};

}  // namespace kalvo::kernel::testing
