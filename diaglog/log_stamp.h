// The date and time stamp that starts every log line, "MM/DD/YY HH:MM:SS ".
// Formatting the local time costs far more than writing a line needs, so the
// text is kept and made anew only when the wall-clock second changes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kalvo::diaglog {

class LogStamp {
  public:
    static constexpr size_t kLength = 18;

    // Copies the stamp for the current second into out (kLength bytes, no
    // NUL). Not thread-safe: each writing thread keeps its own.
    void put(char* out) noexcept;

  private:
    int64_t second_ = -1;
    char text_[kLength + 1] = {};
};

}  // namespace kalvo::diaglog
