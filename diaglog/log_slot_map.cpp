#include "diaglog/log_slot_map.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/format.h"
#include "platform/runtime_dir.h"
#include "platform/win_error.h"

namespace kalvo::diaglog {

namespace {

// Byte i of the side file is locked by the holder of slot i; this byte
// serialises claims, releases and the freeing of dead holders' slots.
constexpr off_t kGuardByte = LogSlotMap::kSlotCount;

std::atomic_ref<uint32_t> atomicWord(uint32_t* w) {
    return std::atomic_ref<uint32_t>(*w);
}

bool byteLock(int fd, int command, short type, off_t byte) noexcept {
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    int rc;
    do {
        rc = fcntl(fd, command, &fl);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}

}  // namespace

// The side file and the slots' rings sit beside the named objects. Encoded
// object names never hold a '.', so a name with a suffix cannot collide with
// one of them.
std::string logRuntimeStem(const char* mapName) {
    const std::string dir = platform::runtimeDir();
    if (dir.empty() || !mapName) return {};
    std::string name = platform::encodeObjectName(mapName);
    // Room for the longest suffix, ".ring255".
    if (name.size() + 8 > NAME_MAX) {
        // Too long to keep readable: name it by a hash of the map name.
        uint64_t h = 14695981039346656037ull;
        for (const char* p = mapName; *p; ++p)
            h = (h ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
        char text[40];
        platform::format(text, sizeof text, "%08x%08x", static_cast<uint32_t>(h >> 32),
                         static_cast<uint32_t>(h));
        name = text;
    }
    return dir + "/" + name;
}

namespace {

void decrementCount(uint32_t* count) noexcept {
    auto c = atomicWord(count);
    uint32_t value = c.load();
    // Never below zero, even if the count was damaged.
    while (static_cast<int32_t>(value) > 0 && !c.compare_exchange_weak(value, value - 1)) {
    }
}

}  // namespace

LogSlotMap::~LogSlotMap() {
    close();
}

uint32_t* LogSlotMap::word(size_t index) const noexcept {
    return static_cast<uint32_t*>(map_.data()) + index;
}

bool LogSlotMap::lockGuard() const noexcept {
    return byteLock(lockFd_, F_OFD_SETLKW, F_WRLCK, kGuardByte);
}

void LogSlotMap::unlockGuard() const noexcept {
    byteLock(lockFd_, F_OFD_SETLK, F_UNLCK, kGuardByte);
}

bool LogSlotMap::holderAlive(int32_t slot) const noexcept {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = slot;
    fl.l_len = 1;
    // When the question cannot be asked, keep the slot: a stale slot costs
    // less than two processes writing the same files.
    if (fcntl(lockFd_, F_OFD_GETLK, &fl) != 0) return true;
    return fl.l_type != F_UNLCK;
}

void LogSlotMap::reclaimDeadSlots() noexcept {
    for (int32_t i = 0; i < kSlotCount; ++i) {
        auto w = atomicWord(word(1 + i));
        uint32_t value = w.load();
        if (value == 0) continue;
        // Our own lock never conflicts with our own query, so skip our slot.
        if (i != slot_ && !holderAlive(i) && w.compare_exchange_strong(value, 0)) {
            decrementCount(word(0));
        }
    }
}

bool LogSlotMap::open(const char* mapName, BeforeClaim beforeClaim, void* context) {
    if (isOpen() || !mapName || !*mapName) {
        platform::setLastError(isOpen() ? platform::ERROR_ALREADY_EXISTS
                                        : platform::ERROR_INVALID_NAME);
        return false;
    }
    map_ = platform::PageFileMap::createOrOpen(mapName, kMapSize);
    if (!map_.valid()) return false;
    created_ = map_.created();

    stem_ = logRuntimeStem(mapName);
    // Open to every member in a group namespace, as the map itself is.
    if (!stem_.empty()) {
        const size_t slash = stem_.rfind('/');
        lockFd_ =
            platform::openNamespaceFile(stem_.substr(0, slash), stem_.substr(slash + 1) + ".slots");
    }
    if (lockFd_ < 0 || !lockGuard()) {
        platform::setLastError(platform::win32ErrorFromErrno(errno));
        close();
        return false;
    }

    reclaimDeadSlots();
    if (beforeClaim) beforeClaim(context, *this);
    for (int32_t i = 0; i < kSlotCount && slot_ < 0; ++i) {
        auto w = atomicWord(word(1 + i));
        uint32_t expected = 0;
        if (!w.compare_exchange_strong(expected, 1)) continue;
        if (!byteLock(lockFd_, F_OFD_SETLK, F_WRLCK, i)) {
            w.store(0);  // a lock we cannot take: leave this slot alone
            continue;
        }
        atomicWord(word(0)).fetch_add(1);
        slot_ = i;
    }
    unlockGuard();
    if (slot_ < 0) {
        platform::setLastError(platform::ERROR_TOO_MANY_OPEN_FILES);
        close();
        return false;
    }
    return true;
}

void LogSlotMap::releaseSlot() noexcept {
    const bool guarded = lockGuard();
    auto w = atomicWord(word(1 + slot_));
    uint32_t expected = 1;
    // The slot may have been freed already if our lock was lost; count it
    // down only when it was still ours.
    if (w.compare_exchange_strong(expected, 0)) decrementCount(word(0));
    byteLock(lockFd_, F_OFD_SETLK, F_UNLCK, slot_);
    if (guarded) unlockGuard();
    slot_ = -1;
}

void LogSlotMap::abandon() {
    slot_ = -1;
    close();
}

bool LogSlotMap::occupied(int32_t slot) const noexcept {
    if (!map_.valid() || slot < 0 || slot >= kSlotCount) return false;
    return atomicWord(word(1 + slot)).load() != 0;
}

void LogSlotMap::close() {
    if (slot_ >= 0 && map_.valid()) releaseSlot();
    slot_ = -1;
    if (lockFd_ >= 0) {
        ::close(lockFd_);
        lockFd_ = -1;
    }
    map_.close();
    created_ = false;
}

int32_t LogSlotMap::processCount() {
    if (!map_.valid()) return 0;
    if (lockFd_ >= 0 && lockGuard()) {
        reclaimDeadSlots();
        unlockGuard();
    }
    return static_cast<int32_t>(atomicWord(word(0)).load());
}

}  // namespace kalvo::diaglog
