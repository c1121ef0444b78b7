// File handling of the configuration tool's ini files: paths in the project
// folder, reading a file whole, and replacing a file so that a failed or
// interrupted write never leaves a half-written or missing file behind.
#pragma once

#include <string>
#include <string_view>

namespace kalvo::configfiles {

// folder + "/" + name. The folder may end in '/' or '\\' (the tool keeps it
// with a trailing separator); an empty folder gives the bare name.
std::string projectFilePath(std::string_view folder, std::string_view name);

enum class ReadResult { ok, missing, failed };
// Reads the whole file into content. missing: no such file (content empty).
ReadResult readWholeFile(const std::string& path, std::string& content);

// Writes content to a new file beside path and renames it over path, keeping
// the permissions of a file that is replaced; a symbolic link is followed
// and its target replaced. On failure path is unchanged and errno tells why.
bool replaceFile(const std::string& path, std::string_view content);

// Holds the exclusive lock of the folder of a profile file, the lock that
// every profile write in that folder takes, so that reading, changing and
// replacing a file under it does not lose another writer's keys. The kernel
// drops it when the holder dies. held() is false when the folder cannot be
// opened or locked.
class FolderLock {
  public:
    explicit FolderLock(const std::string& file);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace kalvo::configfiles
