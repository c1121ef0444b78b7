#include "boardlib/requests/board_device.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/host_folder.h"

namespace kalvo::boardlib {

using namespace platform;

namespace {

// A host's refusal or a failed check of who answers is for a person to read
// (the library's log keeps only the code): said once on stderr, and again
// only when it changes.
void reportOpenProblem() {
    const std::string& problem = host_folder::lastOpenProblem();
    if (problem.empty()) return;
    static std::mutex mutex;
    static std::string* said = new std::string;  // used until exit
    std::lock_guard lock(mutex);
    if (*said == problem) return;
    *said = problem;
    std::fprintf(stderr, "kalvo: %s\n", problem.c_str());
}

}  // namespace

HANDLE openBoardDevice(const char* path, int wordSize) {
    const HANDLE handle =
        createFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                   OPEN_EXISTING, 0, wordSize);
    if (handle == INVALID_HANDLE_VALUE) reportOpenProblem();
    return handle;
}

void closeBoardDevice(HANDLE& handle) {
    if (handle != INVALID_HANDLE_VALUE) closeHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

}  // namespace kalvo::boardlib
