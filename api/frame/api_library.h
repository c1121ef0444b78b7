// The library's process-wide state: the log, the board table, the started-up
// flag and the unit table. Created by the process attach, gone after detach.
#pragma once

#include <string>

#include "api/frame/board_manager.h"
#include "api/frame/unit_table.h"
#include "platform/mutex.h"

namespace kalvo::api {

struct ApiLibrary {
    std::string iniFile;  // "Kalvo.ini" made absolute at load
    BoardManager boards;
    UnitTable units;
    bool startedUp = false;
    // Held while loaded: marks that a process has loaded the library since
    // the device host now serving started (see attachLibrary).
    platform::Mutex hostMark;
};

// Process attach: opens the log (false when it cannot), writes the banner,
// reads Kalvo.ini, binds and opens the boards and, in the first process,
// starts the lines. The first process is the first since the device host
// started, too: a host that restarted stopped every line, and programs that
// still hold the library from before cannot start them again (their boards
// are lost), so the first to load it afterwards does.
bool attachLibrary();
// Process detach: destroys the open units, frees the board libraries, writes
// the stop banner and closes the log.
void detachLibrary();

namespace detail {
inline ApiLibrary* gLibrary = nullptr;  // set by attach, cleared by detach
}  // namespace detail

// Null outside attach .. detach.
inline ApiLibrary* library() noexcept {
    return detail::gLibrary;
}

}  // namespace kalvo::api
