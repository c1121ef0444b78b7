#include "host/device_host.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "host/admin_server.h"
#include "host/host_hardware.h"
#include "host/hot_plug.h"
#include "host/line_guard.h"
#include "host/record_time.h"
#include "host/safe_start.h"
#include "kernel/kernel.h"
#include "kernel/pnp_manager.h"
#include "kernel/transport/device_server.h"
#include "kernel/transport/socket_folder.h"
#include "kernel/wdm_device_backend.h"
#include "platform/status_names.h"

namespace kalvo::kernel::host {

namespace {

std::filesystem::path executableDirectory() {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path(".") : self.parent_path();
}

// The drivers that come with the host, from its library folder.
std::vector<DriverModule> defaultDrivers() {
    std::vector<DriverModule> found;
    auto dir = executableDirectory();
    for (const char* name : {"Tolva.sys", "Kvmdrv.sys", "Cardmaster.sys"}) {
        for (auto candidate :
             {dir / name, dir / ".." / "lib" / name, dir / ".." / KALVO_LIBDIR / name}) {
            if (std::filesystem::exists(candidate)) {
                found.push_back(driverModule(candidate.string()));
                break;
            }
        }
    }
    return found;
}

}  // namespace

// Members in build order, so that destruction runs the reverse one.
struct DeviceHost::Parts {
    std::chrono::system_clock::time_point started = std::chrono::system_clock::now();
    std::vector<SafeStartRecord> safeStart;
    std::unique_ptr<HostHardware> hardware;
    std::unique_ptr<Kernel> kernel;
    std::unique_ptr<PnpManager> pnp;
    std::unique_ptr<WdmDeviceBackend> backend;
    std::unique_ptr<LineGuard> guard;
    std::unique_ptr<transport::DeviceServer> server;
    std::unique_ptr<AdminServer> admin;
    std::unique_ptr<HotPlugScanner> scanner;
};

std::unique_ptr<DeviceHost> DeviceHost::start(const HostOptions& options, const std::string& folder,
                                              std::function<void()> requestShutdown,
                                              std::string* error) {
    auto parts = std::make_unique<Parts>();
    parts->hardware = createHostHardware(options, error);
    if (!parts->hardware) return nullptr;

    KernelOptions kernelOptions{
        &parts->hardware->provider(),
        options.registry.empty() ? folder + "/registry.reg" : options.registry,
        options.errorLog.empty() ? folder + "/errorlog.txt" : options.errorLog};
    parts->kernel = std::make_unique<Kernel>(kernelOptions);
    parts->pnp = std::make_unique<PnpManager>(*parts->kernel);
    std::vector<LoadedDriver> loaded;
    for (const auto& module : options.drivers.empty() ? defaultDrivers() : options.drivers) {
        NTSTATUS status;
        PDRIVER_OBJECT driver = parts->kernel->loadDriver(module.path, module.service, &status);
        if (!driver) {
            std::fprintf(stderr, "kalvo-devhost: driver %s not loaded: %s\n", module.path.c_str(),
                         platform::ntStatusText(status).c_str());
            continue;
        }
        parts->pnp->addDriver(driver, module.kind);
        loaded.push_back({module.kind, module.service});
    }
    parts->hardware->driversLoaded(*parts->kernel, loaded);
    parts->pnp->enumerate();

    parts->backend = std::make_unique<WdmDeviceBackend>(*parts->kernel);
    // Before anyone is served: lines stopped, outputs cleared.
    std::vector<std::string> links;
    for (const DeviceInfo& device : parts->pnp->devices())
        links.insert(links.end(), device.links.begin(), device.links.end());
    parts->safeStart = makeLinesSafeAtStart(*parts->backend, links);
    // The device class powers a device down at its last close, the safe
    // start's too; a host serves its boards as after a power-on, at D0.
    for (const DeviceInfo& device : parts->pnp->devices())
        if (!device.deviceName.empty() && device.devicePower != PowerDeviceD0)
            parts->pnp->setDevicePower(device.location, PowerDeviceD0);
    parts->guard = std::make_unique<LineGuard>(*parts->backend, !options.keepLinesOnExit);
    parts->server = std::make_unique<transport::DeviceServer>(*parts->guard);
    parts->server->setMaxConnectionsPerUser(options.maxUserConnections);
    // The folder as it is before the server starts: start() keeps its group
    // access (the service's 0750) or makes a new one private (0700).
    if (!transport::prepareSocketFolder(folder)) {
        *error = "cannot use the folder " + folder + ": " + std::strerror(errno);
        return nullptr;
    }
    const auto policy = transport::AccessPolicy::forFolder(folder, options.adminGroup);
    parts->server->setAccessPolicy(policy);
    if (!parts->server->start(folder)) {
        *error = "cannot serve devices in " + folder + " (another host?)";
        return nullptr;
    }
    parts->admin = std::make_unique<AdminServer>(
        *parts->kernel, *parts->pnp, parts->hardware->provider(), std::move(requestShutdown));
    parts->admin->setAccessPolicy(policy);
    if (auto sim = parts->hardware->simHandler()) parts->admin->setSimHandler(std::move(sim));
    parts->admin->setHandlesReport([server = parts->server.get(), guard = parts->guard.get(),
                                    backend = parts->backend.get(), p = parts.get()] {
        const auto counts = server->counts();
        std::string out = "handles " + std::to_string(counts.handles) + "\nviews " +
                          std::to_string(counts.views) + "\nfiles " +
                          std::to_string(backend->openFiles()) + "\nsafe-state " +
                          (guard->enabled() ? "on" : "off (--keep-lines-on-exit)") + "\n";
        out += "started " + utcStamp(p->started) + " (pid " + std::to_string(::getpid()) + ")\n";
        for (const auto& h : server->handles())
            out += "handle pid " + std::to_string(h.pid) + " (" + h.program + ") " + h.path +
                   " views " + std::to_string(h.views) + "\n";
        for (const SafeStartRecord& record : p->safeStart) out += describeSafeStart(record) + "\n";
        for (const SafeStateRecord& record : guard->records())
            out += describeSafeState(record) + "\n";
        return out;
    });
    parts->admin->setHolders([server = parts->server.get()] {
        // By program: "pid 812 (kalvo-sample): \\.\tolva0".
        std::vector<std::string> holders;
        std::map<uint32_t, std::pair<std::string, std::vector<std::string>>> byPid;
        for (const auto& h : server->handles()) {
            auto& [program, paths] = byPid[h.pid];
            program = h.program;
            if (std::find(paths.begin(), paths.end(), h.path) == paths.end())
                paths.push_back(h.path);
        }
        for (const auto& [pid, held] : byPid) {
            std::string text = "pid " + std::to_string(pid) + " (" + held.first + "):";
            for (const std::string& path : held.second) text += " " + path;
            holders.push_back(text);
        }
        return holders;
    });
    if (!parts->admin->start(folder, error)) return nullptr;
    if (auto period = parts->hardware->scanPeriod(); period.count() > 0)
        parts->scanner =
            std::make_unique<HotPlugScanner>(parts->hardware->provider(), *parts->pnp, period);
    return std::unique_ptr<DeviceHost>(new DeviceHost(std::move(parts)));
}

DeviceHost::DeviceHost(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

DeviceHost::~DeviceHost() {
    // Clients first: their handles close, so that nothing waits for them
    // below (a removal waiting in its driver for a handle holds up a rescan).
    // A line guard's own open that a stopped or sleeping device holds is
    // cancelled first, or its client's connection would never end.
    parts_->guard->stop();
    parts_->server->stop();
    parts_->backend->closeAll();
    parts_->scanner.reset();  // no board comes or goes while the devices go
    parts_->pnp->shutdown();
    parts_->admin->stop();
    parts_->admin.reset();
    parts_->server.reset();
    parts_->guard.reset();
    parts_->backend.reset();
    parts_->pnp.reset();
    parts_->kernel.reset();
    parts_->hardware.reset();
}

size_t DeviceHost::deviceCount() const {
    return parts_->pnp->devices().size();
}

}  // namespace kalvo::kernel::host
