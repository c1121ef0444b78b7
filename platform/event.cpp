#include "platform/event.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "platform/futex.h"
#include "platform/named_object.h"
#include "platform/runtime_dir.h"
#include "platform/win_error.h"

namespace kalvo::platform {
namespace {

using detail::NamedObject;

struct EventState {
    uint32_t signaled;
    uint32_t manualReset;
};

// One per runtime directory (the file ".events"), shared by every process of
// the namespace: each set() that signals an event bumps `generation` and
// wakes its sleepers, so one futex serves a wait on any mix of events.
// `waiters` lets set() skip the wake-up call when nobody sleeps.
struct Bulletin {
    uint32_t generation;
    uint32_t waiters;
};

constexpr size_t kBulletinSize = 4096;
// Sleeps are bounded as a safety net; a set wakes sleepers at once.
constexpr int64_t kSafetySliceNs = 50'000'000;
// Events of different namespaces have no common futex; such a wait polls.
constexpr int64_t kPollNs = 200'000;
constexpr size_t kMaxWaitObjects = 64;  // MAXIMUM_WAIT_OBJECTS

std::atomic_ref<uint32_t> ref(uint32_t& word) {
    return std::atomic_ref<uint32_t>(word);
}

std::mutex gBulletinMutex;

Bulletin* mapBulletin(const std::string& dir) {
    detail::NamespaceLock lock(dir);
    if (!lock.held()) return nullptr;
    int fd = openNamespaceFile(dir, ".events");
    if (fd < 0) return nullptr;
    struct stat st {};
    void* base = MAP_FAILED;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        (st.st_size >= static_cast<off_t>(kBulletinSize) || ::ftruncate(fd, kBulletinSize) == 0))
        base = ::mmap(nullptr, kBulletinSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    return base == MAP_FAILED ? nullptr : static_cast<Bulletin*>(base);
}

// The bulletin of a runtime directory, mapped once per process and kept
// (a page each); private events share one in anonymous memory.
Bulletin* bulletinFor(const std::string& dir) {
    std::lock_guard guard(gBulletinMutex);
    static auto* mapped = new std::map<std::string, Bulletin*>;  // lives until exit
    auto it = mapped->find(dir);
    if (it != mapped->end()) return it->second;
    Bulletin* b = nullptr;
    if (dir.empty()) {
        void* base = ::mmap(nullptr, kBulletinSize, PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (base != MAP_FAILED) b = static_cast<Bulletin*>(base);
    } else {
        b = mapBulletin(dir);
    }
    if (b) (*mapped)[dir] = b;
    return b;
}

}  // namespace

struct Event::Impl {
    NamedObject* object;
    EventState* state;
    Bulletin* bulletin;

    bool tryConsume() noexcept {
        auto signaled = ref(state->signaled);
        if (state->manualReset) return signaled.load(std::memory_order_acquire) != 0;
        uint32_t one = 1;
        return signaled.compare_exchange_strong(one, 0, std::memory_order_acquire);
    }
};

Event::Event() noexcept = default;
Event::~Event() = default;
Event::Event(Event&&) noexcept = default;
Event& Event::operator=(Event&&) noexcept = default;

Event Event::createOrOpen(std::string_view name, bool manualReset, bool initialState) {
    Event result;
    auto init = [manualReset, initialState](void* payload) {
        auto* s = static_cast<EventState*>(payload);
        s->manualReset = manualReset ? 1 : 0;
        s->signaled = initialState ? 1 : 0;
    };
    bool created = false;
    NamedObject* object =
        NamedObject::acquire(detail::ObjectKind::Event, name, sizeof(EventState), init, created);
    if (!object) return result;
    Bulletin* bulletin = bulletinFor(object->dir());
    if (!bulletin) {
        NamedObject::release(object);
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return result;
    }
    result.impl_.reset(detail::adoptObject<Impl>(
        object, created, static_cast<EventState*>(object->payload()), bulletin));
    if (!result.impl_) return result;
    result.created_ = created;
    return result;
}

bool Event::set() noexcept {
    if (!impl_) {
        setLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    // Already set: nobody can be asleep waiting for this one.
    if (ref(impl_->state->signaled).exchange(1) != 0) return true;
    Bulletin& b = *impl_->bulletin;
    ref(b.generation).fetch_add(1);
    if (ref(b.waiters).load() > 0) detail::futexWake(&b.generation, INT_MAX);
    return true;
}

bool Event::reset() noexcept {
    if (!impl_) {
        setLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    ref(impl_->state->signaled).store(0, std::memory_order_release);
    return true;
}

bool Event::isSet() const noexcept {
    return impl_ && ref(impl_->state->signaled).load(std::memory_order_acquire) != 0;
}

uint32_t Event::wait(uint32_t timeoutMs) noexcept {
    Event* self = this;
    return waitForAny(std::span<Event* const>(&self, 1), timeoutMs);
}

void Event::ImplClose::operator()(Impl* impl) const noexcept {
    NamedObject::release(impl->object);
    delete impl;
}

void Event::close() noexcept {
    impl_.reset();
}

uint32_t waitForAny(std::span<Event* const> events, uint32_t timeoutMs) noexcept {
    if (events.empty() || events.size() > kMaxWaitObjects) {
        setLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    Bulletin* common = nullptr;
    for (size_t i = 0; i < events.size(); ++i) {
        if (!events[i] || !events[i]->impl_) {
            setLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        Bulletin* b = events[i]->impl_->bulletin;
        if (i == 0)
            common = b;
        else if (b != common)
            common = nullptr;
    }

    detail::Deadline deadline(timeoutMs);
    for (;;) {
        // Read the generation before looking at the events: a set after the
        // look changes it, and the futex then refuses to sleep.
        uint32_t generation = common ? ref(common->generation).load() : 0;
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i]->impl_->tryConsume()) return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
        if (deadline.expired()) return WAIT_TIMEOUT;
        if (common) {
            auto waiters = ref(common->waiters);
            waiters.fetch_add(1);
            detail::futexWait(&common->generation, generation,
                              deadline.remainingNs(kSafetySliceNs));
            waiters.fetch_sub(1);
        } else {
            int64_t ns = deadline.remainingNs(kPollNs);
            timespec ts{0, static_cast<long>(ns)};
            ::nanosleep(&ts, nullptr);
        }
    }
}

}  // namespace kalvo::platform
