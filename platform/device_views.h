// The process's views of board memory, mapped on the device host's request
// while one of its requests runs. Views belong to the process: any handle's
// request may unmap a view that another handle's request mapped, and a view
// outlives the handle that made it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ntstatus.h"

namespace kalvo::platform::device_views {

// Maps length bytes of the file fd at offset, shared and read-write. A
// 32-bit caller's view lies below 4 GiB. The address in *address.
NTSTATUS map(int fd, uint64_t offset, uint64_t length, int wordSize, uint64_t* address) noexcept;

// Removes the view that contains address; STATUS_NOT_MAPPED_VIEW when no
// view of this process does.
NTSTATUS unmap(uint64_t address) noexcept;

// Puts anonymous memory of this process in place of the whole view that
// contains address, in one step (an access under way meets either memory,
// never a hole): zeros that may be read and written, or no access at all.
// The view keeps its addresses, so nothing else is mapped there.
NTSTATUS retire(uint64_t address, bool accessible) noexcept;

}  // namespace kalvo::platform::device_views
