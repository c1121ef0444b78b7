// The file a log slot writes into.
//
// Opened for writing with shared access (other processes may read, write or
// delete it meanwhile), positioned at its end; every write appends, so a line
// written in one call lands whole even when a reader or another writer has
// the file open.
#pragma once

#include <sys/uio.h>

#include <cstdint>

namespace kalvo::diaglog {

class LogFile {
  public:
    enum class Creation {
        OpenAlways,    // append to an existing file, create a missing one
        CreateAlways,  // create the file empty, truncating an existing one
    };

    LogFile() = default;
    virtual ~LogFile();  // closes
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Fails when this object already has a file open, or the file cannot be
    // opened; the platform's last error then says why.
    virtual bool open(const char* name, Creation creation);
    virtual void close();
    // The count read, or -1. The file is opened for writing only, so reads
    // fail as they would on such a handle.
    virtual int32_t read(void* buffer, uint32_t count);
    // The count written, or -1.
    virtual int32_t write(const void* buffer, uint32_t count);

    // Several whole lines in one call: the bytes written (a full disk or a
    // file-size limit leaves fewer), or -1 when none could be.
    int64_t writeLines(const struct iovec* lines, int count) noexcept;
    // The file's size, or -1; and cutting it back to a size.
    int64_t size() const noexcept;
    bool truncate(int64_t size) noexcept;

    bool isOpen() const noexcept { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace kalvo::diaglog
