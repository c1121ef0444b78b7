// Device objects, device stacks, symbolic links, driver object extensions
// and work items.
#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <new>

#include "kernel/kernel.h"
#include "kernel/object_namespace.h"
#include "kernel/object_records.h"
#include "kernel/wide_text.h"
#include "kernel/work_queue.h"

namespace kalvo::kernel {

namespace {

// Attach, detach and walks up a stack take this lock.
std::mutex stackMutex;

struct DeviceBlock {
    DeviceRecord record;
    DEVICE_OBJECT object;
    // The extension follows, aligned for any structure.
};

constexpr size_t extensionOffset() {
    return (sizeof(DeviceBlock) + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
}

void freeDeviceBlock(DeviceRecord* record) {
    DriverRecord* driver = record->driver;
    void* block = record->block;
    static_cast<DeviceBlock*>(block)->~DeviceBlock();
    ::operator delete(block, std::align_val_t(alignof(std::max_align_t)));
    if (driver) releaseDriver(driver);
}

}  // namespace

void referenceDevice(PDEVICE_OBJECT device) {
    if (auto* record = recordOf(device)) record->references.fetch_add(1);
}

void releaseDevice(PDEVICE_OBJECT device) {
    auto* record = recordOf(device);
    if (record && record->references.fetch_sub(1) == 1) freeDeviceBlock(record);
}

void releaseDriver(DriverRecord* driver) {
    if (driver->references.fetch_sub(1) != 1) return;
    for (auto& [id, memory] : driver->extensions) std::free(memory);
    void* module = driver->module;
    delete driver;
    if (module) dlclose(module);
}

}  // namespace kalvo::kernel

using namespace kalvo::kernel;

struct _IO_WORKITEM {
    PDEVICE_OBJECT device;
};

extern "C" {

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize,
                        PUNICODE_STRING deviceName, DEVICE_TYPE deviceType,
                        ULONG deviceCharacteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* deviceObject) {
    if (!deviceObject) return STATUS_INVALID_PARAMETER;
    *deviceObject = nullptr;
    Kernel* kernel = Kernel::current();
    DriverRecord* driver = recordOf(driverObject);
    if (!kernel || !driver) return STATUS_INVALID_PARAMETER;
    if (deviceName && deviceName->Length % 2 != 0) return STATUS_OBJECT_NAME_INVALID;
    std::u16string name(view(deviceName));
    if (deviceExtensionSize > 0x10000000) return STATUS_INSUFFICIENT_RESOURCES;

    size_t size = extensionOffset() + deviceExtensionSize;
    void* block = ::operator new(size, std::align_val_t(alignof(std::max_align_t)), std::nothrow);
    if (!block) return STATUS_INSUFFICIENT_RESOURCES;
    auto* b = new (block) DeviceBlock{};
    std::memset(static_cast<char*>(block) + extensionOffset(), 0, deviceExtensionSize);
    DeviceRecord& record = b->record;
    PDEVICE_OBJECT device = &b->object;
    record.name = name;
    record.driver = driver;
    record.block = block;
    record.object = device;
    device->Type = kTypeDevice;
    device->Size =
        USHORT(sizeof(DEVICE_OBJECT) + (deviceExtensionSize > 0xFFFF ? 0 : deviceExtensionSize));
    device->ReferenceCount = 0;
    device->DriverObject = driverObject;
    device->Flags = DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0);
    device->Characteristics = deviceCharacteristics;
    device->DeviceExtension =
        deviceExtensionSize ? static_cast<char*>(block) + extensionOffset() : nullptr;
    device->DeviceType = deviceType;
    device->StackSize = 1;
    device->SectorSize = 0;
    device->DeviceObjectExtension = &record;
    KeInitializeEvent(&device->DeviceLock, SynchronizationEvent, TRUE);

    if (!name.empty()) {
        NTSTATUS status = kernel->names().insertDevice(name, device);
        if (!NT_SUCCESS(status)) {
            b->~DeviceBlock();
            ::operator delete(block, std::align_val_t(alignof(std::max_align_t)));
            return status;
        }
    }
    driver->references.fetch_add(1);
    {
        std::lock_guard lock(stackMutex);
        device->NextDevice = driverObject->DeviceObject;
        driverObject->DeviceObject = device;
    }
    *deviceObject = device;
    return STATUS_SUCCESS;
}

