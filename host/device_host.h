// The device host's pieces wired together: the hardware, the kernel runtime
// with the drivers loaded and the devices enumerated, the device server for
// client processes and the admin channel. Built in that order, torn down in
// the reverse one.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "host/host_options.h"

namespace kalvo::kernel::host {

class DeviceHost {
  public:
    // Builds and starts serving in the folder; null with the reason in
    // *error. requestShutdown is what the admin "shutdown" request calls.
    static std::unique_ptr<DeviceHost> start(const HostOptions& options, const std::string& folder,
                                             std::function<void()> requestShutdown,
                                             std::string* error);

    // Clients go first (their handles get cleanup and close), then every
    // device is stopped and removed with no handle open, then the drivers
    // are unloaded, then the hardware goes. The admin socket answers until
    // the devices are gone, so that "kalvo-devctl stop" returns only then.
    ~DeviceHost();

    size_t deviceCount() const;

  private:
    struct Parts;
    explicit DeviceHost(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};

}  // namespace kalvo::kernel::host
