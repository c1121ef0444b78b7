// Which processes of a namespace are alive, also across users.
//
// A lock records its holder's process id. Whether that process still runs is
// asked by signal (kill 0) and /proc, which answer for one's own processes;
// a process of another user answers only "it exists" (EPERM), also while it
// is a zombie whose parent has not reaped it, and /proc may be hidden. So
// every process that opens an object in a namespace also holds a record
// lock (fcntl) on the byte at its process id in the namespace's ".alive"
// file. The kernel drops it when the process ends, so another member's
// process reads the answer there: a holder of another user is alive unless
// its record says otherwise.
#pragma once

#include <cstdint>
#include <string>

namespace kalvo::platform::detail {

// Records this process in the namespace (once per directory; a forked
// child records itself anew). False with the last error when it cannot:
// then no object of that namespace may be held.
bool registerProcess(const std::string& dir) noexcept;

// Whether the holder pid of a lock in the namespace dir may still run
// (processAlive for one's own processes; the record for others'). dir empty:
// a process-private object, processAlive alone.
bool holderAlive(const std::string& dir, uint32_t pid) noexcept;

}  // namespace kalvo::platform::detail
