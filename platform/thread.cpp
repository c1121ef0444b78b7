#include "platform/thread.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>

#include "platform/win_error.h"

namespace kalvo::platform {

// Shared by the handle and the running thread; the last of the two frees it.
struct Thread::Impl {
    std::mutex lock;
    std::condition_variable changed;
    Body body;
    bool suspended = false;
    bool finished = false;
    uint32_t exitCode = STILL_ACTIVE;
    std::atomic<pthread_t> self{};
    std::atomic<bool> selfKnown{false};
    std::atomic<int> refs{2};

    void release() {
        if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }

    static void* run(void* arg) {
        auto* impl = static_cast<Impl*>(arg);
        impl->self.store(pthread_self(), std::memory_order_relaxed);
        impl->selfKnown.store(true, std::memory_order_release);
        Thread::Body body;
        {
            std::unique_lock<std::mutex> lk(impl->lock);
            impl->changed.wait(lk, [impl] { return !impl->suspended; });
            body = std::move(impl->body);
        }
        uint32_t code = body();
        // The body (and what it captured) goes before the thread reports its end:
        // a waiter may then unload the module whose code the body came from.
        body = nullptr;
        {
            std::lock_guard<std::mutex> lk(impl->lock);
            impl->exitCode = code;
            impl->finished = true;
        }
        impl->changed.notify_all();
        impl->release();
        return nullptr;
    }
};

Thread::Thread() noexcept = default;

Thread::~Thread() {
    close();
}

Thread::Thread(Thread&& other) noexcept : impl_(other.impl_) {
    other.impl_ = nullptr;
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        close();
        impl_ = other.impl_;
        other.impl_ = nullptr;
    }
    return *this;
}

Thread Thread::create(Body body, bool suspended) {
    Thread t;
    if (!body) {
        setLastError(ERROR_INVALID_PARAMETER);
        return t;
    }
    auto* impl = new (std::nothrow) Impl;
    if (impl == nullptr) {
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return t;
    }
    impl->body = std::move(body);
    impl->suspended = suspended;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    // Nobody joins: the handle waits on the finished flag, and a closed
    // handle leaves the thread to run to its end on its own.
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t id;
    int err = pthread_create(&id, &attr, &Impl::run, impl);
    pthread_attr_destroy(&attr);
    if (err != 0) {
        delete impl;
        setLastError(err == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : win32ErrorFromErrno(err));
        return t;
    }
    t.impl_ = impl;
    return t;
}

int32_t Thread::resume() noexcept {
    if (impl_ == nullptr) {
        setLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    bool wasSuspended;
    {
        std::lock_guard<std::mutex> lk(impl_->lock);
        wasSuspended = impl_->suspended;
        impl_->suspended = false;
    }
    if (wasSuspended) impl_->changed.notify_all();
    return wasSuspended ? 1 : 0;
}

uint32_t Thread::wait(uint32_t timeoutMs) noexcept {
    if (impl_ == nullptr) {
        setLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lk(impl_->lock);
    auto done = [this] { return impl_->finished; };
    if (timeoutMs == INFINITE) {
        impl_->changed.wait(lk, done);
        return WAIT_OBJECT_0;
    }
    return impl_->changed.wait_for(lk, std::chrono::milliseconds(timeoutMs), done) ? WAIT_OBJECT_0
                                                                                   : WAIT_TIMEOUT;
}

uint32_t Thread::exitCode() const noexcept {
    if (impl_ == nullptr) {
        setLastError(ERROR_INVALID_HANDLE);
        return STILL_ACTIVE;
    }
    std::lock_guard<std::mutex> lk(impl_->lock);
    return impl_->exitCode;
}

bool Thread::isCurrent() const noexcept {
    if (impl_ == nullptr || !impl_->selfKnown.load(std::memory_order_acquire)) return false;
    return pthread_equal(impl_->self.load(std::memory_order_relaxed), pthread_self()) != 0;
}

void Thread::close() noexcept {
    if (impl_ == nullptr) return;
    // A suspended thread whose handle goes is resumed, so that it runs to
    // its end rather than waiting forever with its resources.
    resume();
    impl_->release();
    impl_ = nullptr;
}

}  // namespace kalvo::platform
