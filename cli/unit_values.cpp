#include "cli/unit_values.h"

#include <cstdio>

namespace kalvo::cli {

std::string unitValues(KalvoLibrary& library, const UnitEntry& unit) {
    char text[200];
    const int32_t words = static_cast<int32_t>(offsetsOf(unit.placement).size());
    if (unit.family == "DIO") {
        uint16_t in = 0, out = 0;
        library.KV_DIO_InData(unit.number, &in);
        library.KV_DIO_InOData(unit.number, &out);
        std::snprintf(text, sizeof text, "in 0x%04X out 0x%04X", in, out);
        return text;
    }
    if (unit.family == "ADA") {
        std::string values = "in";
        for (int32_t c = 1; c <= words; ++c) {
            int32_t value = 0;
            library.KV_ADA_InValue(unit.number, c, &value);
            values += (c == 1 ? " " : ",") + std::to_string(value);
        }
        return values;
    }
    if (unit.family == "AXSA") {
        uint16_t status = 0;
        int32_t data = 0;
        const int32_t ret = library.KV_AXSA_GetStatus(unit.number, 1, &status, &data);
        std::snprintf(text, sizeof text, "job 1 status 0x%04X data %d%s", status, data,
                      ret == 0 ? "" : " (not settled)");
        return text;
    }
    std::snprintf(text, sizeof text, "%d channel(s)", words / 4);
    return text;
}

}  // namespace kalvo::cli
