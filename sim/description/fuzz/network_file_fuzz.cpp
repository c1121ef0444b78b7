// The device host's network file: any bytes as its text. A text that parses
// formats to a text that parses to the same description (formatted again, it
// is the same text); one that does not parse says why. Each line also goes
// through the single-line readers used while the line runs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/description/network_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kalvo::sim;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    NetworkDescription spec = parseNetworkText(text, &error);
    if (error.empty()) {
        std::string formatted = formatNetworkText(spec);
        std::string again;
        NetworkDescription reread = parseNetworkText(formatted, &again);
        if (!again.empty() || formatNetworkText(reread) != formatted) {
            std::fprintf(stderr, "network fuzz: the formatted text does not read back: %s\n%s",
                         again.c_str(), formatted.c_str());
            std::abort();
        }
    }
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
        StationDescription station;
        UnitDescription unit;
        std::string lineError;
        parseStationLine(line, &station, &lineError);
        parseUnitLine(line, &unit, &lineError);
        if (nl == std::string_view::npos) break;
        pos = nl + 1;
    }
    return 0;
}
