#include "diaglog/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/profile.h"
#include "platform/win_error.h"

namespace kalvo::diaglog {

LogFile::~LogFile() {
    LogFile::close();
}

bool LogFile::open(const char* name, Creation creation) {
    if (isOpen() || !name || !*name) {
        platform::setLastError(isOpen() ? platform::ERROR_ALREADY_EXISTS
                                        : platform::ERROR_INVALID_NAME);
        return false;
    }
    // Names are taken against the current directory; an absolute one is
    // already full, which saves the path work on every file switch.
    std::string full;
    if (name[0] != '/') {
        full = platform::fullPathName(name);
        if (!full.empty()) name = full.c_str();
    }
    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
    if (creation == Creation::CreateAlways) flags |= O_TRUNC;
    int fd;
    do {
        fd = ::open(name, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        platform::setLastError(platform::win32ErrorFromErrno(errno));
        return false;
    }
    fd_ = fd;
    return true;
}

void LogFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int32_t LogFile::read(void* buffer, uint32_t count) {
    if (!isOpen() || (!buffer && count) || count > INT32_MAX) return -1;
    ssize_t n;
    do {
        n = ::read(fd_, buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        platform::setLastError(platform::win32ErrorFromErrno(errno));
        return -1;
    }
    return static_cast<int32_t>(n);
}

int32_t LogFile::write(const void* buffer, uint32_t count) {
    if (!isOpen() || (!buffer && count) || count > INT32_MAX) return -1;
    // One call carries the whole buffer; a regular file takes it at once,
    // and only a full disk or a signal leaves a remainder to send.
    const char* p = static_cast<const char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            platform::setLastError(platform::win32ErrorFromErrno(n < 0 ? errno : ENOSPC));
            return -1;
        }
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(done);
}

int64_t LogFile::writeLines(const struct iovec* lines, int count) noexcept {
    if (!isOpen() || count <= 0) return -1;
    ssize_t n;
    do {
        n = ::writev(fd_, lines, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) platform::setLastError(platform::win32ErrorFromErrno(errno));
    return n;
}

int64_t LogFile::size() const noexcept {
    struct stat st {};
    if (!isOpen() || ::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
}

bool LogFile::truncate(int64_t size) noexcept {
    if (!isOpen() || size < 0) return false;
    int rc;
    do {
        rc = ::ftruncate(fd_, size);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}

}  // namespace kalvo::diaglog
