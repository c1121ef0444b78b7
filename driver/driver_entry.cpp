// The module's entry: the device host calls DriverEntry once after loading
// it, as the I/O manager calls a driver's entry point.
#include <new>

#include "driver/driver_object.h"
#include "driver/tolva.h"

extern "C" __attribute__((visibility("default"))) NTSTATUS DriverEntry(
    PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    auto* wrapper = new (std::nothrow) CPnpDriver(driver, registryPath);
    if (!wrapper) return STATUS_NO_MEMORY;
    if (!wrapper->Valid()) {
        delete wrapper;
        return STATUS_NO_MEMORY;
    }
    wrapper->SetCallback(IRP_MJ_DEVICE_CONTROL, CTolva::TolvaIoctlDispatch);
    wrapper->SetAddDevice(TolvaAddDevice);
    // The settings live in the driver object; the wrapper is not needed.
    delete wrapper;
    return STATUS_SUCCESS;
}
