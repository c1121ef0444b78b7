// The PnP manager of the device host. For every board of the hardware whose
// kind a loaded driver serves it builds a device stack: a PDO of the host's
// bus driver, the driver's AddDevice on top of it, then IRP_MN_START_DEVICE
// with the board's raw and translated resources. It drives stop, removal,
// surprise removal and system power transitions on request, and at
// shutdown stops (query stop, stop) and removes (query remove, remove) every
// device. PnP requests are sent one at a time, as the system does.
#pragma once

#include "kernel/export.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kernel/hardware_provider.h"
#include "kernel/wdm.h"

namespace kalvo::kernel {

class Kernel;

enum class PnpState {
    NoDriver,         // no loaded driver serves the board's kind
    AddDeviceFailed,  // AddDevice failed: no device for the board
    NotStarted,       // added, not started
    Started,
    StartFailed,
    Stopped,
    SurpriseRemoved,
    RemovePending,  // removal sent; the driver has not yet let go of the PDO
    Removed,
};

KALVO_KERNEL_API const char* pnpStateName(PnpState state);

struct DeviceInfo {
    std::string location;
    std::string kind;
    std::string service;             // the driver's service name, empty without one
    std::string deviceName;          // the FDO's name, e.g. "\Device\Tolva0"
    std::vector<std::string> links;  // e.g. "\??\Tolva0"
    PnpState state = PnpState::NotStarted;
    NTSTATUS lastStatus = 0;  // of the last PnP request that the stack answered
    // As the driver last reported them (PoSetPowerState); D0 and S0 until then.
    DEVICE_POWER_STATE devicePower = PowerDeviceD0;
    SYSTEM_POWER_STATE systemPower = PowerSystemWorking;
};

// "D0".."D3", "S0".."S5" (S0 is working); "?" out of range.
KALVO_KERNEL_API std::string devicePowerName(DEVICE_POWER_STATE state);
KALVO_KERNEL_API std::string systemPowerName(SYSTEM_POWER_STATE state);

class KALVO_KERNEL_API PnpManager {
  public:
    explicit PnpManager(Kernel& kernel);
    ~PnpManager();  // shutdown()
    PnpManager(const PnpManager&) = delete;
    PnpManager& operator=(const PnpManager&) = delete;

    // Boards of this kind go to the driver.
    void addDriver(PDRIVER_OBJECT driver, const std::string& kind);

    // Builds and starts the stacks of the boards that have none yet.
    void enumerate();

    // What one rescan did, by board location.
    struct RescanResult {
        std::vector<std::string> removed;  // pulled: surprise removal sent
        std::vector<std::string> added;    // plugged in (or back): a new stack
    };
    // Compares the devices with the boards the hardware reports now (call
    // the provider's rescan first). A board that went gets a surprise
    // removal, and its remove once no handle of its device is open any more
    // (a later rescan sends it when handles were still open); a device that
    // was removed leaves the list. Boards without a device get a new stack
    // and start, as at enumeration.
    RescanResult rescan();

    // Starts a device that is not started, stopped or whose start failed.
    // resources: instead of the board's own list (diagnosis of a driver's
    // handling of wrong resources).
    NTSTATUS start(const std::string& location,
                   const std::optional<std::vector<ResourceDescriptor>>& resources = std::nullopt);
    // Query stop, then stop; a refused query is cancelled (cancel stop).
    // After queryStop, only the stop itself.
    NTSTATUS stop(const std::string& location);
    // The steps of a stop one at a time, as the system sends them when it
    // rebalances resources: query stop (a refused one is cancelled at once),
    // then either stop or cancel stop. Between them the driver holds its
    // new requests.
    NTSTATUS queryStop(const std::string& location);
    NTSTATUS cancelStop(const std::string& location);
    // Query remove, then remove; a refused query is cancelled (cancel
    // remove). A device that is not started is removed without a query.
    // With a handle of the device open the driver's removal waits for it:
    // STATUS_PENDING at once, and the removal ends in the background when
    // the last handle closes (the device shows "remove pending" until then).
    NTSTATUS remove(const std::string& location);
    NTSTATUS surpriseRemove(const std::string& location);
    // Diagnosis: one plug-and-play request sent to the device's stack as it
    // is, outside the order this manager keeps (a stop without its query,
    // as a bus that misbehaves would send it); the state shown follows a
    // stop or surprise removal. Not for start and remove. The stack's status.
    NTSTATUS sendRequest(const std::string& location, UCHAR minor);
    // Query power (for a sleeping state) then set power, to every started
    // device (or the one at location). A refused query stops the
    // transition, and the devices that had accepted it are sent S0, so that
    // none keeps holding its requests for a sleep that does not come.
    NTSTATUS setSystemPower(SYSTEM_POWER_STATE state, const std::string& location = {});
    // A device power state requested for one started device's stack (its
    // driver's set-power handling, as the device's own power policy would).
    NTSTATUS setDevicePower(const std::string& location, DEVICE_POWER_STATE state);

    // Stops and removes every device and deletes the PDOs. A removal still
    // waiting for handles is waited for: close them first.
    void shutdown();

    std::vector<DeviceInfo> devices() const;

    // How long removal waits for a driver to detach from the PDO.
    static constexpr int kDetachWaitMs = 5000;

  private:
    struct Node;
    Node* find(const std::string& location);
    NTSTATUS sendPnp(Node& node, UCHAR minor, PCM_RESOURCE_LIST raw = nullptr,
                     PCM_RESOURCE_LIST translated = nullptr);
    NTSTATUS callStack(PDEVICE_OBJECT pdo, UCHAR minor, PCM_RESOURCE_LIST raw = nullptr,
                       PCM_RESOURCE_LIST translated = nullptr);
    // The remove request of a device with handles open, on its own thread.
    void finishRemoval(Node& node);
    void joinRemovals();
    void shutdownLocked();
    NTSTATUS sendPower(Node& node, UCHAR minor, SYSTEM_POWER_STATE state);
    NTSTATUS startNode(Node& node, const std::vector<ResourceDescriptor>& resources);
    NTSTATUS queryStopNode(Node& node);
    NTSTATUS stopNode(Node& node);
    NTSTATUS removeNode(Node& node);
    void releasePdo(Node& node);
    void enumerateLocked(std::vector<std::string>* added);
    bool hasOpenHandles(Node& node);

    Kernel& kernel_;
    PDRIVER_OBJECT bus_ = nullptr;
    mutable std::mutex mutex_;  // one PnP operation at a time
    struct DriverKind {
        PDRIVER_OBJECT driver;
        std::string kind;
    };
    std::vector<DriverKind> drivers_;
    std::vector<Node*> nodes_;
};

}  // namespace kalvo::kernel
