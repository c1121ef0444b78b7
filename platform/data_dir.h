// Where the stack's installed data files are found: the model table and the
// example configuration folder live in <prefix>/share/kalvo, and a program
// finds them relative to its own file, so a prefix that was moved (or never
// was /usr) still works. The build tree has the same shape (build/bin beside
// build/share/kalvo), so programs run from the build find the build's copies
// the same way.
#pragma once

#include <filesystem>
#include <string_view>

#include "platform/export.h"

namespace kalvo::platform {

// The folder holding the running program's file (its link resolved); empty
// when it cannot be told.
KALVO_PLATFORM_API std::filesystem::path programFolder();

// <folder of the running program>/../share/kalvo/<name>, made lexically
// normal; the file need not exist. Relative to the current directory's
// share/kalvo when the program's folder cannot be told.
KALVO_PLATFORM_API std::filesystem::path installedDataPath(std::string_view name);

}  // namespace kalvo::platform
