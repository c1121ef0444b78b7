// The time of a host record as kalvo-devctl prints it: UTC to the
// millisecond, "2024-05-01 12:00:00.250 UTC".
#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace kalvo::kernel::host {

inline std::string utcStamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03lld UTC", stamp, static_cast<long long>(millis));
    return text;
}

}  // namespace kalvo::kernel::host
