#include "sim/description/description_checks.h"

namespace kalvo::sim {

bool parseInteger(std::string_view text, int64_t min, int64_t max, int64_t* value) {
    if (text.empty() || text.size() > 9) return false;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < min || v > max) return false;
    *value = v;
    return true;
}

bool isUnitFamily(std::string_view family) {
    return family == "DIO" || family == "ADA" || family == "AXSA" || family == "SIO";
}

bool parseUnitName(std::string_view name, std::string* family, int32_t* number) {
    size_t underscore = name.rfind('_');
    if (underscore == std::string_view::npos) return false;
    int64_t n = 0;
    if (!isUnitFamily(name.substr(0, underscore)) ||
        !parseInteger(name.substr(underscore + 1), 1, 1024, &n))
        return false;
    *family = std::string(name.substr(0, underscore));
    *number = int32_t(n);
    return true;
}

bool parseOffsets(std::string_view text, std::vector<int>* offsets) {
    std::vector<int> list;
    size_t pos = 0;
    for (;;) {
        size_t comma = text.find(',', pos);
        std::string_view field = text.substr(
            pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        int64_t v = 0;
        if (!parseInteger(field, 0, kMaxUnitOffsets - 1, &v)) return false;
        list.push_back(int(v));
        if (list.size() > size_t(kMaxUnitOffsets)) return false;
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    *offsets = std::move(list);
    return true;
}

const StationDescription* stationCovering(const BoardNetwork& board, int32_t address) {
    for (const StationDescription& s : board.stations)
        if (address >= s.address && address < s.address + s.addressCount) return &s;
    return nullptr;
}

bool checkStation(const BoardNetwork& board, const StationDescription& station, std::string* why) {
    if (station.address < 0 || station.address >= kLineAddresses || station.addressCount < 1 ||
        station.address + station.addressCount > kLineAddresses) {
        *why = "station " + std::to_string(station.address) + " with " +
               std::to_string(station.addressCount) +
               " address(es) does not fit on the line (0-31)";
        return false;
    }
    for (const StationDescription& s : board.stations) {
        if (station.address < s.address + s.addressCount &&
            s.address < station.address + station.addressCount) {
            *why = "station " + std::to_string(station.address) + " overlaps station " +
                   std::to_string(s.address);
            return false;
        }
    }
    return true;
}

}  // namespace kalvo::sim
