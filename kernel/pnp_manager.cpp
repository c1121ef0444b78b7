#include "kernel/pnp_manager.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "kernel/irp_block.h"
#include "kernel/irql.h"
#include "kernel/kernel.h"
#include "kernel/object_namespace.h"
#include "kernel/object_records.h"
#include "kernel/root_bus.h"
#include "kernel/wide_text.h"

namespace kalvo::kernel {

const char* pnpStateName(PnpState state) {
    switch (state) {
        case PnpState::NoDriver:
            return "no driver";
        case PnpState::AddDeviceFailed:
            return "add device failed";
        case PnpState::NotStarted:
            return "not started";
        case PnpState::Started:
            return "started";
        case PnpState::StartFailed:
            return "start failed";
        case PnpState::Stopped:
            return "stopped";
        case PnpState::SurpriseRemoved:
            return "surprise removed";
        case PnpState::RemovePending:
            return "remove pending";
        case PnpState::Removed:
            return "removed";
    }
    return "?";
}

std::string devicePowerName(DEVICE_POWER_STATE state) {
    if (state < PowerDeviceD0 || state > PowerDeviceD3) return "?";
    return "D" + std::to_string(int(state) - int(PowerDeviceD0));
}

std::string systemPowerName(SYSTEM_POWER_STATE state) {
    if (state < PowerSystemWorking || state > PowerSystemShutdown) return "?";
    return "S" + std::to_string(int(state) - int(PowerSystemWorking));
}

struct PnpManager::Node {
    BoardDescription board;
    PDRIVER_OBJECT driver = nullptr;
    PDEVICE_OBJECT pdo = nullptr;
    std::u16string fdoName;
    PnpState state = PnpState::NotStarted;
    NTSTATUS lastStatus = STATUS_SUCCESS;
    SYSTEM_POWER_STATE systemPower = PowerSystemWorking;  // as last set
    bool stopQueried = false;  // query stop accepted, stop or cancel stop not sent yet
    // A remove request that waits in the driver for the device's handles to
    // close, sent from its own thread; done once it has finished.
    std::thread removal;
    bool removalDone = false;
    bool removalRunning() const { return removal.joinable() && !removalDone; }
};

namespace {

// A resource list with one full descriptor (the board on the PCI bus) whose
// storage outlives the start request.
class ResourceList {
  public:
    explicit ResourceList(const std::vector<ResourceDescriptor>& resources) {
        size_t count = resources.size();
        size_t bytes = sizeof(CM_RESOURCE_LIST) +
                       (count > 1 ? count - 1 : 0) * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR);
        storage_.assign((bytes + 7) / 8, 0);
        auto* list = get();
        list->Count = 1;
        CM_FULL_RESOURCE_DESCRIPTOR& full = list->List[0];
        full.InterfaceType = PCIBus;
        full.BusNumber = 0;
        full.PartialResourceList.Version = 1;
        full.PartialResourceList.Revision = 1;
        full.PartialResourceList.Count = ULONG(count);
        for (size_t i = 0; i < count; ++i) {
            const ResourceDescriptor& r = resources[i];
            CM_PARTIAL_RESOURCE_DESCRIPTOR& d = full.PartialResourceList.PartialDescriptors[i];
            d.Type = UCHAR(r.type);
            d.ShareDisposition = CmResourceShareDeviceExclusive;
            d.Flags = r.flags;
            switch (r.type) {
                case ResourceDescriptor::Memory:
                    d.u.Memory.Start.QuadPart = LONGLONG(r.start);
                    d.u.Memory.Length = r.length;
                    break;
                case ResourceDescriptor::Port:
                    d.u.Port.Start.QuadPart = LONGLONG(r.start);
                    d.u.Port.Length = r.length;
                    break;
                case ResourceDescriptor::Interrupt:
                    d.u.Interrupt.Level = r.level;
                    d.u.Interrupt.Vector = r.level;
                    d.u.Interrupt.Affinity = 1;
                    break;
            }
        }
    }
    PCM_RESOURCE_LIST get() { return reinterpret_cast<PCM_RESOURCE_LIST>(storage_.data()); }