VOID IoDeleteDevice(PDEVICE_OBJECT deviceObject) {
    DeviceRecord* record = recordOf(deviceObject);
    if (!record || record->deleted.exchange(true)) return;
    if (Kernel* kernel = Kernel::current(); kernel && !record->name.empty())
        kernel->names().removeDevice(record->name, deviceObject);
    {
        std::lock_guard lock(stackMutex);
        PDRIVER_OBJECT driver = deviceObject->DriverObject;
        for (PDEVICE_OBJECT* p = &driver->DeviceObject; *p; p = &(*p)->NextDevice) {
            if (*p == deviceObject) {
                *p = deviceObject->NextDevice;
                break;
            }
        }
        deviceObject->NextDevice = nullptr;
    }
    releaseDevice(deviceObject);
}

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING symbolicLinkName, PUNICODE_STRING deviceName) {
    Kernel* kernel = Kernel::current();
    if (!kernel) return STATUS_UNSUCCESSFUL;
    if (!symbolicLinkName || !deviceName || symbolicLinkName->Length % 2 || deviceName->Length % 2)
        return STATUS_OBJECT_NAME_INVALID;
    return kernel->names().createLink(view(symbolicLinkName), view(deviceName));
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING symbolicLinkName) {
    Kernel* kernel = Kernel::current();
    if (!kernel) return STATUS_UNSUCCESSFUL;
    if (!symbolicLinkName || symbolicLinkName->Length % 2) return STATUS_OBJECT_NAME_INVALID;
    return kernel->names().deleteLink(view(symbolicLinkName));
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT sourceDevice,
                                           PDEVICE_OBJECT targetDevice) {
    if (!sourceDevice || !targetDevice) return nullptr;
    std::lock_guard lock(stackMutex);
    PDEVICE_OBJECT top = targetDevice;
    while (top->AttachedDevice) top = top->AttachedDevice;
    if (auto* record = recordOf(top); !record || record->deleted) return nullptr;
    top->AttachedDevice = sourceDevice;
    sourceDevice->StackSize = CCHAR(top->StackSize + 1);
    sourceDevice->AlignmentRequirement = top->AlignmentRequirement;
    return top;
}

VOID IoDetachDevice(PDEVICE_OBJECT targetDevice) {
    if (!targetDevice) return;
    std::lock_guard lock(stackMutex);
    targetDevice->AttachedDevice = nullptr;
}

PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT deviceObject) {
    if (!deviceObject) return nullptr;
    std::lock_guard lock(stackMutex);
    PDEVICE_OBJECT top = deviceObject;
    while (top->AttachedDevice) top = top->AttachedDevice;
    return top;
}

PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT deviceObject) {
    if (!deviceObject) return nullptr;
    std::lock_guard lock(stackMutex);
    PDEVICE_OBJECT top = deviceObject;
    while (top->AttachedDevice) top = top->AttachedDevice;
    referenceDevice(top);
    return top;
}

// References are counted for device objects (the only objects that the
// interface hands out); for other objects these do nothing.
VOID ObReferenceObject(PVOID object) {
    auto* device = static_cast<PDEVICE_OBJECT>(object);
    if (device && device->Type == kTypeDevice) referenceDevice(device);
}

VOID ObDereferenceObject(PVOID object) {
    auto* device = static_cast<PDEVICE_OBJECT>(object);
    if (device && device->Type == kTypeDevice) releaseDevice(device);
}

NTSTATUS IoAllocateDriverObjectExtension(PDRIVER_OBJECT driverObject,
                                         PVOID clientIdentificationAddress,
                                         ULONG driverObjectExtensionSize,
                                         PVOID* driverObjectExtension) {
    if (!driverObjectExtension) return STATUS_INVALID_PARAMETER;
    *driverObjectExtension = nullptr;
    DriverRecord* driver = recordOf(driverObject);
    if (!driver) return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(driver->extensionsMutex);
    if (driver->extensions.count(clientIdentificationAddress)) return STATUS_OBJECT_NAME_COLLISION;
    void* memory = std::calloc(1, driverObjectExtensionSize ? driverObjectExtensionSize : 1);
    if (!memory) return STATUS_INSUFFICIENT_RESOURCES;
    driver->extensions[clientIdentificationAddress] = memory;
    *driverObjectExtension = memory;
    return STATUS_SUCCESS;
}

PVOID IoGetDriverObjectExtension(PDRIVER_OBJECT driverObject, PVOID clientIdentificationAddress) {
    DriverRecord* driver = recordOf(driverObject);
    if (!driver) return nullptr;
    std::lock_guard lock(driver->extensionsMutex);
    auto it = driver->extensions.find(clientIdentificationAddress);
    return it == driver->extensions.end() ? nullptr : it->second;
}

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT deviceObject) {
    if (!recordOf(deviceObject)) return nullptr;
    Kernel* kernel = Kernel::current();
    if (kernel && kernel->work().takeRefusal()) return nullptr;
    auto* item = static_cast<PIO_WORKITEM>(std::malloc(sizeof(_IO_WORKITEM)));
    if (item) item->device = deviceObject;
    return item;
}

VOID IoQueueWorkItem(PIO_WORKITEM ioWorkItem, PIO_WORKITEM_ROUTINE workerRoutine, WORK_QUEUE_TYPE,
                     PVOID context) {
    Kernel* kernel = Kernel::current();
    if (!kernel || !ioWorkItem || !workerRoutine) return;
    PDEVICE_OBJECT device = ioWorkItem->device;
    // The device (and so its driver's code) stays in memory until the item
    // has run, even when the routine deletes it.
    referenceDevice(device);
    kernel->work().queue([device, workerRoutine, context] {
        workerRoutine(device, context);
        releaseDevice(device);
    });
}

VOID IoFreeWorkItem(PIO_WORKITEM ioWorkItem) {
    std::free(ioWorkItem);
}

}  // extern "C"
