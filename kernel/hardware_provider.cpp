#include "kernel/hardware_provider.h"

#include <sys/mman.h>
#include <unistd.h>

namespace kalvo::kernel {

HardwareProvider::~HardwareProvider() {
    for (auto& [address, mapping] : mappings_) munmap(mapping.base, mapping.length);
}

std::optional<MemoryWindow> HardwareProvider::windowAt(uint64_t busAddress) const {
    for (MemoryWindow& window : windows())
        if (window.holds(busAddress)) return std::move(window);
    return std::nullopt;
}

void* HardwareProvider::mapIoSpace(uint64_t busAddress, size_t length) {
    if (length == 0) return nullptr;
    std::optional<MemoryWindow> window = windowAt(busAddress);
    // A range that leaves its window would reach bytes of another board, or
    // none at all.
    if (!window || window->fd < 0 || !window->holds(busAddress, length)) return nullptr;
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    const uint64_t offset = window->fdOffset + (busAddress - window->busStart);
    const uint64_t start = offset & ~(page - 1);
    const size_t span = static_cast<size_t>(offset - start) + length;
    void* base = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_SHARED, window->fd,
                      static_cast<off_t>(start));
    if (base == MAP_FAILED) return nullptr;
    auto* address = static_cast<uint8_t*>(base) + (offset - start);
    std::lock_guard lock(mappingsMutex_);
    mappings_[reinterpret_cast<uintptr_t>(address)] = Mapping{base, span};
    return address;
}

void HardwareProvider::unmapIoSpace(void* address, size_t length) {
    (void)length;  // the mapping knows its own length
    Mapping mapping;
    {
        std::lock_guard lock(mappingsMutex_);
        auto it = mappings_.find(reinterpret_cast<uintptr_t>(address));
        if (it == mappings_.end()) return;  // never handed out, or unmapped already
        mapping = it->second;
        mappings_.erase(it);
    }
    munmap(mapping.base, mapping.length);
}

size_t HardwareProvider::liveMappings() const {
    std::lock_guard lock(mappingsMutex_);
    return mappings_.size();
}

}  // namespace kalvo::kernel
