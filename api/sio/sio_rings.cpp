#include "api/sio/sio_rings.h"

namespace kalvo::api {

bool SharedRing::attach(const std::string& name, int32_t size) {
    if (layout_) return true;
    if (!map_.create(name + "Map.Map", kReceiveRingMapSize)) return false;
    if (!lock_.create(name + "Smph")) {
        map_.destroy();
        return false;
    }
    layout_ = static_cast<Layout*>(map_.view());
    SemaphoreHold hold(lock_);
    if (++layout_->attachCount == 1) ByteRing(layout_->indexes, layout_->data).resize(size);
    return true;
}

void SharedRing::detach() noexcept {
    if (!layout_) return;
    {
        SemaphoreHold hold(lock_);
        --layout_->attachCount;
    }
    lock_.close();
    layout_ = nullptr;
    map_.destroy();
}

int32_t SharedRing::fill() {
    if (!layout_) return 0;
    SemaphoreHold hold(lock_);
    return ByteRing(layout_->indexes, layout_->data).fill();
}

int32_t SharedRing::capacity() {
    if (!layout_) return 0;
    SemaphoreHold hold(lock_);
    return layout_->indexes.capacity;
}

void SharedRing::put(const uint8_t* bytes, int32_t count) {
    if (!layout_) return;
    SemaphoreHold hold(lock_);
    ByteRing(layout_->indexes, layout_->data).put(bytes, count);
}

int32_t SharedRing::get(uint8_t* bytes, int32_t max) {
    if (!layout_) return 0;
    SemaphoreHold hold(lock_);
    return ByteRing(layout_->indexes, layout_->data).get(bytes, max);
}

int32_t SharedRing::takeIfFilled(uint8_t* bytes, int32_t count) {
    if (!layout_) return count <= 0 ? 0 : -1;
    SemaphoreHold hold(lock_);
    ByteRing ring(layout_->indexes, layout_->data);
    return ring.fill() >= count ? ring.get(bytes, count) : -1;
}

void SharedRing::clear() {
    if (!layout_) return;
    SemaphoreHold hold(lock_);
    ByteRing(layout_->indexes, layout_->data).clear();
}

void SharedRing::resize(int32_t size) {
    if (!layout_) return;
    SemaphoreHold hold(lock_);
    ByteRing(layout_->indexes, layout_->data).resize(size);
}

LocalRing::LocalRing(int32_t size) {
    indexes_.capacity = ByteRing::clampSize(size);
    data_.resize(static_cast<size_t>(indexes_.capacity) + 1);
}

int32_t LocalRing::fill() {
    std::lock_guard lock(mutex_);
    return ByteRing(indexes_, data_.data()).fill();
}

int32_t LocalRing::capacity() {
    std::lock_guard lock(mutex_);
    return indexes_.capacity;
}

void LocalRing::put(const uint8_t* bytes, int32_t count) {
    std::lock_guard lock(mutex_);
    ByteRing(indexes_, data_.data()).put(bytes, count);
}

int32_t LocalRing::get(uint8_t* bytes, int32_t max) {
    std::lock_guard lock(mutex_);
    return ByteRing(indexes_, data_.data()).get(bytes, max);
}

void LocalRing::clear() {
    std::lock_guard lock(mutex_);
    ByteRing(indexes_, data_.data()).clear();
}

void LocalRing::resize(int32_t size) {
    std::lock_guard lock(mutex_);
    RingIndexes fresh{ByteRing::clampSize(size), 0, 0};
    std::vector<uint8_t> data(static_cast<size_t>(fresh.capacity) + 1);
    const ByteRing from(indexes_, data_.data());
    ByteRing to(fresh, data.data());
    ByteRing::moveNewest(from, to);
    indexes_ = fresh;
    data_ = std::move(data);
}

}  // namespace kalvo::api
