// Where a library named as Kalvo.ini's "Kind" names a board library would be
// found by loadLibrary, without loading it: for the tools that tell a user
// that a board's library is not installed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"

namespace kalvo::platform {

// The file name loadLibrary makes of a name: no extension gets ".so", a
// trailing dot means none, backslashes are slashes.
KALVO_PLATFORM_API std::string moduleFileName(std::string_view name);

// The folders loadLibrary searches for a bare name when called from code in
// libraryDir with folder as the current directory, in order: libraryDir,
// folder, LD_LIBRARY_PATH, the system's library folders.
KALVO_PLATFORM_API std::vector<std::string> librarySearchFolders(const std::string& libraryDir,
                                                                 const std::string& folder);

// The file loadLibrary would load for name from those folders ("" when none
// holds it); a name with a '/' is taken as it is.
KALVO_PLATFORM_API std::string findLibraryFile(std::string_view name,
                                               const std::vector<std::string>& folders);

}  // namespace kalvo::platform
