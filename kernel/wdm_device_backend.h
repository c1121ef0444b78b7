// The I/O manager's side of client requests: turns the transport's open,
// device-control, cancel and close calls into IRP_MJ_CREATE,
// IRP_MJ_DEVICE_CONTROL, IoCancelIrp, IRP_MJ_CLEANUP and IRP_MJ_CLOSE on
// the device that a symbolic link names, with a file object per handle.
#pragma once

#include "kernel/export.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>

#include "kernel/device_backend.h"
#include "kernel/wdm.h"

namespace kalvo::kernel {

class Kernel;

class KALVO_KERNEL_API WdmDeviceBackend : public DeviceBackend {
  public:
    explicit WdmDeviceBackend(Kernel& kernel) : kernel_(kernel) {}
    ~WdmDeviceBackend() override;  // closes the files left open

    NTSTATUS open(const OpenRequest& request, CallerProcess& caller, FileId* file) override;
    IoResult deviceControl(FileId file, uint32_t code, std::span<const uint8_t> input,
                           uint32_t outputLength, CallerProcess& caller) override;
    void cancelOpen(CallerProcess& caller) override;
    void cancel(FileId file) override;
    void close(FileId file) override;

    size_t openFiles() const;
    // Closes every open file (host shutdown: before the devices are removed).
    void closeAll();

  private:
    struct File {
        PFILE_OBJECT object = nullptr;
        PDEVICE_OBJECT device = nullptr;  // the named device, referenced
        std::mutex mutex;
        std::condition_variable idle;
        std::set<PIRP> pending;  // IRPs sent and not yet completed
        int active = 0;          // requests inside deviceControl
        bool closing = false;
    };

    std::shared_ptr<File> find(FileId id) const;
    // gate, when given, is released once the driver's dispatch returns.
    NTSTATUS sendFileIrp(File& file, PIRP irp, CallerProcess* caller,
                         std::shared_lock<std::shared_mutex>* gate = nullptr);

    Kernel& kernel_;
    mutable std::mutex mutex_;
    std::map<FileId, std::shared_ptr<File>> files_;
    // Files whose create is under way, by the caller waiting for it.
    std::map<CallerProcess*, std::shared_ptr<File>> opening_;
    FileId nextId_ = 1;
};

}  // namespace kalvo::kernel
