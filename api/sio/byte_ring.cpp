#include "api/sio/byte_ring.h"

#include <algorithm>
#include <vector>

namespace kalvo::api {

bool ByteRing::sane() const noexcept {
    const int32_t n = ix_.capacity;
    return n >= 0 && n <= kRingMaxCapacity && ix_.read >= 0 && ix_.read <= n && ix_.write >= 0 &&
           ix_.write <= n;
}

int32_t ByteRing::clampSize(int32_t size) noexcept {
    if (size > kRingMaxCapacity) return kRingMaxCapacity;
    if (size < 1) return kRingDefaultCapacity;
    return size;
}

int32_t ByteRing::fill() const noexcept {
    if (!sane()) return 0;
    const int32_t fill = ix_.write - ix_.read;
    return fill < 0 ? fill + ix_.capacity + 1 : fill;
}

void ByteRing::put(uint8_t byte) noexcept {
    if (!sane()) ix_.read = ix_.write = 0;
    if (ix_.capacity < 0 || ix_.capacity > kRingMaxCapacity) ix_.capacity = 0;
    data_[ix_.write] = byte;
    ix_.write = next(ix_.write);
    if (ix_.write == ix_.read) ix_.read = next(ix_.read);  // full: the oldest byte goes
}

void ByteRing::put(const uint8_t* bytes, int32_t count) noexcept {
    for (int32_t i = 0; i < count; ++i) put(bytes[i]);
}

int32_t ByteRing::get(uint8_t* bytes, int32_t max) noexcept {
    if (!sane()) {
        clear();
        return 0;
    }
    int32_t taken = 0;
    while (taken < max && ix_.read != ix_.write) {
        bytes[taken++] = data_[ix_.read];
        ix_.read = next(ix_.read);
    }
    return taken;
}

void ByteRing::clear() noexcept {
    if (!sane()) {
        if (ix_.capacity < 0 || ix_.capacity > kRingMaxCapacity) ix_.capacity = 0;
        ix_.write = 0;
    }
    ix_.read = ix_.write;
}

void ByteRing::resize(int32_t size) noexcept {
    size = clampSize(size);
    if (!sane()) {
        ix_.capacity = 0;
        ix_.read = ix_.write = 0;
    }
    if (ix_.capacity != 0) {
        const int32_t keep = std::min(fill(), size);
        // The kept bytes may overlap their new place: copy them out first.
        std::vector<uint8_t> newest(static_cast<size_t>(keep));
        const int32_t skip = fill() - keep;
        for (int32_t i = 0; i < skip; ++i) ix_.read = next(ix_.read);
        get(newest.data(), keep);
        std::copy(newest.begin(), newest.end(), data_);
        ix_.read = 0;
        ix_.write = keep;
    } else {
        ix_.read = ix_.write = 0;
    }
    ix_.capacity = size;
}

void ByteRing::moveNewest(const ByteRing& from, ByteRing& to) noexcept {
    to.ix_.read = to.ix_.write = 0;
    if (!from.sane() || to.ix_.capacity < 0) return;
    const int32_t keep = std::min(from.fill(), to.ix_.capacity);
    int32_t index = from.ix_.write - keep;
    if (index < 0) index += from.ix_.capacity + 1;
    for (int32_t i = 0; i < keep; ++i) {
        to.data_[i] = from.data_[index];
        index = from.next(index);
    }
    to.ix_.write = keep;
}

}  // namespace kalvo::api
