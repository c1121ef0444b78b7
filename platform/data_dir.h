// Data files that come with the programs (the model table, the example
// configuration folder) are installed under <prefix>/share/kalvo. They are
// found relative to the running program rather than by a compiled-in path,
// so a tree installed under any prefix, or moved, finds its own files.
#pragma once

#include <filesystem>
#include <string_view>

#include "platform/export.h"

namespace kalvo::platform {

// <folder of the running program>/../share/kalvo/<name>. The path is not
// checked: callers say which file they looked for when it is missing.
KALVO_PLATFORM_API std::filesystem::path installedDataPath(std::string_view name);

}  // namespace kalvo::platform
