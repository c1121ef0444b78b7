// Every load and store into the board window goes through here, one access
// of the stated width, so that the chip sees exactly the accesses the
// protocols prescribe. A unit test installs an observer to record the
// sequence (and to script what the chip answers to a load); without one an
// access costs one extra predictable branch.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

namespace kalvo::boardlib {

class BusObserver {
  public:
    virtual ~BusObserver() = default;
    // After a load of `bytes` bytes at `offset` from the window base; the
    // returned value is what the caller sees.
    virtual uint64_t load(uint32_t offset, unsigned bytes, uint64_t value) = 0;
    // Before a store.
    virtual void store(uint32_t offset, unsigned bytes, uint64_t value) = 0;
};

namespace bus {

// One per library image; tests only.
inline std::atomic<BusObserver*> gObserver{nullptr};

inline void setObserver(BusObserver* observer) noexcept {
    gObserver.store(observer, std::memory_order_release);
}

template <class T>
inline T load(const uint8_t* base, uint32_t offset) noexcept {
    static_assert(std::is_unsigned_v<T> && sizeof(T) <= 8);
    // A relaxed atomic access on a volatile location: one plain load of the
    // width (the window is memory that the chip and other processes share),
    // never merged or dropped by the compiler.
    T value = __atomic_load_n(reinterpret_cast<const volatile T*>(base + offset), __ATOMIC_RELAXED);
    if (BusObserver* o = gObserver.load(std::memory_order_relaxed); o != nullptr) [[unlikely]]
        value = static_cast<T>(o->load(offset, sizeof(T), value));
    return value;
}

template <class T>
inline void store(uint8_t* base, uint32_t offset, T value) noexcept {
    static_assert(std::is_unsigned_v<T> && sizeof(T) <= 8);
    if (BusObserver* o = gObserver.load(std::memory_order_relaxed); o != nullptr) [[unlikely]]
        o->store(offset, sizeof(T), value);
    __atomic_store_n(reinterpret_cast<volatile T*>(base + offset), value, __ATOMIC_RELAXED);
}

}  // namespace bus
}  // namespace kalvo::boardlib
