// A fixed ring of bytes for the serial unit's queues: its storage is taken
// once, so the cycle thread never allocates. Writers check room first; a
// queue that is full holds the line back instead of dropping bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kalvo::sim::units {

class ByteRing {
  public:
    explicit ByteRing(size_t capacity)
        : data_(std::make_unique<uint8_t[]>(capacity)), capacity_(capacity) {}

    size_t size() const { return size_; }
    size_t room() const { return capacity_ - size_; }
    bool empty() const { return size_ == 0; }

    // All of the bytes or none.
    bool push(const uint8_t* bytes, size_t count) {
        if (count > room()) return false;
        for (size_t i = 0; i < count; ++i) data_[(head_ + size_ + i) % capacity_] = bytes[i];
        size_ += count;
        return true;
    }
    size_t pop(uint8_t* bytes, size_t max) {
        size_t count = max < size_ ? max : size_;
        for (size_t i = 0; i < count; ++i) bytes[i] = data_[(head_ + i) % capacity_];
        drop(count);
        return count;
    }
    // The oldest bytes as one contiguous piece (for a write to a file).
    const uint8_t* front(size_t* count) const {
        *count = size_ < capacity_ - head_ ? size_ : capacity_ - head_;
        return data_.get() + head_;
    }
    void drop(size_t count) {
        head_ = (head_ + count) % capacity_;
        size_ -= count;
    }

  private:
    std::unique_ptr<uint8_t[]> data_;
    size_t capacity_;
    size_t head_ = 0;
    size_t size_ = 0;
};

}  // namespace kalvo::sim::units
