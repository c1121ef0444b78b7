// File handling of the configuration tool's ini files: paths in the project
// folder; reads, crash-safe replacement and the profile writers' folder lock
// come from the platform.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_io.h"

namespace kalvo::configfiles {

// folder + "/" + name. The folder may end in '/' or '\\' (the tool keeps it
// with a trailing separator); an empty folder gives the bare name.
std::string projectFilePath(std::string_view folder, std::string_view name);

using platform::FolderLock;
using platform::ReadResult;
using platform::readWholeFile;
using platform::replaceFile;

}  // namespace kalvo::configfiles
