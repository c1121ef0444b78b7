#include "sim/chip/trace_ring.h"

namespace kalvo::sim::chip {

void TraceRing::add(uint64_t cycle, std::string_view text) {
    std::string line = "[cycle " + std::to_string(cycle) + "] ";
    line.append(text);
    std::lock_guard lock(mutex_);
    if (lines_.size() == capacity_) lines_.pop_front();
    lines_.push_back(std::move(line));
}

std::vector<std::string> TraceRing::last(size_t maxLines) const {
    std::lock_guard lock(mutex_);
    const size_t n = maxLines < lines_.size() ? maxLines : lines_.size();
    return std::vector<std::string>(lines_.end() - static_cast<std::ptrdiff_t>(n), lines_.end());
}

size_t TraceRing::size() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
}

}  // namespace kalvo::sim::chip
