// What the device host that serves now tells about a configuration folder:
// when it started, which programs hold its devices, and which of the
// folder's units its simulated network carries. kalvo doctor and status use
// it to tell a restarted host or a host without the folder's network from a
// unit that does not answer on its cable.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "cli/doctor.h"
#include "cli/folder_config.h"

namespace kalvo::cli {

struct HostView {
    int64_t startedNs = 0;          // when the host began serving (CLOCK_REALTIME)
    std::set<uint32_t> handlePids;  // processes that hold its devices
    bool simulated = false;         // it runs a simulated network
    std::set<std::string> units;    // the folder's units that network carries
};

// Null when no host answers.
std::optional<HostView> lookAtHost(const FolderConfig& config);

// "2024-05-01 14:03:07" in local time.
std::string localTime(int64_t realtimeNs);

// False when the host's simulated network lacks the unit ("DIO_1"); true
// for a unit it carries and for a host of real boards, which cannot say.
bool hostCarries(const HostView& host, const std::string& unitSection);

// Programs of this folder (its libKalvo loaded, working in it) that started
// before the host did and hold none of its devices: their boards were opened
// on an earlier host, and every call on them fails until they open them
// again.
Findings checkHostRestart(const FolderConfig& config, const HostView& host);

// This program's own boards were lost (a unit call gave -1): the host was
// restarted after they were opened, or none answers now (host null).
Finding lostUnderThisProgram(const HostView* host);

// The folder's units that the host's simulated network lacks (a host started
// without this folder's network), with the command that starts one on it.
Findings checkHostNetwork(const FolderConfig& config, const HostView& host);

}  // namespace kalvo::cli
