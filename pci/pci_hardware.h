// Real boards behind the hardware provider: PCI devices found in sysfs
// ("<root>/bus/pci/devices/<address>") by the vendor and device IDs of the
// drivers the host loads. Their BARs, read from the device's "resource"
// table, are the board's resources; each memory BAR is a window mapped
// through the device's "resourceN" file, so the same code that serves
// simulated boards maps it for the driver (MmMapIoSpace) and for client
// views. A device whose "enable" reads 0 is enabled first.
//
// A board whose window cannot be opened or mapped is still reported, with
// its resources, but without that window: the driver's start then fails to
// map it and logs it as it logs any window it cannot map, and the other
// boards go on. Every such problem is told to the reporter too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "kernel/hardware_provider.h"
#include "pci/resource_table.h"

namespace kalvo::pci {

// A driver the host loaded, with the PCI identity of its boards.
struct DriverMatch {
    std::string kind;     // the board kind the driver serves ("tolva", ...)
    std::string service;  // for messages: "Tolva"
    uint16_t vendorId = 0;
    uint16_t deviceId = 0;
};

class PciHardware final : public kernel::HardwareProvider {
  public:
    // Problems found while scanning, one message each (a person reads them).
    using Reporter = std::function<void(const std::string& message)>;

    // The provider for the sysfs tree under root ("/sys"); nothing, with the
    // reason in *error, when its PCI device folder cannot be read.
    static std::unique_ptr<PciHardware> create(const std::filesystem::path& root, Reporter reporter,
                                               std::string* error);
    ~PciHardware() override;

    // The drivers whose boards to look for; the boards are scanned at once.
    // Each driver none of whose boards is there is reported.
    void setDrivers(std::vector<DriverMatch> drivers);

    // HardwareProvider
    std::vector<kernel::BoardDescription> boards() const override;
    std::vector<kernel::MemoryWindow> windows() const override;
    bool rescan() override;

    // The folder scanned: "<root>/bus/pci/devices".
    const std::filesystem::path& devicesFolder() const { return devices_; }

  private:
    struct Board;
    PciHardware(std::filesystem::path devices, Reporter reporter);
    std::unique_ptr<Board> readBoard(const std::filesystem::path& folder,
                                     const DriverMatch& driver);
    void openWindows(Board& board, const std::filesystem::path& folder,
                     const std::vector<ResourceLine>& lines) const;
    void report(const std::string& message) const;
    // A board left out is looked at again at every scan; its problem is
    // told once, until its folder goes.
    void reportOnce(const std::string& location, const std::string& message);

    const std::filesystem::path devices_;
    Reporter reporter_;
    mutable std::mutex mutex_;
    std::vector<DriverMatch> drivers_;
    std::vector<std::unique_ptr<Board>> boards_;
    std::set<std::string> leftOut_;  // locations whose problem was told
    bool folderUnreadable_ = false;  // told once until it can be read again
};

// The sysfs address of a device ("0000:03:00.0") as a board location
// ("pci-0000:03:00.0"), the form the simulated boards use too.
std::string pciLocation(const std::string& address);

}  // namespace kalvo::pci
