#include "platform/semaphore.h"

#include <atomic>
#include <new>
#include <utility>

#include "platform/futex.h"
#include "platform/named_object.h"
#include "platform/process_identity.h"
#include "platform/process_registry.h"
#include "platform/win_error.h"

namespace kalvo::platform {
namespace {

using detail::NamedObject;

// State in the shared object. With maximum 1 the semaphore is a lock and
// `word` is 0 (free) or the holder's process id, or kTakenNoOwner for one
// created with count 0 (nobody to watch for). Otherwise `word` is the count.
// Sleepers wait on `word`; `waiters` lets a release skip the wake-up call
// when nobody sleeps.
struct SemaphoreState {
    uint32_t word;
    uint32_t waiters;
    int32_t maximum;
    uint32_t reserved;
};

constexpr uint32_t kTakenNoOwner = 0xFFFFFFFFu;
// A waiter looks at the holder this often, so a lock whose holder died is
// taken over well within 100 ms.
constexpr int64_t kHolderCheckNs = 20'000'000;

std::atomic_ref<uint32_t> ref(uint32_t& word) {
    return std::atomic_ref<uint32_t>(word);
}

}  // namespace

struct Semaphore::Impl {
    NamedObject* object;
    SemaphoreState* state;
    bool isLock;
};

Semaphore::Semaphore() noexcept = default;
Semaphore::~Semaphore() = default;
Semaphore::Semaphore(Semaphore&& other) noexcept
    : impl_(std::move(other.impl_)),
      lockWord_(std::exchange(other.lockWord_, nullptr)),
      lockWaiters_(std::exchange(other.lockWaiters_, nullptr)),
      created_(other.created_) {}

Semaphore& Semaphore::operator=(Semaphore&& other) noexcept {
    if (this != &other) {
        impl_ = std::move(other.impl_);
        lockWord_ = std::exchange(other.lockWord_, nullptr);
        lockWaiters_ = std::exchange(other.lockWaiters_, nullptr);
        created_ = other.created_;
    }
    return *this;
}

Semaphore Semaphore::createOrOpen(std::string_view name, int32_t initial, int32_t maximum) {
    Semaphore result;
    if (maximum < 1 || initial < 0 || initial > maximum) {
        setLastError(ERROR_INVALID_PARAMETER);
        return result;
    }
    auto init = [initial, maximum](void* payload) {
        auto* s = static_cast<SemaphoreState*>(payload);
        s->maximum = maximum;
        if (maximum == 1)
            s->word = initial == 1 ? 0 : kTakenNoOwner;
        else
            s->word = static_cast<uint32_t>(initial);
    };
    bool created = false;
    NamedObject* object = NamedObject::acquire(detail::ObjectKind::Semaphore, name,
                                               sizeof(SemaphoreState), init, created);
    if (!object) return result;
    auto* state = static_cast<SemaphoreState*>(object->payload());
    result.impl_.reset(detail::adoptObject<Impl>(object, created, state, state->maximum == 1));
    if (!result.impl_) return result;
    result.created_ = created;
    if (result.impl_->isLock) {
        result.lockWord_ = &state->word;
        result.lockWaiters_ = &state->waiters;
    }
    return result;
}

uint32_t Semaphore::waitSlow(uint32_t timeoutMs) noexcept {
    if (!impl_) {
        setLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    SemaphoreState& s = *impl_->state;
    auto word = ref(s.word);

    if (impl_->isLock) {
        const uint32_t me = detail::currentPid();
        uint32_t expected = 0;
        if (word.compare_exchange_strong(expected, me, std::memory_order_acquire))
            return WAIT_OBJECT_0;

        detail::Deadline deadline(timeoutMs);
        auto waiters = ref(s.waiters);
        waiters.fetch_add(1);
        uint32_t result = WAIT_TIMEOUT;
        bool lookAtHolder = timeoutMs == 0;
        for (;;) {
            uint32_t v = word.load();
            if (v == 0) {
                if (word.compare_exchange_strong(v, me, std::memory_order_acquire)) {
                    result = WAIT_OBJECT_0;
                    break;
                }
                continue;
            }
            // A holder that died never releases: take the lock over from it.
            if (lookAtHolder && v != kTakenNoOwner && v != me &&
                !detail::holderAlive(impl_->object->dir(), v)) {
                if (word.compare_exchange_strong(v, me, std::memory_order_acquire)) {
                    result = WAIT_OBJECT_0;
                    break;
                }
                continue;
            }
            if (deadline.expired()) break;
            int64_t slice = deadline.remainingNs(kHolderCheckNs);
            int64_t before = detail::monotonicNs();
            detail::futexWait(&s.word, v, slice);
            // Only a sleep that ran its whole slice without news suggests a
            // dead holder; the check costs system calls, so not every time.
            lookAtHolder = detail::monotonicNs() - before >= slice && word.load() == v;
        }
        waiters.fetch_sub(1);
        return result;
    }

    uint32_t c = word.load(std::memory_order_relaxed);
    while (c > 0)
        if (word.compare_exchange_weak(c, c - 1, std::memory_order_acquire)) return WAIT_OBJECT_0;
    if (timeoutMs == 0) return WAIT_TIMEOUT;

    detail::Deadline deadline(timeoutMs);
    auto waiters = ref(s.waiters);
    waiters.fetch_add(1);
    uint32_t result = WAIT_TIMEOUT;
    for (;;) {
        c = word.load();
        if (c > 0) {
            if (word.compare_exchange_strong(c, c - 1, std::memory_order_acquire)) {
                result = WAIT_OBJECT_0;
                break;
            }
            continue;
        }
        if (deadline.expired()) break;
        detail::futexWait(&s.word, 0, deadline.remainingNs(kHolderCheckNs * 5));
    }
    waiters.fetch_sub(1);
    return result;
}

bool Semaphore::finishLockRelease(uint32_t holder, int32_t* previous) noexcept {
    if (holder == 0) {
        // Freeing a free lock changed nothing (the exchange stored 0 over 0).
        setLastError(ERROR_TOO_MANY_POSTS);
        return false;
    }
    if (ref(impl_->state->waiters).load() > 0) detail::futexWake(&impl_->state->word, 1);
    if (previous) *previous = 0;
    return true;
}

bool Semaphore::releaseSlow(int32_t count, int32_t* previous) noexcept {
    if (!impl_) {
        setLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (count < 1) {
        setLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    SemaphoreState& s = *impl_->state;
    auto word = ref(s.word);
    int32_t before = 0;

    if (impl_->isLock) {
        if (count > 1 || word.exchange(0) == 0) {
            // Freeing a free lock changed nothing (the exchange stored 0 over 0).
            setLastError(ERROR_TOO_MANY_POSTS);
            return false;
        }
    } else {
        uint32_t c = word.load(std::memory_order_relaxed);
        do {
            if (static_cast<int64_t>(c) + count > s.maximum) {
                setLastError(ERROR_TOO_MANY_POSTS);
                return false;
            }
        } while (!word.compare_exchange_weak(c, c + static_cast<uint32_t>(count)));
        before = static_cast<int32_t>(c);
    }
    if (ref(s.waiters).load() > 0) detail::futexWake(&s.word, impl_->isLock ? 1 : count);
    if (previous) *previous = before;
    return true;
}

void Semaphore::ImplClose::operator()(Impl* impl) const noexcept {
    NamedObject::release(impl->object);
    delete impl;
}

void Semaphore::close() noexcept {
    lockWord_ = nullptr;
    lockWaiters_ = nullptr;
    impl_.reset();
}

}  // namespace kalvo::platform
