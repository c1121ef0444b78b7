#include "tool/model/model_types.h"

#include <cctype>

namespace kalvo::tool {

const std::array<TBoardRec, kBoardKinds>& boardKinds() {
    static const std::array<TBoardRec, kBoardKinds> kinds{{
        {"", kUnusedText, 0, 0, 0},
        {"Pcimaster64", "1L Kalvo PCI", 0, 0, 1},
        {"Dualmaster", "1L Mirel/Kalvo PCI", 0, 0, 1},
        {"Cardmaster", "1L Kalvo PC Card", 1, 0, 1},
        // "…拡張ﾕﾆｯﾄ": extension unit, in half-width katakana.
        {"KV40MST",
         "1L Kalvo Mirapanel\xE6\x8B\xA1\xE5\xBC\xB5\xEF\xBE\x95\xEF\xBE\x86\xEF\xBD\xAF\xEF\xBE"
         "\x84",
         1, 0, 1},
    }};
    return kinds;
}

const std::array<std::string_view, kUnitTypes>& unitTypeNames() {
    static const std::array<std::string_view, kUnitTypes> names{
        "NEW", "DIO", "ADA", "AXSA", "ENC", "ENCA", "SIO", "RFID", "SUB"};
    return names;
}

int unitTypeIndex(std::string_view name) {
    for (int i = 0; i < kUnitTypes; ++i)
        if (unitTypeNames()[size_t(i)] == name) return i;
    return -1;
}

const std::array<std::string_view, kStationTypes>& stationTypeNames() {
    static const std::array<std::string_view, kStationTypes> names{"NEW",   "MST",   "AXS2", "AXS4",
                                                                   "RFID2", "RFID3", "SUB"};
    return names;
}

int32_t stationAddressCount(int32_t staType) {
    static constexpr std::array<int32_t, kStationTypes> counts{0, 1, 2, 4, 2, 3, 0};
    return staType >= 0 && staType < kStationTypes ? counts[size_t(staType)] : 0;
}

int stationTypeIndex(std::string_view name) {
    for (int i = 0; i < kStationTypes; ++i) {
        std::string_view n = stationTypeNames()[size_t(i)];
        if (n.size() != name.size()) continue;
        bool same = true;
        for (size_t c = 0; c < n.size(); ++c)
            same = same && std::toupper(static_cast<unsigned char>(name[c])) == n[c];
        if (same) return i;
    }
    return -1;
}

}  // namespace kalvo::tool
