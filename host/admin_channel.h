// The device host's admin channel: a stream socket "admin.sock" beside the
// device socket, in the same folder. A request is one text line; the
// answer is "OK" or "ERROR <reason>" on its first line, then any text, and
// the host closes the connection. Requests:
//   ping | list | log | handles | shutdown [force]
//   start <location> [one-memory-range | fail-map] | stop <location>
//   remove <location> | surprise <location> | power <S0..S5>
//   read <location> <window> <offset> <length>
//   write <location> <window> <offset> <hex bytes>
//   sim <request...>  (the simulated network; sim_usage.h)
#pragma once

#include "kernel/transport/admin_client.h"

namespace kalvo::kernel::host {

using transport::adminRequest;
using transport::adminSocketName;
using transport::adminSocketPath;

}  // namespace kalvo::kernel::host
