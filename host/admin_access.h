// Which admin requests change the device host or its hardware. Members of
// the host's group may look (list, log, handles, requests, a board window's
// bytes, the simulated line's views); stopping the host, PnP and power
// events, rescans, writes and simulator faults are for root, the host's
// user and the admin group (peer_access.h).
#pragma once

#include <string>
#include <vector>

namespace kalvo::kernel::host {

// words: the request split at blanks, the verb first.
bool changesHost(const std::vector<std::string>& words);

}  // namespace kalvo::kernel::host
