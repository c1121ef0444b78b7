// kalvo-devhost: the device host process.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "host/admin_server.h"
#include "host/host_options.h"
#include "kernel/kernel.h"
#include "kernel/pnp_manager.h"
#include "kernel/transport/device_server.h"
#include "kernel/transport/socket_folder.h"
#include "kernel/wdm_device_backend.h"
#include "sim/board_set.h"
#include "sim/simulated_hardware.h"
#include "host/sim_commands.h"
#include "sim/description/network_description.h"
#include "sim/network/network.h"

using namespace kalvo::kernel;

namespace {

std::filesystem::path executableDirectory() {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path(".") : self.parent_path();
}

// The drivers that come with the host, from its library folder.
std::vector<host::DriverModule> defaultDrivers() {
    std::vector<host::DriverModule> found;
    auto dir = executableDirectory();
    for (const char* name : {"Tolva.sys", "Kvmdrv.sys", "Cardmaster.sys"}) {
        for (auto candidate :
             {dir / name, dir / ".." / "lib" / name, dir / ".." / KALVO_LIBDIR / name}) {
            if (std::filesystem::exists(candidate)) {
                found.push_back(host::driverModule(candidate.string()));
                break;
            }
        }
    }
    return found;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "kalvo-devhost: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    host::HostOptions options;
    std::string error;
    if (!host::parseHostOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error))
        return fail(error + " (see --help)");
    if (options.help) {
        std::fputs(host::kHostUsage, stdout);
        return 0;
    }
    if (options.drivers.empty()) options.drivers = defaultDrivers();

    // The threads started below inherit this mask; the main thread takes
    // the signals with sigwait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::string folder = transport::hostSocketDirectory();
    if (!transport::prepareSocketFolder(folder)) return fail("cannot use the folder " + folder);

    auto boards = options.boardsGiven ? kalvo::sim::parseBoardSet(options.boards, &error)
                                      : std::optional(kalvo::sim::defaultBoardSet());
    if (!boards) return fail("--boards: " + error);
    // A configuration folder brings its own boards: one per board section,
    // numbered as the board library will look for it.
    std::error_code ec;
    if (!options.network.empty() && !options.boardsGiven &&
        std::filesystem::is_directory(options.network, ec)) {
        boards = kalvo::sim::boardsOfConfigurationFolder(options.network, &error);
        if (!error.empty()) return fail("--network: " + error);
    }
    kalvo::sim::NetworkSpec networkSpec;
    if (!options.network.empty()) {
        networkSpec = kalvo::sim::loadNetworkDescription(options.network, *boards, &error);
        if (!error.empty()) return fail("--network: " + error);
    }
    auto hardware = kalvo::sim::SimulatedHardware::create(*boards, &error);
    if (!hardware) return fail(error);
    // The line model runs on every board from the start, so the drivers meet
    // a chip that answers; the description decides which stations are there.
    auto network = kalvo::sim::Network::create(*hardware, options.cycleMicros, &error);
    if (!network) return fail(error);
    std::string refusal = network->apply(networkSpec);
    if (!refusal.empty()) return fail("--network: " + refusal);

    KernelOptions kernelOptions{
        hardware.get(), options.registry.empty() ? folder + "/registry.reg" : options.registry,
        options.errorLog.empty() ? folder + "/errorlog.txt" : options.errorLog};
    auto kernel = std::make_unique<Kernel>(kernelOptions);
    auto pnp = std::make_unique<PnpManager>(*kernel);
    for (const auto& module : options.drivers) {
        NTSTATUS status;
        PDRIVER_OBJECT driver = kernel->loadDriver(module.path, module.service, &status);
        if (!driver) {
            std::fprintf(stderr, "kalvo-devhost: driver %s not loaded (status 0x%08X)\n",
                         module.path.c_str(), unsigned(status));
            continue;
        }
        pnp->addDriver(driver, module.kind);
    }

    pnp->enumerate();
    auto backend = std::make_unique<WdmDeviceBackend>(*kernel);
    auto server = std::make_unique<transport::DeviceServer>(*backend);
    if (!server->start(folder))
        return fail("cannot serve devices in " + folder + " (another host?)");
    pid_t self = getpid();
    auto admin = std::make_unique<host::AdminServer>(*kernel, *pnp, *hardware,
                                                     [self] { kill(self, SIGTERM); });
    admin->setSimHandler([net = network.get()](const std::vector<std::string>& words) {
        return host::simRequest(*net, words);
    });
    if (!admin->start(folder, &error)) return fail(error);
    std::printf("kalvo-devhost: serving %zu board(s) in %s\n", pnp->devices().size(),
                folder.c_str());
    std::fflush(stdout);

    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }

    // Clients go first (their handles get cleanup and close), then every
    // device is stopped and removed with no handle open, then the drivers
    // are unloaded. The admin socket answers until the devices are gone, so
    // that "kalvo-devctl stop" returns only then.
    server->stop();
    backend->closeAll();
    pnp->shutdown();
    admin->stop();
    admin.reset();
    server.reset();
    backend.reset();
    pnp.reset();
    kernel.reset();
    // The line stops before the boards it steps go away.
    network.reset();
    return 0;
}
