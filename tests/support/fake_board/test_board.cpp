// A stand-in board library for the API library's tests: the 23 calls that
// the API library binds, over a 4096-byte board window kept in a named
// shared map ("TestBoardWindow<board>"), so that several processes and the
// test itself see the same GM area and condition register. Each frame call
// (open, close, start, stop, reset) appends a line to "TestBoard.calls" in
// the current directory, in one write, so that tests can see which process
// started what.
//
// Built twice: TestBoard with every call, TestBoardShort without KV_reset.
// TESTBOARD_FAIL_OPEN=1 in the environment makes KV_open fail with 4; words
// in the window make the GM reads or writes fail (test_board_window.h).
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "kalvo/board_library.h"
#include "platform/page_file_map.h"
#include "tests/support/fake_board/test_board_window.h"

#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

namespace {

constexpr int kBoards = 4;

// The GM area plays a board's memory, which the chip and every thread and
// process of the host read and write without any order between them (as on
// the real board, each word access is whole). The race detector is told not
// to record these accesses, as it never sees the real window's.
struct BoardMemoryAccess {
#if defined(__SANITIZE_THREAD__)
    BoardMemoryAccess() {
        AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
        AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
    }
    ~BoardMemoryAccess() {
        AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
        AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
    }
#endif
};

struct BoardState {
    kalvo::platform::PageFileMap window;
};
std::array<BoardState, kBoards> gBoards;
std::mutex gLock;

void record(const char* format, int a, int b = 0, int c = 0, int d = 0, int e = 0) {
    char line[128];
    const int n = std::snprintf(line, sizeof line, format, a, b, c, d, e);
    const int fd = ::open("TestBoard.calls", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    [[maybe_unused]] ssize_t w = ::write(fd, line, static_cast<size_t>(n));
    ::close(fd);
}

uint8_t* window(int board, int line) {
    if (board < 0 || board >= kBoards || line != 0) return nullptr;
    std::lock_guard lock(gLock);
    return static_cast<uint8_t*>(gBoards[board].window.data());
}

// GM elements of size z from element index: inside the 512-byte area.
bool gmRange(int index, int count, int size) {
    return index >= 0 && count >= 0 && (index + count) * size <= kalvo::testboard::kGmSize;
}

// The fault a test put in at offset (test_board_window.h), or 0.
int32_t fault(const uint8_t* w, int offset) {
    return static_cast<int32_t>(reinterpret_cast<const std::atomic<uint32_t>*>(w + offset)
                                    ->load(std::memory_order_relaxed));
}

template <typename T>
int32_t gmRead(int32_t board, int32_t line, T* data, int32_t index, int32_t count) {
    uint8_t* w = window(board, line);
    if (!w) return 3;
    if (int32_t code = fault(w, kalvo::testboard::kReadFailOffset)) return code;
    if (!data || !gmRange(index, count, sizeof(T))) return 3;
    auto* gm = reinterpret_cast<volatile T*>(w + kalvo::testboard::kGmOffset);
    [[maybe_unused]] BoardMemoryAccess memoryAccess;
    for (int i = 0; i < count; ++i) data[i] = gm[index + i];
    return 0;
}

template <typename T>
int32_t gmWrite(int32_t board, int32_t line, const T* data, int32_t index, int32_t count) {
    uint8_t* w = window(board, line);
    if (!w) return 3;
    if (int32_t code = fault(w, kalvo::testboard::kWriteFailOffset)) return code;
    if (!data || !gmRange(index, count, sizeof(T))) return 3;
    auto* gm = reinterpret_cast<volatile T*>(w + kalvo::testboard::kGmOffset);
    [[maybe_unused]] BoardMemoryAccess memoryAccess;
    for (int i = 0; i < count; ++i) gm[index + i] = data[i];
    return 0;
}

}  // namespace

extern "C" {

KV_BOARD_API void KV_boardname(char* name) {
    std::strcpy(name, "TestBoard");
}
KV_BOARD_API void KV_dllname(char* name) {
    std::strcpy(name, "TestBoard.so");
}
KV_BOARD_API void KV_version(char* version) {
    std::strcpy(version, "1.3.0.0");
}
KV_BOARD_API int32_t KV_maxline(void) {
    return 1;
}

KV_BOARD_API int32_t KV_open(int32_t board) {
    record("open %d\n", board);
    if (board < 0 || board >= kBoards) return 3;
    const char* fail = std::getenv("TESTBOARD_FAIL_OPEN");
    if (fail && std::strcmp(fail, "1") == 0) return 4;
    std::lock_guard lock(gLock);
    if (gBoards[board].window) return 1;
    gBoards[board].window = kalvo::platform::PageFileMap::createOrOpen(
        kalvo::testboard::windowName(board), kalvo::testboard::kWindowSize);
    return gBoards[board].window ? 0 : 4;
}

KV_BOARD_API int32_t KV_close(int32_t board) {
    record("close %d\n", board);
    if (board < 0 || board >= kBoards) return 3;
    std::lock_guard lock(gLock);
    if (!gBoards[board].window) return 2;
    gBoards[board].window.close();
    return 0;
}

KV_BOARD_API int32_t KV_start(int32_t board, int32_t line, int32_t station, int32_t count,
                              int32_t busSize) {
    record("start %d %d %d %d %d\n", board, line, station, count, busSize);
    return window(board, line) ? 0 : 3;
}

KV_BOARD_API int32_t KV_stop(int32_t board, int32_t line) {
    record("stop %d %d\n", board, line);
    return window(board, line) ? 0 : 3;
}

#ifndef TEST_BOARD_OMIT_RESET
KV_BOARD_API int32_t KV_reset(int32_t board, int32_t line, int32_t data) {
    record("reset %d %d %d\n", board, line, data);
    uint8_t* w = window(board, line);
    if (!w) return 3;
    // Fills the output blocks (stations 0-31) with the low 16 bits of data.
    auto* gm = reinterpret_cast<volatile uint16_t*>(w + kalvo::testboard::kGmOffset);
    for (int i = 0; i < 32 * 4; ++i) gm[i] = static_cast<uint16_t>(data);
    return 0;
}
#endif

KV_BOARD_API int32_t KV_GetCnectStat(int32_t board, int32_t line, int32_t* station,
                                     int32_t* count) {
    if (!window(board, line)) return 3;
    if (station) *station = 0;
    if (count) *count = 32;
    return 0;
}

KV_BOARD_API int32_t KV_Attach(int32_t board, int32_t line, void** address) {
    uint8_t* w = window(board, line);
    if (!w) return 3;
    if (!address) return 3;
    *address = w;
    return 0;
}

KV_BOARD_API int32_t KV_GetReg16(int32_t board, int32_t line, int32_t offset, uint16_t* value) {
    uint8_t* w = window(board, line);
    if (!w || !value) return 3;
    std::memcpy(value, w + (offset & 0xFFF & ~1), 2);
    return 0;
}

KV_BOARD_API int32_t KV_GetReg64(int32_t board, int32_t line, int32_t offset, uint64_t* value) {
    uint8_t* w = window(board, line);
    if (!w || !value) return 3;
    std::memcpy(value, w + (offset & 0xFF8), 8);
    return 0;
}

KV_BOARD_API int32_t KV_SetReg16(int32_t board, int32_t line, int32_t offset, int32_t value) {
    uint8_t* w = window(board, line);
    if (!w) return 3;
    const auto v = static_cast<uint16_t>(value);
    std::memcpy(w + (offset & 0xFFF & ~1), &v, 2);
    return 0;
}

KV_BOARD_API int32_t KV_SetReg64(int32_t board, int32_t line, int32_t offset, uint64_t value) {
    uint8_t* w = window(board, line);
    if (!w) return 3;
    std::memcpy(w + (offset & 0xFF8), &value, 8);
    return 0;
}

KV_BOARD_API int32_t KV_GetMemByte(int32_t board, int32_t line, uint8_t* data, int32_t station,
                                   int32_t offset, int32_t count) {
    return gmRead(board, line, data, station * 8 + offset, count);
}
KV_BOARD_API int32_t KV_GetMemShort(int32_t board, int32_t line, uint16_t* data, int32_t station,
                                    int32_t offset, int32_t count) {
    return gmRead(board, line, data, station * 4 + offset, count);
}
KV_BOARD_API int32_t KV_GetMemLong(int32_t board, int32_t line, uint32_t* data, int32_t station,
                                   int32_t offset, int32_t count) {
    return gmRead(board, line, data, station * 2 + offset, count);
}
KV_BOARD_API int32_t KV_GetMemDLong(int32_t board, int32_t line, uint64_t* data, int32_t index1,
                                    int32_t index2, int32_t count) {
    return gmRead(board, line, data, index1 + index2, count);
}
KV_BOARD_API int32_t KV_SetMemByte(int32_t board, int32_t line, const uint8_t* data,
                                   int32_t station, int32_t offset, int32_t count) {
    return gmWrite(board, line, data, station * 8 + offset, count);
}
KV_BOARD_API int32_t KV_SetMemShort(int32_t board, int32_t line, const uint16_t* data,
                                    int32_t station, int32_t offset, int32_t count) {
    return gmWrite(board, line, data, station * 4 + offset, count);
}
KV_BOARD_API int32_t KV_SetMemLong(int32_t board, int32_t line, const uint32_t* data,
                                   int32_t station, int32_t offset, int32_t count) {
    return gmWrite(board, line, data, station * 2 + offset, count);
}
KV_BOARD_API int32_t KV_SetMemDLong(int32_t board, int32_t line, const uint64_t* data,
                                    int32_t index1, int32_t index2, int32_t count) {
    return gmWrite(board, line, data, index1 + index2, count);
}

}  // extern "C"
