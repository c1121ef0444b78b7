// The device host's board set text ("--boards"): any bytes either give a set
// that formats to a text giving the same set, or say why not.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/board_set.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kalvo::sim;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto boards = parseBoardSet(text, &error);
    if (!boards) {
        if (error.empty()) std::abort();  // a refusal says why
        return 0;
    }
    std::string formatted = formatBoardSet(*boards);
    std::string again;
    auto reread = parseBoardSet(formatted, &again);
    if (!reread || *reread != *boards) {
        std::fprintf(stderr, "board set fuzz: \"%s\" does not read back: %s\n", formatted.c_str(),
                     again.c_str());
        std::abort();
    }
    return 0;
}
