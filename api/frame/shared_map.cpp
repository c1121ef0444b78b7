#include "api/frame/shared_map.h"

#include <cstring>

namespace kalvo::api {

bool SharedMap::create(const std::string& name, size_t size) {
    if (map_.valid()) return false;
    map_ = platform::PageFileMap::createOrOpen(name, size);
    if (!map_.valid()) return false;
    name_ = name;
    size_ = size;
    createdFirst_ = map_.created();
    // The platform zero-fills a new map already; this keeps the promise
    // independent of how the map is provided.
    if (createdFirst_) std::memset(map_.data(), 0, size);
    return true;
}

void SharedMap::destroy() noexcept {
    map_.close();
    createdFirst_ = false;
}

}  // namespace kalvo::api
