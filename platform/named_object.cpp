#include "platform/named_object.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <new>
#include <vector>

#include "platform/process_identity.h"
#include "platform/process_registry.h"
#include "platform/runtime_dir.h"
#include "platform/win_error.h"

namespace kalvo::platform::detail {
namespace {

constexpr uint32_t kMagic = 0x424F564B;  // "KVOB"
constexpr uint32_t kVersion = 1;
constexpr size_t kStateOffset = 64;
constexpr size_t kPageSize = 4096;
// No object needs more; it keeps offset + size far from overflow.
constexpr uint64_t kMaxPayload = uint64_t{1} << 40;

struct ObjectHeader {
    uint32_t magic;
    uint32_t version;
    uint32_t kind;
    uint32_t payloadOffset;
    uint64_t payloadSize;
};
static_assert(sizeof(ObjectHeader) <= kStateOffset);

// Handles of this process, one entry per object file.
std::mutex gTableMutex;
std::vector<NamedObject*>& table() {
    static auto* t = new std::vector<NamedObject*>;  // never destroyed: used until exit
    return *t;
}

bool flockRetry(int fd, int op) {
    for (;;) {
        if (::flock(fd, op) == 0) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace

NamespaceLock::NamespaceLock(const std::string& dir) noexcept {
    int fd = openNamespaceFile(dir, ".lock");
    if (fd < 0) {
        setLastError(win32ErrorFromErrno(errno));
        return;
    }
    if (!flockRetry(fd, LOCK_EX)) {
        setLastError(win32ErrorFromErrno(errno));
        ::close(fd);
        return;
    }
    fd_ = fd;
}

NamespaceLock::~NamespaceLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the descriptor drops the flock
}

NamedObject* NamedObject::acquire(ObjectKind kind, std::string_view name, size_t minPayload,
                                  const Initialiser& init, bool& created) noexcept {
    created = false;
    if (minPayload == 0 || minPayload > kMaxPayload) {
        setLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const size_t offset = kind == ObjectKind::PageFileMap ? kPageSize : kStateOffset;

    if (name.empty()) {
        size_t length = offset + minPayload;
        void* base =
            ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) {
            setLastError(win32ErrorFromErrno(errno));
            return nullptr;
        }
        auto* object = new (std::nothrow) NamedObject;
        if (!object) {
            ::munmap(base, length);
            setLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        object->kind_ = kind;
        object->refs_ = 1;
        object->base_ = base;
        object->length_ = length;
        object->payload_ = static_cast<char*>(base) + offset;
        object->payloadSize_ = minPayload;
        if (init) init(object->payload_);
        created = true;
        setLastError(ERROR_SUCCESS);
        return object;
    }

    std::string fileName = encodeObjectName(name);
    if (fileName.size() > NAME_MAX) {
        setLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::string dir = runtimeDir();
    if (dir.empty()) return nullptr;
    std::string path = dir + "/" + fileName;
    if (path.size() >= PATH_MAX) {
        setLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }

    // Holders of another user are known alive or dead by this process's
    // record in the namespace (process_registry.h): made before any lock.
    if (!registerProcess(dir)) return nullptr;
    NamespaceLock lock(dir);
    if (!lock.held()) return nullptr;

    int fd = openNamespaceFile(dir, fileName);
    if (fd < 0) {
        setLastError(errno == ELOOP ? ERROR_INVALID_HANDLE : win32ErrorFromErrno(errno));
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        setLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }

    const uint32_t pid = currentPid();
    auto checkExisting = [&](ObjectKind k, uint64_t size) -> bool {
        if (k != kind) {
            setLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        if (size < minPayload) {
            setLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        return true;
    };

    {
        std::lock_guard guard(gTableMutex);
        for (NamedObject* held : table()) {
            if (held->dev_ != st.st_dev || held->ino_ != st.st_ino || held->pid_ != pid) continue;
            ::close(fd);  // this process holds it already: one more handle
            if (!checkExisting(held->kind_, held->payloadSize_)) return nullptr;
            ++held->refs_;
            setLastError(ERROR_ALREADY_EXISTS);
            return held;
        }
    }

    auto* object = new (std::nothrow) NamedObject;
    if (!object) {
        ::close(fd);
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    object->dir_ = std::move(dir);
    object->path_ = std::move(path);
    object->kind_ = kind;
    object->fd_ = fd;
    object->dev_ = st.st_dev;
    object->ino_ = st.st_ino;
    object->pid_ = pid;
    object->refs_ = 1;

    auto fail = [&](uint32_t code) -> NamedObject* {
        setLastError(code);
        object->unmapAndClose();
        delete object;
        return nullptr;
    };

    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // No live holder: a new file, or one whose holders all died. Start
        // from zeros whatever it held before.
        size_t length = offset + minPayload;
        if (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, static_cast<off_t>(length)) != 0)
            return fail(win32ErrorFromErrno(errno));
        void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (base == MAP_FAILED) return fail(win32ErrorFromErrno(errno));
        object->base_ = base;
        object->length_ = length;
        object->payload_ = static_cast<char*>(base) + offset;
        object->payloadSize_ = minPayload;
        auto* header = static_cast<ObjectHeader*>(base);
        header->magic = kMagic;
        header->version = kVersion;
        header->kind = static_cast<uint32_t>(kind);
        header->payloadOffset = static_cast<uint32_t>(offset);
        header->payloadSize = minPayload;
        if (init) init(object->payload_);
        // Down to a shared hold; under the namespace lock nobody can slip in
        // while the conversion briefly holds nothing.
        if (!flockRetry(fd, LOCK_SH)) return fail(win32ErrorFromErrno(errno));
        created = true;
    } else if (errno == EWOULDBLOCK) {
        if (!flockRetry(fd, LOCK_SH)) return fail(win32ErrorFromErrno(errno));
        ObjectHeader header{};
        if (::pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
            header.magic != kMagic || header.version != kVersion)
            return fail(ERROR_INVALID_HANDLE);
        if (!checkExisting(static_cast<ObjectKind>(header.kind), header.payloadSize))
            return fail(lastError());
        if (header.payloadOffset != offset || header.payloadSize > kMaxPayload ||
            ::fstat(fd, &st) != 0 ||
            static_cast<uint64_t>(st.st_size) < header.payloadOffset + header.payloadSize)
            return fail(ERROR_INVALID_HANDLE);
        size_t length = offset + header.payloadSize;
        void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (base == MAP_FAILED) return fail(win32ErrorFromErrno(errno));
        object->base_ = base;
        object->length_ = length;
        object->payload_ = static_cast<char*>(base) + offset;
        object->payloadSize_ = header.payloadSize;
    } else {
        return fail(win32ErrorFromErrno(errno));
    }

    try {
        std::lock_guard guard(gTableMutex);
        table().push_back(object);
    } catch (...) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    setLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return object;
}

void NamedObject::unmapAndClose() noexcept {
    if (base_) ::munmap(base_, length_);
    base_ = payload_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void NamedObject::release(NamedObject* object) noexcept {
    if (!object) return;
    if (object->fd_ < 0) {  // process-private
        object->unmapAndClose();
        delete object;
        return;
    }
    auto dropFromTable = [object]() -> bool {
        std::lock_guard guard(gTableMutex);
        if (--object->refs_ > 0) return false;
        auto& t = table();
        t.erase(std::remove(t.begin(), t.end(), object), t.end());
        return true;
    };

    if (object->pid_ != currentPid()) {
        // Inherited through fork: the descriptor (and its flock) is shared
        // with the parent, which still holds the object. Just let go.
        if (dropFromTable()) {
            object->unmapAndClose();
            delete object;
        }
        return;
    }

    NamespaceLock lock(object->dir_);
    if (!dropFromTable()) return;
    ::munmap(object->base_, object->length_);
    object->base_ = object->payload_ = nullptr;
    // Only a lock holder may remove the file: without the namespace lock (its
    // directory is gone, say) the object is simply let go.
    if (lock.held() && ::flock(object->fd_, LOCK_EX | LOCK_NB) == 0) {
        // Last holder. Remove the name only if it still is our file.
        struct stat st {};
        if (::stat(object->path_.c_str(), &st) == 0 && st.st_dev == object->dev_ &&
            st.st_ino == object->ino_)
            ::unlink(object->path_.c_str());
    }
    // A failed upgrade may have dropped our shared flock (Linux converts by
    // unlock + lock); that is harmless as the descriptor closes now.
    object->unmapAndClose();
    delete object;
}

}  // namespace kalvo::platform::detail
