// The device host's settings: command line and host config file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kalvo::kernel::host {

struct DriverModule {
    std::string kind;     // the board kind it serves, e.g. "tolva"
    std::string service;  // service name, e.g. "Tolva" (the file name without extension)
    std::string path;
};

struct HostOptions {
    std::string hardware = "sim";  // the kind of hardware served (host_hardware.h)
    std::vector<DriverModule> drivers;
    std::string boards;  // simulated board set; empty: one board of each kind
    bool boardsGiven = false;
    std::string registry;  // empty: "<folder>/registry.reg"
    std::string errorLog;  // empty: "<folder>/errorlog.txt"
    // The simulated network: a configuration folder or a network file;
    // empty for lines without stations.
    std::string network;
    uint32_t cycleMicros = 1000;  // the line cycle of the simulated boards
    // Where --hardware pci finds the PCI devices: <sysfsRoot>/bus/pci/devices.
    std::string sysfsRoot = "/sys";
    // How often --hardware pci looks at the PCI devices again; 0: only on
    // the admin request "rescan".
    uint32_t rescanMillis = 500;
    // Leave a line running with its outputs when every process that held
    // its board died (line_guard.h); by default the host stops it.
    bool keepLinesOnExit = false;
    // The group whose members may change the host and its hardware, besides
    // root and the host's user (peer_access.h).
    std::string adminGroup = "kalvo-admin";
    // The most device connections one user may hold at once.
    uint32_t maxUserConnections = 256;
    bool help = false;
    bool version = false;
};

// "PATH" or "KIND=PATH": the service is the file name without its
// extension, the kind its lower-case form unless given.
DriverModule driverModule(const std::string& text);

// Parses the command line (and a --config file it names). False with a
// message on a bad option.
bool parseHostOptions(const std::vector<std::string>& args, HostOptions* options,
                      std::string* error);

extern const char* const kHostUsage;

}  // namespace kalvo::kernel::host
