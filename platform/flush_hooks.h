// Work the libraries of a process finish behind their calls, which a reader
// in the same process can ask to have finished now: the diagnostic logs move
// their lines to their files on a thread of their own, and a program (or a
// test) that reads its own log file must see every line logged so far.
//
// One list for the whole process (this library is loaded once), whichever
// library registers and whichever asks.
#pragma once

#include "platform/export.h"

namespace kalvo::platform {

using FlushHook = void (*)(void* context) noexcept;

KALVO_PLATFORM_API void addFlushHook(FlushHook hook, void* context);
KALVO_PLATFORM_API void removeFlushHook(FlushHook hook, void* context);
// Runs every hook registered; returns when each has finished its work.
KALVO_PLATFORM_API void runFlushHooks() noexcept;

}  // namespace kalvo::platform
