// The device host's kernel: one instance per process. It owns the threads
// that run deferred work (DPCs, timers, work items), the object name space,
// the registry and error log, the hardware's bus memory and the loaded
// drivers. The driver interface calls (kernel/wdm.h) reach it through
// Kernel::current().
#pragma once

#include "kernel/export.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/wdm.h"

namespace kalvo::kernel {

class HardwareProvider;
class DpcQueue;
class TimerQueue;
class WorkQueue;
class ObjectNamespace;
class Registry;
class ErrorLog;
class IoSpace;
struct DriverRecord;

struct KernelOptions {
    HardwareProvider* hardware = nullptr;  // null: no boards, no physical memory
    std::filesystem::path registryFile;    // empty: an empty registry
    std::filesystem::path errorLogFile;    // empty: entries kept in memory only
};

class KALVO_KERNEL_API Kernel {
  public:
    explicit Kernel(KernelOptions options);
    ~Kernel();  // unloads the drivers that are left, stops the threads
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    // The running kernel; null when there is none.
    static Kernel* current() noexcept;

    HardwareProvider* hardware() const noexcept { return options_.hardware; }
    DpcQueue& dpcs() noexcept { return *dpcs_; }
    TimerQueue& timers() noexcept { return *timers_; }
    WorkQueue& work() noexcept { return *work_; }
    ObjectNamespace& names() noexcept { return *names_; }
    Registry& registry() noexcept { return *registry_; }
    ErrorLog& errorLog() noexcept { return *errorLog_; }
    IoSpace& ioSpace() noexcept { return *ioSpace_; }

    // Loads a driver module and runs its DriverEntry with the registry path
    // of the service. The driver object is returned, or null with *status.
    PDRIVER_OBJECT loadDriver(const std::filesystem::path& module, const std::string& serviceName,
                              NTSTATUS* status);
    // A driver linked into the host (the bus driver, tests).
    PDRIVER_OBJECT createDriver(PDRIVER_INITIALIZE entry, const std::string& serviceName,
                                NTSTATUS* status);
    // Calls DriverUnload (when set) and releases the driver. The module is
    // unloaded once no device object of the driver is left in memory.
    // Devices the driver leaves on its list are deleted after DriverUnload.
    void unloadDriver(PDRIVER_OBJECT driver);
    std::vector<PDRIVER_OBJECT> drivers() const;
    PDRIVER_OBJECT findDriver(const std::string& serviceName) const;

    // Waits until the DPC queue and the work queue have nothing left to run.
    void drainDeferredWork();

    // The registry path of a service:
    // "\Registry\Machine\System\CurrentControlSet\Services\<name>".
    static std::u16string serviceKeyPath(const std::string& serviceName);

  private:
    PDRIVER_OBJECT startDriver(std::unique_ptr<DriverRecord> record, PDRIVER_INITIALIZE entry,
                               NTSTATUS* status);

    KernelOptions options_;
    std::unique_ptr<ObjectNamespace> names_;
    std::unique_ptr<Registry> registry_;
    std::unique_ptr<ErrorLog> errorLog_;
    std::unique_ptr<IoSpace> ioSpace_;
    std::unique_ptr<DpcQueue> dpcs_;
    std::unique_ptr<TimerQueue> timers_;
    std::unique_ptr<WorkQueue> work_;
    mutable std::mutex driversMutex_;
    std::vector<DriverRecord*> drivers_;
};

}  // namespace kalvo::kernel
