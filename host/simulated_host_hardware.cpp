// The default hardware of the host: simulated boards in a physical-memory
// file, with the line model running on every board from the start, so that
// the drivers meet a chip that answers; the network description decides
// which stations are there.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/host_hardware.h"
#include "host/sim_commands.h"
#include "sim/board_set.h"
#include "sim/description/network_description.h"
#include "sim/network/network.h"
#include "sim/simulated_hardware.h"

namespace kalvo::kernel::host {

namespace {

class SimulatedHostHardware : public HostHardware {
  public:
    SimulatedHostHardware(std::unique_ptr<sim::SimulatedHardware> hardware,
                          std::unique_ptr<sim::Network> network)
        : hardware_(std::move(hardware)), network_(std::move(network)) {}

    // The line stops before the boards it steps go away.
    ~SimulatedHostHardware() override { network_.reset(); }

    HardwareProvider& provider() override { return *hardware_; }

    AdminServer::SimHandler simHandler() override {
        return [network = network_.get()](const std::vector<std::string>& words) {
            return simRequest(*network, words);
        };
    }

  private:
    std::unique_ptr<sim::SimulatedHardware> hardware_;
    std::unique_ptr<sim::Network> network_;
};

// A folder that yields no board leaves the host serving nothing, and every
// application's board open then fails far from the cause: say it here.
void warnAboutFolder(const std::string& folder, size_t boards) {
    const std::string ini = (std::filesystem::path(folder) / "Kalvo.ini").string();
    std::ifstream in(ini, std::ios::binary);
    if (!in) {
        std::fprintf(stderr,
                     "kalvo-devhost: warning: the network folder's %s cannot be read (%s); the "
                     "host serves no board of it. Fix the file's permissions.\n",
                     ini.c_str(), std::strerror(errno));
    } else if (boards == 0) {
        std::fprintf(stderr,
                     "kalvo-devhost: warning: the network folder %s gives no board (Board= of "
                     "section [KALVO] in %s is 0 or missing); the host serves no board device. "
                     "Is it the configuration folder, and is Kalvo.ini complete?\n",
                     folder.c_str(), ini.c_str());
    }
}

}  // namespace

std::unique_ptr<HostHardware> createSimulatedHardware(const HostOptions& options,
                                                      std::string* error) {
    auto boards = options.boardsGiven ? sim::parseBoardSet(options.boards, error)
                                      : std::optional(sim::defaultBoardSet());
    if (!boards) {
        *error = "--boards: " + *error;
        return nullptr;
    }
    // A configuration folder brings its own boards: one per board section,
    // numbered as the board library will look for it.
    std::error_code ec;
    if (!options.network.empty() && !options.boardsGiven &&
        std::filesystem::is_directory(options.network, ec)) {
        boards = sim::boardsOfConfigurationFolder(options.network, error);
        if (!error->empty()) {
            *error = "--network: " + *error;
            return nullptr;
        }
        warnAboutFolder(options.network, boards->size());
    }
    sim::NetworkDescription description;
    if (!options.network.empty()) {
        description = sim::loadNetworkDescription(options.network, *boards, error);
        if (!error->empty()) {
            *error = "--network: " + *error;
            return nullptr;
        }
    }
    auto hardware = sim::SimulatedHardware::create(*boards, error);
    if (!hardware) return nullptr;
    auto network = sim::Network::create(*hardware, options.cycleMicros, error);
    if (!network) return nullptr;
    std::string refusal = network->apply(description);
    if (!refusal.empty()) {
        *error = "--network: " + refusal;
        return nullptr;
    }
    return std::make_unique<SimulatedHostHardware>(std::move(hardware), std::move(network));
}

}  // namespace kalvo::kernel::host
