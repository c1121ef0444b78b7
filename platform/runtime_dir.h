// The runtime namespace of named objects.
//
// Every named semaphore, mutex, event and page-file map is a file in one
// directory: KALVO_RUNTIME_DIR when set (tests use a private one each), else
// /dev/shm/kalvo-<uid>. Windows object names may hold any character, so they
// are mapped to file names reversibly.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/export.h"

namespace kalvo::platform {

// The namespace directory, created (mode 0700) on first use. Empty when it
// cannot be created; the last error then says why.
KALVO_PLATFORM_API std::string runtimeDir();

// Reversible mapping of an object name to a file name: letters, digits and
// "_-()" stay, every other byte (so also every '.') becomes "%XX" in upper-case
// hex. No encoded name starts with '.', which keeps the namespace's own files
// (".lock", ".events") apart. Never fails; the caller checks the length
// against NAME_MAX. Decoding refuses anything the encoder cannot produce.
KALVO_PLATFORM_API std::string encodeObjectName(std::string_view name);
KALVO_PLATFORM_API std::optional<std::string> decodeObjectName(std::string_view fileName);

}  // namespace kalvo::platform
