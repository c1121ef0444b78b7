// kalvo doctor: every reason a program using libKalvo would fail in a
// configuration folder, each said as a sentence that names the file, the
// section or key, the value and what to do.
#pragma once

#include <string>
#include <vector>

#include "cli/folder_config.h"
#include "cli/kalvo_library.h"

namespace kalvo::cli {

struct Finding {
    bool problem = false;
    std::string text;
};

using Findings = std::vector<Finding>;

// Kalvo.ini itself: present, readable, a board count in range, each board's
// library found (folders searched named), each unit section as the library's
// placement check takes it, each line that units use having its start keys.
// libraryDir is the folder of libKalvo (searched first for board libraries).
Findings checkConfiguration(const FolderConfig& config, const std::string& libraryDir);

// Why the unit's placement would be refused (Open giving 9); empty when it
// would be taken.
std::string placementProblem(const FolderConfig& config, const UnitEntry& unit);

// The folders where libKalvo looks for a board library named kind, in order,
// and the file it would load ("" when none exists).
std::vector<std::string> boardLibraryFolders(const std::string& libraryDir,
                                             const std::string& folder);
std::string findBoardLibrary(const std::string& kind, const std::vector<std::string>& folders);

// The device host: its socket folder usable by this user, a host answering.
Findings checkDeviceHost();

// The working folder: the library's log can be created and written there.
Findings checkLogFolder(const FolderConfig& config);

struct HostView;

// With the library loaded: each board open, each unit opening and its
// station answering, each used line showing a station that answers. A
// station that does not answer is blamed on its unit's power and cable only
// when the host's simulated network has the unit (or the host runs real
// boards); a board lost under this program says so. host: null when none.
Findings checkRunning(KalvoLibrary& library, const FolderConfig& config, const HostView* host);

// A line that this very load started comes up in the driver's 10 ms steps,
// and its stations show only after the line's first scans. Each line whose
// units the host's network carries (host null: all) gets up to 3 s to show
// any of them, so that units are judged afterwards: once a station answers
// the line runs and keeps running, and a unit silent then is silent on its
// cable. A line already running (another program's) answers at first look.
void waitForLines(KalvoLibrary& library, const FolderConfig& config, const HostView* host);

}  // namespace kalvo::cli
