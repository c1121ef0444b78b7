// The host's own records behind the driver and device objects that drivers
// see: names, the loaded module, reference counts. A DRIVER_OBJECT finds its
// record through DriverSection (the loader's entry on the original system),
// a DEVICE_OBJECT through DeviceObjectExtension.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "kernel/wdm.h"

namespace kalvo::kernel {

struct DriverRecord {
    DRIVER_OBJECT object{};
    DRIVER_EXTENSION extension{};
    std::string serviceName;
    std::u16string driverName;    // "\Driver\<service>"
    std::u16string serviceKey;    // ServiceKeyName
    std::u16string registryPath;  // "\Registry\Machine\...\Services\<service>"
    UNICODE_STRING registryPathString{};
    std::mutex extensionsMutex;
    std::map<PVOID, void*> extensions;  // IoAllocateDriverObjectExtension
    void* module = nullptr;             // dlopen handle, null for built-in drivers
    // One for being loaded, one for each device object still in memory.
    std::atomic<int> references{1};
    std::atomic<bool> unloaded{false};
};

struct DeviceRecord {
    static constexpr uint32_t kMagic = 0x4B44564F;
    uint32_t magic = kMagic;
    std::u16string name;  // "\Device\..." or empty
    DriverRecord* driver = nullptr;
    // One for existing (dropped by IoDeleteDevice), one per open file object
    // and per queued work item.
    std::atomic<int> references{1};
    std::atomic<bool> deleted{false};
    std::atomic<int> openFiles{0};
    // Removal of the device has begun (the PnP manager is about to send
    // IRP_MN_REMOVE_DEVICE): no new file may be opened on it. An open holds
    // the gate shared from its check until the driver's create dispatch has
    // returned, and the removal sets the flag holding it exclusively, so no
    // create is still inside a driver that is tearing its device down.
    std::shared_mutex removalGate;
    bool removing = false;  // guarded by removalGate
    std::mutex powerMutex;
    DEVICE_POWER_STATE devicePower = PowerDeviceD0;
    SYSTEM_POWER_STATE systemPower = PowerSystemWorking;
    void* block = nullptr;  // the allocation that holds object and extension
    PDEVICE_OBJECT object = nullptr;
};

inline DriverRecord* recordOf(PDRIVER_OBJECT driver) {
    return driver ? static_cast<DriverRecord*>(driver->DriverSection) : nullptr;
}
inline DeviceRecord* recordOf(PDEVICE_OBJECT device) {
    auto* record = device ? static_cast<DeviceRecord*>(device->DeviceObjectExtension) : nullptr;
    return record && record->magic == DeviceRecord::kMagic ? record : nullptr;
}

void referenceDevice(PDEVICE_OBJECT device);
// Frees the device object once it is deleted and unreferenced.
void releaseDevice(PDEVICE_OBJECT device);
// Frees the driver record (and unloads its module) at the last reference.
void releaseDriver(DriverRecord* driver);

// Object type numbers in the Type field of kernel objects.
inline constexpr CSHORT kTypeDevice = 3;
inline constexpr CSHORT kTypeDriver = 4;
inline constexpr CSHORT kTypeFile = 5;
inline constexpr CSHORT kTypeIrp = 6;

}  // namespace kalvo::kernel
