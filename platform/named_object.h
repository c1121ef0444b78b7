// The shared part of every named object: a file in the runtime namespace that
// starts with a small header (magic, kind, payload place and size) followed
// by the object's state, mapped MAP_SHARED.
//
// Lifetime follows Windows handles. Every process that holds the object keeps
// one descriptor with a shared flock; the kernel drops it when the process
// dies. Create-or-open and close run under the namespace lock (an exclusive
// flock on ".lock" in the directory), so they are atomic against each other:
// - create-or-open: if an exclusive flock on the file can be had, no live
//   process holds it (a new file, or every holder died), so the state is
//   zero-filled and initialised and the caller is told it created the object;
// - close of the last handle in a process: if the shared flock can be turned
//   into an exclusive one, no other process holds it, so the file is removed.
// Handles of one process share one mapping (so in-process users synchronise
// through the same atomics).
//
// An empty name gives a process-private object in anonymous shared memory.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <string_view>

#include "platform/win_error.h"

namespace kalvo::platform::detail {

// Windows keeps one namespace for all kinds: a name held as one kind cannot
// be opened as another.
enum class ObjectKind : uint32_t { Semaphore = 1, Mutex = 2, Event = 3, PageFileMap = 4 };

// Holds the namespace lock of a runtime directory for its scope.
class NamespaceLock {
  public:
    explicit NamespaceLock(const std::string& dir) noexcept;
    ~NamespaceLock();
    NamespaceLock(const NamespaceLock&) = delete;
    NamespaceLock& operator=(const NamespaceLock&) = delete;
    bool held() const noexcept { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

class NamedObject {
  public:
    // Fills the state of a new object; the payload is zero-filled before.
    using Initialiser = std::function<void(void* payload)>;

    // Creates or opens the object. On success created tells whether this call
    // made it; on failure nullptr and the last error: ERROR_FILENAME_EXCED_RANGE
    // (name too long), ERROR_INVALID_HANDLE (the name holds another kind),
    // ERROR_INVALID_PARAMETER (an existing object smaller than minPayload), or
    // the system's reason. A page-file map puts its payload on a page boundary.
    static NamedObject* acquire(ObjectKind kind, std::string_view name, size_t minPayload,
                                const Initialiser& init, bool& created) noexcept;
    // Drops one handle; the last handle of the last process removes the object.
    static void release(NamedObject* object) noexcept;

    void* payload() const noexcept { return payload_; }
    size_t payloadSize() const noexcept { return payloadSize_; }
    // The runtime directory that holds the object; empty for a private one.
    const std::string& dir() const noexcept { return dir_; }

  private:
    NamedObject() = default;
    void unmapAndClose() noexcept;

    std::string dir_, path_;
    ObjectKind kind_ = ObjectKind::Semaphore;
    int fd_ = -1;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    uint32_t pid_ = 0;  // the process that opened it (a forked child inherits the table)
    int refs_ = 0;
    void* base_ = nullptr;
    size_t length_ = 0;
    void* payload_ = nullptr;
    size_t payloadSize_ = 0;
};

// The handle record {object, fields...} of an acquired object. On success
// leaves the create-or-open last error (ERROR_SUCCESS or ERROR_ALREADY_EXISTS);
// without memory releases the object and returns null.
template <class Impl, class... Fields>
Impl* adoptObject(NamedObject* object, bool created, Fields... fields) {
    Impl* impl = new (std::nothrow) Impl{object, fields...};
    if (!impl) {
        NamedObject::release(object);
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    setLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return impl;
}

}  // namespace kalvo::platform::detail
