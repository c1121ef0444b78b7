#include "platform/device_views.h"

#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <mutex>

#if defined(__SANITIZE_THREAD__)
// The race detector's own annotations: the accesses between them are not
// recorded, and a mapping made meanwhile only clears what it knew of the range.
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

namespace kalvo::platform::device_views {
namespace {

#if defined(__SANITIZE_THREAD__)
void ignoreWritesBegin() {
    AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
}
void ignoreWritesEnd() {
    AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
}
#else
void ignoreWritesBegin() {}
void ignoreWritesEnd() {}
#endif

struct ViewTable {
    std::mutex mutex;
    std::map<uint64_t, uint64_t> views;  // base address -> length
};

ViewTable& table() {
    static ViewTable* t = new ViewTable;  // views outlive static destruction
    return *t;
}

constexpr uint64_t k4GiB = uint64_t{1} << 32;

// The view of the table that contains address; end() when none.
std::map<uint64_t, uint64_t>::iterator viewAt(ViewTable& t, uint64_t address) {
    auto it = t.views.upper_bound(address);
    if (it == t.views.begin()) return t.views.end();
    --it;
    return address - it->first < it->second ? it : t.views.end();
}

}  // namespace

NTSTATUS map(int fd, uint64_t offset, uint64_t length, int wordSize, uint64_t* address) noexcept {
    long page = ::sysconf(_SC_PAGESIZE);
    if (fd < 0 || length == 0 || length > (uint64_t{1} << 31) || offset % uint64_t(page) != 0 ||
        offset > uint64_t(INT64_MAX) - length)
        return STATUS_INVALID_PARAMETER;
    int flags = MAP_SHARED;
    if (wordSize == 32) {
#ifdef MAP_32BIT
        flags |= MAP_32BIT;
#else
        return STATUS_NOT_SUPPORTED;
#endif
    }
    void* p =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, flags, fd, static_cast<off_t>(offset));
    if (p == MAP_FAILED) return STATUS_NO_MEMORY;
    uint64_t base = reinterpret_cast<uintptr_t>(p);
    if (wordSize == 32 && base + length > k4GiB) {
        ::munmap(p, length);
        return STATUS_CONFLICTING_ADDRESSES;
    }
    std::lock_guard lock(table().mutex);
    table().views[base] = length;
    *address = base;
    return STATUS_SUCCESS;
}

NTSTATUS unmap(uint64_t address) noexcept {
    ViewTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = viewAt(t, address);
    if (it == t.views.end()) return STATUS_NOT_MAPPED_VIEW;
    ::munmap(reinterpret_cast<void*>(static_cast<uintptr_t>(it->first)), it->second);
    t.views.erase(it);
    return STATUS_SUCCESS;
}

NTSTATUS retire(uint64_t address, bool accessible) noexcept {
    ViewTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = viewAt(t, address);
    if (it == t.views.end()) return STATUS_NOT_MAPPED_VIEW;
    void* base = reinterpret_cast<void*>(static_cast<uintptr_t>(it->first));
    const int protection = accessible ? PROT_READ | PROT_WRITE : PROT_NONE;
    // Calls of other threads may be inside the window (their loads and
    // stores are single accesses of the bus): the new pages replace the old
    // ones under them in one step, which is no write of this thread's.
    ignoreWritesBegin();
    void* p = ::mmap(base, it->second, protection,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_NORESERVE, -1, 0);
    ignoreWritesEnd();
    return p == base ? STATUS_SUCCESS : STATUS_NO_MEMORY;
}

}  // namespace kalvo::platform::device_views
