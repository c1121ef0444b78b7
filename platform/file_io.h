// Whole-file reads and crash-safe replacement of small text files (profile
// files, configuration files), and the folder lock that every profile writer
// takes.
#pragma once

#include <string>
#include <string_view>

#include "platform/export.h"

namespace kalvo::platform {

enum class ReadResult { ok, missing, failed };

// Reads a whole regular file. missing: no such file; failed: anything else
// (a directory, a FIFO, a read error), with errno telling why. A FIFO or a
// device under the name never hangs the reader.
KALVO_PLATFORM_API ReadResult readWholeFile(const std::string& path, std::string& content);

// Writes content to a temporary in the same folder, syncs it and renames it
// over path, so a reader sees the old or the new text, never a mix, and a
// failed write leaves the old file whole. The permissions of a replaced file
// are kept; a symbolic link is written through to its target. False with
// errno set on failure (path unchanged).
KALVO_PLATFORM_API bool replaceFile(const std::string& path, std::string_view content);

// The folder part of a path ("." for a bare name).
KALVO_PLATFORM_API std::string directoryOf(const std::string& path);
// The target of a symbolic link, else the path itself.
KALVO_PLATFORM_API std::string resolveLink(const std::string& path);

// Exclusive lock on the folder of a file (flock on the directory). Every
// profile write takes it, so read-change-rename never interleaves across
// threads or processes; the kernel drops it when the holder dies. held() is
// false (errno set) when the folder cannot be opened or locked.
class KALVO_PLATFORM_API FolderLock {
  public:
    explicit FolderLock(const std::string& file);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace kalvo::platform
