// The hardware a device host serves, chosen at start by --hardware: the
// kernel reaches it through the HardwareProvider interface only. Each kind
// is a row of the table below; a provider for real boards is one more row
// and leaves the host's main alone.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "host/admin_server.h"
#include "host/host_options.h"
#include "kernel/hardware_provider.h"

namespace kalvo::kernel {
class Kernel;
}

namespace kalvo::kernel::host {

// A driver the host loaded, for hardware that finds its boards by driver.
struct LoadedDriver {
    std::string kind;     // the board kind it serves
    std::string service;  // its service name: the registry key of its parameters
};

class HostHardware {
  public:
    virtual ~HostHardware() = default;

    virtual HardwareProvider& provider() = 0;

    // The handler of the admin channel's "sim" requests, or an empty one
    // when this hardware has nothing to simulate.
    virtual AdminServer::SimHandler simHandler() { return {}; }

    // The drivers are loaded and the devices not yet enumerated: hardware
    // that finds boards by their drivers' registry parameters looks now.
    virtual void driversLoaded(Kernel& kernel, const std::vector<LoadedDriver>& drivers) {
        (void)kernel;
        (void)drivers;
    }

    // How often the host looks for boards plugged in or pulled; zero for
    // hardware that never changes.
    virtual std::chrono::milliseconds scanPeriod() const { return {}; }
};

struct HardwareKind {
    const char* name;  // the value of --hardware
    const char* description;
    std::unique_ptr<HostHardware> (*create)(const HostOptions& options, std::string* error);
};

// The kinds this host knows, the default ("sim") first.
const std::vector<HardwareKind>& hardwareKinds();

// The hardware options.hardware names; null with the reason in *error.
std::unique_ptr<HostHardware> createHostHardware(const HostOptions& options, std::string* error);

// The simulated boards of --boards (or of a --network configuration folder)
// with the simulated network on them.
std::unique_ptr<HostHardware> createSimulatedHardware(const HostOptions& options,
                                                      std::string* error);

// The boards in the machine's PCI slots (sysfs under --sysfs-root) that the
// loaded drivers serve.
std::unique_ptr<HostHardware> createPciHardware(const HostOptions& options, std::string* error);

}  // namespace kalvo::kernel::host
