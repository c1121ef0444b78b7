// The host's own start: before any client is served, every board's line is
// stopped and its outputs cleared, as after a power-on.
//
// A board goes on when its host goes: a real master board's chip keeps
// cycling its line with the last outputs of programs that are gone, whether
// the host was killed, stopped while a line ran, or restarted by systemd.
// The next host must not hand such a line to new programs as if it were
// idle, and must not let the old outputs stand while it starts. So, through
// the driver's own requests on a handle of the host's, each board gets a
// view of its window, the output blocks of all 32 stations zeroed (each
// announced to the chip in the write count register), a pause for the chip
// to carry them when the line runs, and the disconnect; the host waits until
// the chip shows the line stopped. A record per board says what was done
// and when ("kalvo-devctl handles").
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "kernel/device_backend.h"

namespace kalvo::kernel::host {

struct SafeStartRecord {
    std::chrono::system_clock::time_point when;
    std::string device;  // the link a program opens, e.g. "\\.\Tolva0"
    std::string result;  // what was done, or what failed
};

// The devices by the links of the PnP manager's list ("\??\Tolva0").
std::vector<SafeStartRecord> makeLinesSafeAtStart(DeviceBackend& backend,
                                                  const std::vector<std::string>& links);

// One record as "kalvo-devctl handles" prints it.
std::string describeSafeStart(const SafeStartRecord& record);

}  // namespace kalvo::kernel::host
