// A bounded record of what happened on one line, for the host's tool and
// tests. Lines are added only on events (never every cycle), so a mutex is
// cheap enough; the oldest line goes when the ring is full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace kalvo::sim::chip {

class TraceRing {
  public:
    explicit TraceRing(size_t capacity = 512) : capacity_(capacity == 0 ? 1 : capacity) {}

    // Adds "[cycle N] text".
    void add(uint64_t cycle, std::string_view text);
    // The most recent maxLines lines, oldest first.
    std::vector<std::string> last(size_t maxLines) const;
    size_t size() const;

  private:
    const size_t capacity_;
    mutable std::mutex mutex_;
    std::deque<std::string> lines_;
};

}  // namespace kalvo::sim::chip
