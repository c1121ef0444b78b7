// Test modules record their attach and detach as lines in the file named by
// KALVO_TEST_MODULE_LOG, so that a test (or its parent process) can count them.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

inline void logModuleEvent(const char* line) {
    const char* path = std::getenv("KALVO_TEST_MODULE_LOG");
    if (path == nullptr) return;
    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    (void)!::write(fd, line, std::strlen(line));
    ::close(fd);
}
