#include "api/configfiles/kalvo_ini_reader.h"

#include "platform/profile.h"

namespace kalvo::configfiles {

namespace platform = kalvo::platform;

namespace {

std::string numbered(std::string_view prefix, int32_t n) {
    std::string name(prefix);
    name += std::to_string(n);
    return name;
}

// A text key read into a buffer of kMaxProfileText + 1 bytes, as the library
// has always read them.
std::string readText(const std::string& file, std::string_view section, std::string_view key,
                     std::string_view defaultValue) {
    char buffer[kMaxProfileText + 1];
    uint32_t n =
        platform::profileGetString(file, section, key, defaultValue, buffer, sizeof buffer);
    return std::string(buffer, n < sizeof buffer ? n : sizeof buffer - 1);
}

}  // namespace

std::string kalvoIniFileName() {
    std::string full = platform::fullPathName("Kalvo.ini");
    return full.empty() ? std::string("Kalvo.ini") : full;
}

int32_t readBoardCount(const std::string& file) {
    return platform::profileGetInt(file, "Kalvo", "Board", 0);
}

KalvoBoardSection readBoardSection(const std::string& file, int32_t board) {
    KalvoBoardSection s;
    const std::string section = numbered("Board_", board);
    s.kind = readText(file, section, "Kind", "");
    for (int l = 0; l < kBoardSectionLines; ++l) {
        const int32_t line = l + 1;
        s.stationAddr[l] =
            platform::profileGetInt(file, section, numbered("StationAddr_", line), -1);
        s.stationSize[l] =
            platform::profileGetInt(file, section, numbered("StationSize_", line), -1);
        s.byteBusSize[l] =
            platform::profileGetInt(file, section, numbered("ByteBusSize_", line), 4);
        s.timeOutTimes[l] =
            platform::profileGetInt(file, section, numbered("TimeOutTimes_", line), 1);
    }
    return s;
}

KalvoUnitSection readUnitSection(const std::string& file, std::string_view family, int32_t unit) {
    std::string section(family);
    section += '_';
    section += std::to_string(unit);
    return readUnitSection(file, section);
}

KalvoUnitSection readUnitSection(const std::string& file, std::string_view section) {
    KalvoUnitSection s;
    s.board = platform::profileGetInt(file, section, "Board", -1);
    s.line = platform::profileGetInt(file, section, "Line", -1);
    s.base = platform::profileGetInt(file, section, "Base", -1);
    s.offsets = parseOffsetList(readText(file, section, "Offset", "-1"));
    s.kind = readText(file, section, "Kind", "");
    return s;
}

}  // namespace kalvo::configfiles
