#include "host/host_hardware.h"

namespace kalvo::kernel::host {

const std::vector<HardwareKind>& hardwareKinds() {
    static const std::vector<HardwareKind> kinds = {
        {"sim", "simulated boards (--boards) with the simulated network (--network)",
         &createSimulatedHardware},
        {"pci",
         "the boards in the PCI slots (--sysfs-root) whose IDs the drivers' registry "
         "parameters give",
         &createPciHardware},
    };
    return kinds;
}

std::unique_ptr<HostHardware> createHostHardware(const HostOptions& options, std::string* error) {
    std::string known;
    for (const HardwareKind& kind : hardwareKinds()) {
        if (options.hardware == kind.name) return kind.create(options, error);
        known += (known.empty() ? "" : ", ") + std::string(kind.name);
    }
    *error = "--hardware: unknown kind " + options.hardware + " (known: " + known + ")";
    return nullptr;
}

}  // namespace kalvo::kernel::host
