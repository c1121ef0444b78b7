// The admin channel's "sim" requests: observation and fault injection on the
// simulated network of the host. Boards are named by their index in the
// host's simulated board set (0 is the first board of --boards).
#pragma once

#include <string>
#include <vector>

namespace kalvo::sim {
class Network;
}

namespace kalvo::kernel::host {

// The answer to one request, words[0] being "sim": "OK\n" and any text, or
// "ERROR <reason>\n".
std::string simRequest(sim::Network& network, const std::vector<std::string>& words);

}  // namespace kalvo::kernel::host
