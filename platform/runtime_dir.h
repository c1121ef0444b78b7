// The runtime namespace of named objects.
//
// Every named semaphore, mutex, event and page-file map is a file in one
// directory: KALVO_RUNTIME_DIR when set (tests use a private one each); else,
// for a program that uses the system service's device host, the group
// namespace /dev/shm/kalvo that every member's program shares (so that two
// members' programs on one board take the same line locks); else
// /dev/shm/kalvo-<uid>. Windows object names may hold any character, so they
// are mapped to file names reversibly.
//
// A namespace whose directory its group may write (the group namespace is
// mode 2770, group kalvo) gets its files mode 0660, whatever the creator's
// umask, so that every member may open, lock and remove them; a private one
// gets 0600.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/export.h"

namespace kalvo::platform {

// The namespace directory, created (mode 0700) on first use when it is a
// private one. Empty when it cannot be used; the last error then says why
// (ERROR_PATH_NOT_FOUND: the group namespace is missing; ERROR_ACCESS_DENIED:
// it, or /dev/shm/kalvo-<uid>, belongs to someone it should not).
KALVO_PLATFORM_API std::string runtimeDir();

inline constexpr const char* kGroupNamespace = "/dev/shm/kalvo";

// Made by the service's host before it serves (and by the tmpfiles file at
// boot): the group namespace, mode 2770, the host's group. True when it is
// there and fit; false with the reason.
KALVO_PLATFORM_API bool prepareGroupNamespace(const std::string& dir, std::string* problem);

// Opens (creating when missing) a file of the namespace: never through a
// symbolic link, close-on-exec, mode 0660 or 0600 as the directory's group
// access says (set explicitly on a file this process owns, past its umask).
// -1 with errno.
KALVO_PLATFORM_API int openNamespaceFile(const std::string& dir, const std::string& fileName);

// Reversible mapping of an object name to a file name: letters, digits and
// "_-()" stay, every other byte (so also every '.') becomes "%XX" in upper-case
// hex. No encoded name starts with '.', which keeps the namespace's own files
// (".lock", ".events") apart. Never fails; the caller checks the length
// against NAME_MAX. Decoding refuses anything the encoder cannot produce.
KALVO_PLATFORM_API std::string encodeObjectName(std::string_view name);
KALVO_PLATFORM_API std::optional<std::string> decodeObjectName(std::string_view fileName);

}  // namespace kalvo::platform
