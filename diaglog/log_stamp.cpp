#include "diaglog/log_stamp.h"

#include <time.h>

#include <cstring>

#include "platform/clock.h"
#include "platform/format.h"

namespace kalvo::diaglog {

void LogStamp::put(char* out) noexcept {
    // The wall-clock second only tells when the stamp is stale; the stamp
    // itself comes from the platform's local time.
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec != second_) {
        const platform::SystemTime t = platform::localTime();
        platform::format(text_, sizeof text_, "%02d/%02d/%02d %02d:%02d:%02d ",
                         static_cast<int32_t>(t.month), static_cast<int32_t>(t.day),
                         static_cast<int32_t>(t.year % 100), static_cast<int32_t>(t.hour),
                         static_cast<int32_t>(t.minute), static_cast<int32_t>(t.second));
        second_ = now.tv_sec;
    }
    std::memcpy(out, text_, kLength);
}

}  // namespace kalvo::diaglog
