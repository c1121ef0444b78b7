// Loads and stores into a board's memory window. The window is shared with
// the driver, client processes and test threads that write it at any time,
// so every access is one atomic access of the register's width, as the bus
// would make it; no ordering beyond that is promised.
#pragma once

#include <atomic>
#include <cstdint>

namespace kalvo::sim::chip {

template <class T>
inline std::atomic_ref<T> windowWord(uint8_t* window, uint32_t offset) {
    return std::atomic_ref<T>(*reinterpret_cast<T*>(window + offset));
}

template <class T>
inline T loadWindow(uint8_t* window, uint32_t offset) {
    return windowWord<T>(window, offset).load(std::memory_order_acquire);
}

template <class T>
inline void storeWindow(uint8_t* window, uint32_t offset, T value) {
    windowWord<T>(window, offset).store(value, std::memory_order_release);
}

}  // namespace kalvo::sim::chip