  private:
    std::vector<uint64_t> storage_;
};

}  // namespace

PnpManager::PnpManager(Kernel& kernel) : kernel_(kernel) {
    NTSTATUS status;
    bus_ = kernel_.createDriver(RootBusDriverEntry, "KalvoBus", &status);
}

PnpManager::~PnpManager() {
    shutdown();
    for (Node* node : nodes_) delete node;
    if (bus_) kernel_.unloadDriver(bus_);
}

void PnpManager::addDriver(PDRIVER_OBJECT driver, const std::string& kind) {
    std::lock_guard lock(mutex_);
    drivers_.push_back({driver, kind});
}

PnpManager::Node* PnpManager::find(const std::string& location) {
    for (Node* node : nodes_)
        if (node->board.location == location) return node;
    return nullptr;
}

NTSTATUS PnpManager::sendPnp(Node& node, UCHAR minor, PCM_RESOURCE_LIST raw,
                             PCM_RESOURCE_LIST translated) {
    NTSTATUS status = callStack(node.pdo, minor, raw, translated);
    node.lastStatus = status;
    return status;
}

NTSTATUS PnpManager::callStack(PDEVICE_OBJECT pdo, UCHAR minor, PCM_RESOURCE_LIST raw,
                               PCM_RESOURCE_LIST translated) {
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(pdo);
    PIRP irp = allocateIrp(top->StackSize, IrpOrigin::Synchronous);
    if (!irp) {
        ObDereferenceObject(top);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    // A PnP request that nobody in the stack handles ends as not supported.
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    location->MajorFunction = IRP_MJ_PNP;
    location->MinorFunction = minor;
    if (minor == IRP_MN_START_DEVICE) {
        location->Parameters.StartDevice.AllocatedResources = raw;
        location->Parameters.StartDevice.AllocatedResourcesTranslated = translated;
    }
    NTSTATUS status;
    {
        IrqlScope irql(PASSIVE_LEVEL);
        status = callAndWait(top, irp);
    }
    freeIrp(irp);
    ObDereferenceObject(top);
    return status;
}

NTSTATUS PnpManager::sendPower(Node& node, UCHAR minor, SYSTEM_POWER_STATE state) {
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(node.pdo);
    PIRP irp = allocateIrp(top->StackSize, IrpOrigin::Synchronous);
    if (!irp) {
        ObDereferenceObject(top);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    location->MajorFunction = IRP_MJ_POWER;
    location->MinorFunction = minor;
    location->Parameters.Power.Type = SystemPowerState;
    location->Parameters.Power.State.SystemState = state;
    location->Parameters.Power.ShutdownType = state == PowerSystemWorking     ? PowerActionNone
                                              : state == PowerSystemShutdown  ? PowerActionShutdown
                                              : state == PowerSystemHibernate ? PowerActionHibernate
                                                                              : PowerActionSleep;
    NTSTATUS status;
    {
        IrqlScope irql(PASSIVE_LEVEL);
        status = callAndWait(top, irp);
    }
    freeIrp(irp);
    ObDereferenceObject(top);
    return status;
}

void PnpManager::enumerate() {
    std::lock_guard lock(mutex_);
    enumerateLocked(nullptr);
}

void PnpManager::enumerateLocked(std::vector<std::string>* added) {
    HardwareProvider* hardware = kernel_.hardware();
    if (!hardware || !bus_) return;
    for (const BoardDescription& board : hardware->boards()) {
        if (find(board.location)) continue;
        if (added) added->push_back(board.location);
        auto* node = new Node;
        node->board = board;
        nodes_.push_back(node);
        for (auto& d : drivers_)
            if (d.kind == board.kind) node->driver = d.driver;
        if (!node->driver) {
            node->state = PnpState::NoDriver;
            continue;
        }
        NTSTATUS status = createBoardPdo(bus_, &node->pdo);
        if (!NT_SUCCESS(status)) {
            node->state = PnpState::AddDeviceFailed;
            node->lastStatus = status;
            continue;
        }
        PDRIVER_ADD_DEVICE addDevice = node->driver->DriverExtension->AddDevice;
        {
            IrqlScope irql(PASSIVE_LEVEL);
            status = addDevice ? addDevice(node->driver, node->pdo) : STATUS_NOT_SUPPORTED;
        }
        node->lastStatus = status;
        PDEVICE_OBJECT top = IoGetAttachedDevice(node->pdo);
        if (!NT_SUCCESS(status) || top == node->pdo) {
            node->state = PnpState::AddDeviceFailed;
            releasePdo(*node);
            continue;
        }
        if (auto* record = recordOf(top)) node->fdoName = record->name;
        node->state = PnpState::NotStarted;
        startNode(*node, board.resources);
    }
}

bool PnpManager::hasOpenHandles(Node& node) {
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(node.pdo);
    DeviceRecord* record = top != node.pdo ? recordOf(top) : nullptr;
    const bool open = record && record->openFiles.load() > 0;
    ObDereferenceObject(top);
    return open;
}

PnpManager::RescanResult PnpManager::rescan() {
    std::lock_guard lock(mutex_);
    RescanResult result;
    HardwareProvider* hardware = kernel_.hardware();
    if (!hardware || !bus_) return result;
    const std::vector<BoardDescription> present = hardware->boards();
    // The board is still there: at its location, and not another board put
    // in its place since (that one is an arrival, this one a removal).
    auto isPresent = [&](const BoardDescription& known) {
        return std::any_of(present.begin(), present.end(), [&](const BoardDescription& board) {
            return board.location == known.location && board.identity == known.identity;
        });
    };
    for (Node* node : nodes_) {
        if (!node->pdo || node->removalRunning() || isPresent(node->board)) continue;
        if (node->state != PnpState::SurpriseRemoved && node->state != PnpState::RemovePending) {
            // The board is gone: whatever the driver holds can no longer
            // reach it.
            sendPnp(*node, IRP_MN_SURPRISE_REMOVAL);
            node->state = PnpState::SurpriseRemoved;
            node->stopQueried = false;
            result.removed.push_back(node->board.location);
        }
        // The remove waits until the last handle is closed, as the system
        // sends it; a driver's removal blocks while handles are open.
        if (node->state == PnpState::SurpriseRemoved && !hasOpenHandles(*node)) removeNode(*node);
        if (node->state == PnpState::RemovePending && IoGetAttachedDevice(node->pdo) == node->pdo)
            releasePdo(*node);
    }
    // Devices removed for good leave the list, so that a board plugged in at
    // their place is a new device.
    for (auto it = nodes_.begin(); it != nodes_.end();) {
        Node* node = *it;
        const bool gone =
            !node->pdo && (node->state == PnpState::Removed || !isPresent(node->board));
        if (gone) {
            // A removal thread that released the PDO has finished with it.
            if (node->removal.joinable()) node->removal.join();
            delete node;
            it = nodes_.erase(it);
        } else {
            ++it;
        }
    }
    enumerateLocked(&result.added);
    return result;
}

NTSTATUS PnpManager::startNode(Node& node, const std::vector<ResourceDescriptor>& resources) {
    ResourceList raw(resources);
    ResourceList translated(resources);
    NTSTATUS status = sendPnp(node, IRP_MN_START_DEVICE, raw.get(), translated.get());
    node.state = NT_SUCCESS(status) ? PnpState::Started : PnpState::StartFailed;
    return status;
}

NTSTATUS PnpManager::queryStopNode(Node& node) {
    NTSTATUS status = sendPnp(node, IRP_MN_QUERY_STOP_DEVICE);
    if (!NT_SUCCESS(status)) {
        sendPnp(node, IRP_MN_CANCEL_STOP_DEVICE);
        node.lastStatus = status;
        return status;
    }
    node.stopQueried = true;
    return status;
}

NTSTATUS PnpManager::stopNode(Node& node) {
    if (!node.stopQueried) {
        NTSTATUS status = queryStopNode(node);
        if (!NT_SUCCESS(status)) return status;
    }
    node.stopQueried = false;
    NTSTATUS status = sendPnp(node, IRP_MN_STOP_DEVICE);
    node.state = PnpState::Stopped;
    return status;
}

namespace {

// From here on every device of the stack refuses new opens with
// STATUS_DELETE_PENDING. Taking each gate exclusively waits for the opens
// already past their check to be handed to the driver, which then counts
// them before it waits for its requests and handles to end.
void refuseNewOpens(PDEVICE_OBJECT pdo) {
    // The stack does not change here: devices attach at AddDevice and
    // detach in the remove request that follows.
    for (PDEVICE_OBJECT device = pdo; device; device = device->AttachedDevice) {
        if (DeviceRecord* record = recordOf(device)) {
            std::unique_lock gate(record->removalGate);
            record->removing = true;
        }
    }
}

}  // namespace

NTSTATUS PnpManager::removeNode(Node& node) {
    if (node.stopQueried) {
        // A stop was queried and not followed up: called off first.
        node.stopQueried = false;
        sendPnp(node, IRP_MN_CANCEL_STOP_DEVICE);
    }
    bool query = node.state == PnpState::Started || node.state == PnpState::Stopped;
    if (query) {
        NTSTATUS status = sendPnp(node, IRP_MN_QUERY_REMOVE_DEVICE);
        if (!NT_SUCCESS(status)) {
            sendPnp(node, IRP_MN_CANCEL_REMOVE_DEVICE);
            node.lastStatus = status;
            return status;
        }
    }
    refuseNewOpens(node.pdo);
    node.state = PnpState::RemovePending;
    if (hasOpenHandles(node)) {
        // The driver's removal waits for the handles to close (for a device
        // whose removal was queried or that was surprise-removed). It waits
        // on a thread of its own, so that nobody waits with it: not the
        // admin request, not the lock of this manager and the rescans behind
        // it, not the host's shutdown, which closes the handles.
        node.removalDone = false;
        node.removal = std::thread([this, &node] { finishRemoval(node); });
        return STATUS_PENDING;
    }
    NTSTATUS status = sendPnp(node, IRP_MN_REMOVE_DEVICE);
    releasePdo(node);
    return status;
}

void PnpManager::finishRemoval(Node& node) {
    // The PDO stays while this runs: only this thread releases it.
    NTSTATUS status = callStack(node.pdo, IRP_MN_REMOVE_DEVICE);
    // A driver that ends its removal in a work item lets go of the PDO once
    // the last handle has closed: waited for here, without the lock, and
    // for as long as the handles stay open (then as releasePdo would).
    std::optional<std::chrono::steady_clock::time_point> deadline;
    while (IoGetAttachedDevice(node.pdo) != node.pdo) {
        if (!deadline && !hasOpenHandles(node))
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDetachWaitMs);
        if (deadline && std::chrono::steady_clock::now() >= *deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::lock_guard lock(mutex_);
    node.lastStatus = status;
    releasePdo(node);
    node.removalDone = true;
}

void PnpManager::joinRemovals() {
    std::vector<std::thread> running;
    {
        std::lock_guard lock(mutex_);
        for (Node* node : nodes_)
            if (node->removal.joinable()) running.push_back(std::move(node->removal));
    }
    for (std::thread& thread : running) thread.join();
}

// The PDO goes once no device is attached to it any more (a driver may
// finish its removal later, from a work item, once its handles are closed).
void PnpManager::releasePdo(Node& node) {
    if (!node.pdo) return;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDetachWaitMs);
    while (IoGetAttachedDevice(node.pdo) != node.pdo) {
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    IoDeleteDevice(node.pdo);
    node.pdo = nullptr;
    if (node.state == PnpState::RemovePending) node.state = PnpState::Removed;
}

NTSTATUS PnpManager::start(const std::string& location,
                           const std::optional<std::vector<ResourceDescriptor>>& resources) {
    std::lock_guard lock(mutex_);
    Node* node = find(location);
    if (!node || !node->pdo) return STATUS_NO_SUCH_DEVICE;
    if (node->state != PnpState::NotStarted && node->state != PnpState::Stopped &&
        node->state != PnpState::StartFailed)
        return STATUS_INVALID_DEVICE_STATE;
    return startNode(*node, resources ? *resources : node->board.resources);
}

NTSTATUS PnpManager::stop(const std::string& location) {
    std::lock_guard lock(mutex_);
    Node* node = find(location);
    if (!node || !node->pdo) return STATUS_NO_SUCH_DEVICE;
    if (node->state != PnpState::Started) return STATUS_INVALID_DEVICE_STATE;
    return stopNode(*node);
}

NTSTATUS PnpManager::queryStop(const std::string& location) {
    std::lock_guard lock(mutex_);
    Node* node = find(location);
    if (!node || !node->pdo) return STATUS_NO_SUCH_DEVICE;
    if (node->state != PnpState::Started || node->stopQueried) return STATUS_INVALID_DEVICE_STATE;
    return queryStopNode(*node);
}

NTSTATUS PnpManager::cancelStop(const std::string& location) {
    std::lock_guard lock(mutex_);
    Node* node = find(location);
    if (!node || !node->pdo) return STATUS_NO_SUCH_DEVICE;
    if (node->state != PnpState::Started || !node->stopQueried) return STATUS_INVALID_DEVICE_STATE;
    node->stopQueried = false;
    return sendPnp(*node, IRP_MN_CANCEL_STOP_DEVICE);
}

NTSTATUS PnpManager::remove(const std::string& location) {
    std::lock_guard lock(mutex_);
    Node* node = find(location);
    if (!node || !node->pdo) return STATUS_NO_SUCH_DEVICE;
    if (node->removalRunning()) return STATUS_PENDING;
    if (node->state == PnpState::RemovePending) {
        releasePdo(*node);
        return node->pdo ? STATUS_DEVICE_BUSY : STATUS_SUCCESS;
    }
    return removeNode(*node);
}

NTSTATUS PnpManager::sendRequest(const std::string& location, UCHAR minor) {
    std::lock_guard lock(mutex_);
    Node* node = find(location);
    if (!node || !node->pdo) return STATUS_NO_SUCH_DEVICE;
    if (node->removalRunning() || minor == IRP_MN_REMOVE_DEVICE || minor == IRP_MN_START_DEVICE)
        return STATUS_INVALID_DEVICE_REQUEST;
    NTSTATUS status = sendPnp(*node, minor);
    if (minor == IRP_MN_STOP_DEVICE) {
        node->state = PnpState::Stopped;
        node->stopQueried = false;
    } else if (minor == IRP_MN_SURPRISE_REMOVAL) {
        node->state = PnpState::SurpriseRemoved;
    }
    return status;
}

NTSTATUS PnpManager::surpriseRemove(const std::string& location) {
    std::lock_guard lock(mutex_);
    Node* node = find(location);
    if (!node || !node->pdo) return STATUS_NO_SUCH_DEVICE;
    if (node->state == PnpState::SurpriseRemoved || node->state == PnpState::RemovePending)
        return STATUS_INVALID_DEVICE_STATE;
    NTSTATUS status = sendPnp(*node, IRP_MN_SURPRISE_REMOVAL);
    node->state = PnpState::SurpriseRemoved;
    node->stopQueried = false;
    return status;
}

NTSTATUS PnpManager::setSystemPower(SYSTEM_POWER_STATE state, const std::string& location) {
    std::lock_guard lock(mutex_);
    if (state <= PowerSystemUnspecified || state >= PowerSystemMaximum)
        return STATUS_INVALID_PARAMETER;
    std::vector<Node*> started;
    for (Node* node : nodes_)
        if (node->state == PnpState::Started && node->pdo &&
            (location.empty() || node->board.location == location))
            started.push_back(node);
    if (!location.empty() && started.empty())
        return find(location) && find(location)->pdo ? STATUS_INVALID_DEVICE_STATE
                                                     : STATUS_NO_SUCH_DEVICE;
    if (state != PowerSystemWorking) {
        std::vector<Node*> accepted;
        for (Node* node : started) {
            NTSTATUS status = sendPower(*node, IRP_MN_QUERY_POWER, state);
            if (!NT_SUCCESS(status)) {
                // A device that accepted the query holds its new requests
                // until power returns: tell it the system stays working.
                for (Node* back : accepted) {
                    sendPower(*back, IRP_MN_SET_POWER, PowerSystemWorking);
                    back->systemPower = PowerSystemWorking;
                }
                return status;
            }
            accepted.push_back(node);
        }
    }
    NTSTATUS result = STATUS_SUCCESS;
    for (Node* node : started) {
        NTSTATUS status = sendPower(*node, IRP_MN_SET_POWER, state);
        node->systemPower = state;
        if (!NT_SUCCESS(status)) result = status;
    }
    return result;
}

namespace {

void signalPowerDone(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK io) {
    auto* done = static_cast<std::pair<KEVENT, NTSTATUS>*>(context);
    done->second = io ? io->Status : STATUS_SUCCESS;
    KeSetEvent(&done->first, IO_NO_INCREMENT, FALSE);
}

}  // namespace

NTSTATUS PnpManager::setDevicePower(const std::string& location, DEVICE_POWER_STATE state) {
    std::lock_guard lock(mutex_);
    if (state < PowerDeviceD0 || state > PowerDeviceD3) return STATUS_INVALID_PARAMETER;
    Node* node = find(location);
    if (!node || !node->pdo) return STATUS_NO_SUCH_DEVICE;
    if (node->state != PnpState::Started) return STATUS_INVALID_DEVICE_STATE;
    std::pair<KEVENT, NTSTATUS> done{};
    KeInitializeEvent(&done.first, NotificationEvent, FALSE);
    POWER_STATE power;
    power.DeviceState = state;
    NTSTATUS status;
    {
        IrqlScope irql(PASSIVE_LEVEL);
        status =
            PoRequestPowerIrp(node->pdo, IRP_MN_SET_POWER, power, signalPowerDone, &done, nullptr);
        if (status != STATUS_PENDING) return status;
        KeWaitForSingleObject(&done.first, Executive, KernelMode, FALSE, nullptr);
    }
    return done.second;
}

void PnpManager::shutdown() {
    // Removals waiting in their drivers end once the handles are closed (the
    // host closes them first); they take the lock to finish.
    joinRemovals();
    {
        std::lock_guard lock(mutex_);
        shutdownLocked();
    }
    joinRemovals();  // a device whose handles were still open
}

void PnpManager::shutdownLocked() {
    for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it) {
        Node& node = **it;
        if (!node.pdo) continue;
        if (node.state == PnpState::Started) stopNode(node);
        if (node.state == PnpState::RemovePending) {
            releasePdo(node);
            continue;
        }
        if (node.state == PnpState::Started) {
            // The stop was refused (a handle is open): removal is refused
            // the same way, so take the device away as a surprise.
            sendPnp(node, IRP_MN_SURPRISE_REMOVAL);
            node.state = PnpState::SurpriseRemoved;
        }
        removeNode(node);
    }
}

std::vector<DeviceInfo> PnpManager::devices() const {
    std::lock_guard lock(mutex_);
    std::vector<DeviceInfo> out;
    for (const Node* node : nodes_) {
        DeviceInfo info;
        info.location = node->board.location;
        info.kind = node->board.kind;
        if (auto* record = recordOf(node->driver)) info.service = record->serviceName;
        info.deviceName = toUtf8(node->fdoName);
        if (!node->fdoName.empty())
            for (auto& link : kernel_.names().linksTo(node->fdoName))
                info.links.push_back(toUtf8(link));
        info.state = node->state;
        info.lastStatus = node->lastStatus;
        info.systemPower = node->systemPower;
        if (node->pdo) {
            PDEVICE_OBJECT top = IoGetAttachedDeviceReference(node->pdo);
            if (auto* record = recordOf(top); record && top != node->pdo) {
                std::lock_guard power(record->powerMutex);
                info.devicePower = record->devicePower;
            }
            ObDereferenceObject(top);
        }
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace kalvo::kernel
