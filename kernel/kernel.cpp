#include "kernel/kernel.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "kernel/dpc_queue.h"
#include "kernel/error_log.h"
#include "kernel/io_space.h"
#include "kernel/irp_block.h"
#include "kernel/irql.h"
#include "kernel/object_namespace.h"
#include "kernel/object_records.h"
#include "kernel/registry.h"
#include "kernel/timer_queue.h"
#include "kernel/wide_text.h"
#include "kernel/work_queue.h"

namespace kalvo::kernel {

namespace {

std::atomic<Kernel*> currentKernel{nullptr};

// The routine in every MajorFunction slot that the driver does not set.
NTSTATUS invalidDeviceRequest(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

}  // namespace

Kernel::Kernel(KernelOptions options) : options_(std::move(options)) {
    names_ = std::make_unique<ObjectNamespace>();
    registry_ = std::make_unique<Registry>(options_.registryFile);
    errorLog_ = std::make_unique<ErrorLog>(options_.errorLogFile);
    ioSpace_ = std::make_unique<IoSpace>(options_.hardware);
    dpcs_ = std::make_unique<DpcQueue>();
    timers_ = std::make_unique<TimerQueue>(*dpcs_);
    work_ = std::make_unique<WorkQueue>();
    Kernel* expected = nullptr;
    if (!currentKernel.compare_exchange_strong(expected, this))
        throw std::logic_error("a kernel is already running in this process");
}

Kernel::~Kernel() {
    std::vector<DriverRecord*> left;
    {
        std::lock_guard lock(driversMutex_);
        left = drivers_;
    }
    for (auto it = left.rbegin(); it != left.rend(); ++it) unloadDriver(&(*it)->object);
    drainDeferredWork();
    timers_.reset();
    work_.reset();
    dpcs_.reset();
    currentKernel.store(nullptr);
}

Kernel* Kernel::current() noexcept {
    return currentKernel.load(std::memory_order_acquire);
}

std::u16string Kernel::serviceKeyPath(const std::string& serviceName) {
    return u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" +
           fromUtf8(serviceName).value_or(u"");
}

PDRIVER_OBJECT Kernel::loadDriver(const std::filesystem::path& module,
                                  const std::string& serviceName, NTSTATUS* status) {
    NTSTATUS ignored;
    if (!status) status = &ignored;
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        *status = STATUS_OBJECT_NAME_NOT_FOUND;
        return nullptr;
    }
    auto entry = reinterpret_cast<PDRIVER_INITIALIZE>(dlsym(handle, "DriverEntry"));
    if (!entry) {
        dlclose(handle);
        *status = STATUS_INVALID_PARAMETER;  // not a driver module
        return nullptr;
    }
    auto record = std::make_unique<DriverRecord>();
    record->module = handle;
    record->serviceName = serviceName;
    return startDriver(std::move(record), entry, status);
}

PDRIVER_OBJECT Kernel::createDriver(PDRIVER_INITIALIZE entry, const std::string& serviceName,
                                    NTSTATUS* status) {
    NTSTATUS ignored;
    if (!status) status = &ignored;
    auto record = std::make_unique<DriverRecord>();
    record->serviceName = serviceName;
    return startDriver(std::move(record), entry, status);
}

PDRIVER_OBJECT Kernel::startDriver(std::unique_ptr<DriverRecord> record, PDRIVER_INITIALIZE entry,
                                   NTSTATUS* status) {
    auto service = fromUtf8(record->serviceName);
    if (!service || service->empty() || service->find(u'\\') != std::u16string::npos ||
        findDriver(record->serviceName)) {
        if (record->module) dlclose(record->module);
        *status = service && !service->empty() ? STATUS_OBJECT_NAME_COLLISION
                                               : STATUS_OBJECT_NAME_INVALID;
        return nullptr;
    }
    DriverRecord* driver = record.release();
    driver->driverName = u"\\Driver\\" + *service;
    driver->serviceKey = *service;
    driver->registryPath = serviceKeyPath(driver->serviceName);
    auto setString = [](UNICODE_STRING& s, std::u16string& text) {
        s.Buffer = text.data();
        s.Length = USHORT(text.size() * 2);
        s.MaximumLength = USHORT(text.size() * 2 + 2);
    };
    setString(driver->registryPathString, driver->registryPath);
    PDRIVER_OBJECT object = &driver->object;
    object->Type = kTypeDriver;
    object->Size = sizeof(DRIVER_OBJECT);
    object->DriverSection = driver;
    object->DriverExtension = &driver->extension;
    object->DriverInit = entry;
    setString(object->DriverName, driver->driverName);
    driver->extension.DriverObject = object;
    setString(driver->extension.ServiceKeyName, driver->serviceKey);
    for (auto& routine : object->MajorFunction) routine = invalidDeviceRequest;

    {
        // DriverEntry runs at PASSIVE_LEVEL in a system thread.
        IrqlScope irql(PASSIVE_LEVEL);
        *status = entry(object, &driver->registryPathString);
    }
    if (!NT_SUCCESS(*status)) {
        // A failed DriverEntry leaves nothing behind: devices it made are
        // deleted and the module is unloaded.
        while (object->DeviceObject) IoDeleteDevice(object->DeviceObject);
        drainDeferredWork();
        driver->unloaded = true;
        releaseDriver(driver);
        return nullptr;
    }
    std::lock_guard lock(driversMutex_);
    drivers_.push_back(driver);
    return object;
}

void Kernel::unloadDriver(PDRIVER_OBJECT object) {
    DriverRecord* driver = recordOf(object);
    if (!driver) return;
    {
        std::lock_guard lock(driversMutex_);
        auto it = std::find(drivers_.begin(), drivers_.end(), driver);
        if (it == drivers_.end()) return;
        drivers_.erase(it);
    }
    if (object->DriverUnload) {
        IrqlScope irql(PASSIVE_LEVEL);
        object->DriverUnload(object);
    }
    // What the driver left: delete it as the system does at unload.
    while (object->DeviceObject) IoDeleteDevice(object->DeviceObject);
    // Nothing of the driver may still be queued when its code goes away.
    drainDeferredWork();
    driver->unloaded = true;
    releaseDriver(driver);
}

std::vector<PDRIVER_OBJECT> Kernel::drivers() const {
    std::lock_guard lock(driversMutex_);
    std::vector<PDRIVER_OBJECT> out;
    for (auto* d : drivers_) out.push_back(&d->object);
    return out;
}

PDRIVER_OBJECT Kernel::findDriver(const std::string& serviceName) const {
    auto wanted = fromUtf8(serviceName);
    if (!wanted) return nullptr;
    std::lock_guard lock(driversMutex_);
    for (auto* d : drivers_)
        if (equalNoCase(d->serviceKey, *wanted)) return &d->object;
    return nullptr;
}

void Kernel::drainDeferredWork() {
    // Work items may queue DPCs and DPCs may queue work items: repeat until
    // both are quiet.
    for (int round = 0; round < 3; ++round) {
        dpcs_->flush();
        work_->drain();
    }
}

}  // namespace kalvo::kernel
