// The boards in the machine's PCI slots: the provider scans sysfs for the
// vendor and device IDs that each loaded driver's registry parameters give
// ("<service key>\Parameters", values VendorID and DeviceID), and the host
// looks again every half second for boards pulled or plugged in.
#include <cstdio>
#include <cstring>

#include "host/host_hardware.h"
#include "kernel/kernel.h"
#include "kernel/registry.h"
#include "pci/pci_hardware.h"

namespace kalvo::kernel::host {

namespace {

void tell(const std::string& message) {
    std::fprintf(stderr, "kalvo-devhost: %s\n", message.c_str());
}

bool sameName(std::u16string_view a, std::u16string_view b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// A REG_DWORD value of a key, by name without regard to case.
std::optional<uint32_t> dword(const RegistryKey& key, std::u16string_view name) {
    for (const RegistryValue& value : key.values) {
        if (!sameName(value.name, name)) continue;
        if (value.type != REG_DWORD || value.data.size() != 4) return std::nullopt;
        uint32_t v;
        std::memcpy(&v, value.data.data(), 4);
        return v;
    }
    return std::nullopt;
}

class PciHostHardware : public HostHardware {
  public:
    PciHostHardware(std::unique_ptr<pci::PciHardware> hardware, std::chrono::milliseconds period)
        : hardware_(std::move(hardware)), period_(period) {}

    HardwareProvider& provider() override { return *hardware_; }

    void driversLoaded(Kernel& kernel, const std::vector<LoadedDriver>& drivers) override {
        std::vector<pci::DriverMatch> matches;
        for (const LoadedDriver& driver : drivers) {
            const std::u16string path = Kernel::serviceKeyPath(driver.service) + u"\\Parameters";
            std::optional<RegistryKey> key = kernel.registry().key(path);
            std::optional<uint32_t> vendor = key ? dword(*key, u"VendorID") : std::nullopt;
            std::optional<uint32_t> device = key ? dword(*key, u"DeviceID") : std::nullopt;
            if (!vendor || !device || *vendor > 0xFFFF || *device > 0xFFFF) {
                tell("driver " + driver.service + " serves no PCI board: its registry key " +
                     "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + driver.service +
                     "\\Parameters" +
                     " has no VendorID and DeviceID dword values of 16 bits (the board's PCI "
                     "IDs); add them to the host's registry file (--registry)");
                continue;
            }
            matches.push_back({driver.kind, driver.service, static_cast<uint16_t>(*vendor),
                               static_cast<uint16_t>(*device)});
        }
        hardware_->setDrivers(std::move(matches));
    }

    std::chrono::milliseconds scanPeriod() const override { return period_; }

  private:
    std::unique_ptr<pci::PciHardware> hardware_;
    const std::chrono::milliseconds period_;
};

}  // namespace

std::unique_ptr<HostHardware> createPciHardware(const HostOptions& options, std::string* error) {
    if (options.boardsGiven || !options.network.empty())
        tell("--boards and --network describe simulated boards; --hardware pci ignores them");
    auto hardware = pci::PciHardware::create(options.sysfsRoot, &tell, error);
    if (!hardware) {
        *error = "--sysfs-root: " + *error;
        return nullptr;
    }
    return std::make_unique<PciHostHardware>(std::move(hardware),
                                             std::chrono::milliseconds(options.rescanMillis));
}

}  // namespace kalvo::kernel::host
