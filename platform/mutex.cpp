#include "platform/mutex.h"

#include <atomic>
#include <new>

#include "platform/futex.h"
#include "platform/named_object.h"
#include "platform/process_identity.h"
#include "platform/win_error.h"

namespace kalvo::platform {
namespace {

using detail::NamedObject;

// State in the shared object. `owner` is the owning thread's id (0: free);
// thread ids are unique machine-wide, so it names thread and process at once.
// `ownerPid` is kept for diagnosis. `recursion` is touched by the owner only.
struct MutexState {
    uint32_t owner;
    uint32_t ownerPid;
    uint32_t recursion;
    uint32_t waiters;
};

// A waiter looks at the owner this often: an owner thread that ended (or
// whose process died) without releasing leaves the mutex abandoned.
constexpr int64_t kOwnerCheckNs = 20'000'000;

std::atomic_ref<uint32_t> ref(uint32_t& word) {
    return std::atomic_ref<uint32_t>(word);
}

}  // namespace

struct Mutex::Impl {
    NamedObject* object;
    MutexState* state;
};

Mutex::Mutex() noexcept = default;
Mutex::~Mutex() = default;
Mutex::Mutex(Mutex&&) noexcept = default;
Mutex& Mutex::operator=(Mutex&&) noexcept = default;

Mutex Mutex::createOrOpen(std::string_view name, bool initialOwner) {
    Mutex result;
    auto init = [initialOwner](void* payload) {
        if (!initialOwner) return;
        auto* s = static_cast<MutexState*>(payload);
        s->owner = detail::currentTid();
        s->ownerPid = detail::currentPid();
        s->recursion = 1;
    };
    bool created = false;
    NamedObject* object =
        NamedObject::acquire(detail::ObjectKind::Mutex, name, sizeof(MutexState), init, created);
    if (!object) return result;
    result.impl_.reset(
        detail::adoptObject<Impl>(object, created, static_cast<MutexState*>(object->payload())));
    if (!result.impl_) return result;
    result.created_ = created;
    return result;
}

uint32_t Mutex::wait(uint32_t timeoutMs) noexcept {
    if (!impl_) {
        setLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    MutexState& s = *impl_->state;
    auto owner = ref(s.owner);
    const uint32_t me = detail::currentTid();

    auto takeFrom = [&](uint32_t from) {
        if (!owner.compare_exchange_strong(from, me, std::memory_order_acquire)) return false;
        ref(s.ownerPid).store(detail::currentPid(), std::memory_order_relaxed);
        ref(s.recursion).store(1, std::memory_order_relaxed);
        return true;
    };

    if (owner.load(std::memory_order_relaxed) == me) {  // only we can have stored our id
        auto recursion = ref(s.recursion);
        uint32_t n = recursion.load(std::memory_order_relaxed);
        if (n == 0xFFFFFFFFu) {
            setLastError(ERROR_NOT_ENOUGH_MEMORY);
            return WAIT_FAILED;
        }
        recursion.store(n + 1, std::memory_order_relaxed);
        return WAIT_OBJECT_0;
    }
    if (takeFrom(0)) return WAIT_OBJECT_0;

    detail::Deadline deadline(timeoutMs);
    auto waiters = ref(s.waiters);
    waiters.fetch_add(1);
    uint32_t result = WAIT_TIMEOUT;
    bool lookAtOwner = timeoutMs == 0;
    for (;;) {
        uint32_t v = owner.load();
        if (v == 0) {
            if (takeFrom(0)) {
                result = WAIT_OBJECT_0;
                break;
            }
            continue;
        }
        if (lookAtOwner && !detail::threadAlive(v)) {
            if (takeFrom(v)) {
                result = WAIT_ABANDONED;
                break;
            }
            continue;
        }
        if (deadline.expired()) break;
        int64_t slice = deadline.remainingNs(kOwnerCheckNs);
        int64_t before = detail::monotonicNs();
        detail::futexWait(&s.owner, v, slice);
        lookAtOwner = detail::monotonicNs() - before >= slice && owner.load() == v;
    }
    waiters.fetch_sub(1);
    return result;
}

bool Mutex::release() noexcept {
    if (!impl_) {
        setLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    MutexState& s = *impl_->state;
    auto owner = ref(s.owner);
    if (owner.load(std::memory_order_relaxed) != detail::currentTid()) {
        setLastError(ERROR_NOT_OWNER);
        return false;
    }
    auto recursion = ref(s.recursion);
    uint32_t n = recursion.load(std::memory_order_relaxed);
    if (n > 1) {
        recursion.store(n - 1, std::memory_order_relaxed);
        return true;
    }
    recursion.store(0, std::memory_order_relaxed);
    ref(s.ownerPid).store(0, std::memory_order_relaxed);
    owner.exchange(0);
    if (ref(s.waiters).load() > 0) detail::futexWake(&s.owner, 1);
    return true;
}

void Mutex::ImplClose::operator()(Impl* impl) const noexcept {
    NamedObject::release(impl->object);
    delete impl;
}

void Mutex::close() noexcept {
    impl_.reset();
}

}  // namespace kalvo::platform
