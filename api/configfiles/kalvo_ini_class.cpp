#include "api/configfiles/kalvo_ini_class.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "api/configfiles/ini_file_io.h"

namespace kalvo::configfiles {

namespace {

constexpr std::string_view kToolSection = "KALVO";

std::string numbered(std::string_view prefix, int32_t n) {
    std::string name(prefix);
    name += std::to_string(n);
    return name;
}

// The profile rule, as the libraries read the same keys: the leading
// decimal number (sign allowed) accumulated in 32 bits, so an out-of-range
// number wraps exactly as it does for them; the default when there is none.
int32_t profileInteger(std::string_view text, int32_t defaultValue) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return defaultValue;
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

bool breaksLine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Lines written per board section: the record keeps two.
int32_t linesOf(int32_t lineMax) {
    return std::clamp<int32_t>(lineMax, 0, kRecLines);
}

}  // namespace

TKalvoIniClass::TKalvoIniClass(std::string fileName) : fileName_(std::move(fileName)) {
    std::string content;
    switch (readWholeFile(fileName_, content)) {
        case ReadResult::ok:
            document_ = kalvo::platform::IniDocument::parse(content);
            break;
        case ReadResult::missing:
            break;
        case ReadResult::failed:
            readFailed_ = true;
            break;
    }
}

TKalvoIniClass TKalvoIniClass::createEmpty(std::string fileName) {
    TKalvoIniClass ini;
    ini.fileName_ = std::move(fileName);
    return ini;
}

bool TKalvoIniClass::updateFile() {
    if (readFailed_) {
        errno = EIO;
        return false;
    }
    return replaceFile(fileName_, document_.serialize());
}

int32_t TKalvoIniClass::readInteger(std::string_view section, std::string_view key,
                                    int32_t defaultValue) const {
    std::optional<std::string> value = document_.get(section, key);
    return value ? profileInteger(*value, defaultValue) : defaultValue;
}

std::string TKalvoIniClass::readString(std::string_view section, std::string_view key,
                                       std::string_view defaultValue) const {
    std::optional<std::string> value = document_.get(section, key);
    return value ? std::move(*value) : std::string(defaultValue);
}

bool TKalvoIniClass::writeInteger(std::string_view section, std::string_view key, int32_t value) {
    return writeString(section, key, std::to_string(value));
}

bool TKalvoIniClass::writeString(std::string_view section, std::string_view key,
                                 std::string_view value) {
    // A line break would end the line early and let the rest of the text
    // pose as further keys or sections of the file.
    if (breaksLine(section) || breaksLine(key) || breaksLine(value)) return false;
    if (section.find(']') != std::string_view::npos) return false;
    if (key.find('=') != std::string_view::npos) return false;
    // A key line starting with '[' reads as a section, one with ';' as a comment.
    size_t first = key.find_first_not_of(" \t");
    if (first != std::string_view::npos && (key[first] == '[' || key[first] == ';')) return false;
    document_.set(section, key, value);
    return true;
}

int32_t TKalvoIniClass::readToolMark() const {
    return readInteger(kToolSection, "ConfigTool", 0);
}

bool TKalvoIniClass::writeToolMark(int32_t value) {
    return writeInteger(kToolSection, "ConfigTool", value);
}

int32_t TKalvoIniClass::readBoardCount() const {
    return readInteger(kToolSection, "Board", 1);
}

bool TKalvoIniClass::writeBoardCount(int32_t count) {
    return writeInteger(kToolSection, "Board", count);
}

TKVIniBoardRec TKalvoIniClass::readBoard(int32_t boardNo) const {
    const std::string section = numbered("BOARD_", boardNo);
    TKVIniBoardRec rec;
    rec.Kind = readString(section, "Kind", "MRMST01");
    rec.LineMax = readInteger(section, "LineMax", 1);
    for (int l = 0; l < kRecLines; ++l) {
        const int32_t line = l + 1;
        rec.StaAdd[l] = readInteger(section, numbered("StaAdd_", line), 0);
        rec.StaSize[l] = readInteger(section, numbered("StaSize_", line), 32);
        rec.BusSize[l] = readInteger(section, numbered("BusSize_", line), 4);
        rec.Baudrate[l] = readInteger(section, numbered("Baudrate_", line), -1);
        rec.LongFrame[l] = readInteger(section, numbered("LongFrame_", line), -1);
    }
    return rec;
}

bool TKalvoIniClass::writeBoard(int32_t boardNo, const TKVIniBoardRec& rec) {
    const std::string section = numbered("BOARD_", boardNo);
    bool ok = writeString(section, "Kind", rec.Kind);
    ok = writeInteger(section, "LineMax", rec.LineMax) && ok;
    for (int l = 0; l < linesOf(rec.LineMax); ++l) {
        const int32_t line = l + 1;
        ok = writeInteger(section, numbered("StationAddr_", line), rec.StaAdd[l]) && ok;
        ok = writeInteger(section, numbered("StationSize_", line), rec.StaSize[l]) && ok;
        if (rec.Baudrate[l] != -1) {
            ok = writeInteger(section, numbered("Baudrate_", line), rec.Baudrate[l]) && ok;
        }
        if (rec.LongFrame[l] != -1) {
            ok = writeInteger(section, numbered("LongFrame_", line), rec.LongFrame[l]) && ok;
        }
    }
    return ok;
}

TKVIniStlRec TKalvoIniClass::readUnit(std::string_view section) const {
    TKVIniStlRec rec;
    rec.Board = readInteger(section, "Board", -1);
    rec.Line = readInteger(section, "Line", 0);
    rec.Base = readInteger(section, "Base", 0);
    rec.Offset = readString(section, "Offset", "");
    rec.Kind = readString(section, "Kind", "");
    return rec;
}

bool TKalvoIniClass::writeUnit(std::string_view section, const TKVIniStlRec& rec) {
    bool ok = writeInteger(section, "Board", rec.Board);
    ok = writeInteger(section, "Line", rec.Line) && ok;
    ok = writeInteger(section, "Base", rec.Base) && ok;
    ok = writeString(section, "Offset", rec.Offset) && ok;
    if (!rec.Kind.empty()) ok = writeString(section, "Kind", rec.Kind) && ok;
    return ok;
}

TKVSIniCtrRec TKalvoIniClass::readStation(int32_t boardNo, int32_t lineNo, int32_t address) const {
    const std::string section = stationSectionName(boardNo, lineNo, address);
    TKVSIniCtrRec rec;
    rec.MstFlg = readInteger(section, "MstFlg", 2);
    for (int m = 0; m < kStationModules; ++m) {
        rec.Unit[m] = readString(section, numbered("Unit_", m), "");
        rec.Code[m] = readString(section, numbered("Code_", m), "");
    }
    return rec;
}

bool TKalvoIniClass::writeStation(int32_t boardNo, int32_t lineNo, int32_t address,
                                  const TKVSIniCtrRec& rec) {
    const std::string section = stationSectionName(boardNo, lineNo, address);
    bool ok = writeInteger(section, "MstFlg", rec.MstFlg);
    for (int m = 0; m < kStationModules; ++m) {
        ok = writeString(section, numbered("Unit_", m), rec.Unit[m]) && ok;
        ok = writeString(section, numbered("Code_", m), rec.Code[m]) && ok;
    }
    return ok;
}

bool TKalvoIniClass::writeLineSettings(const TKVDllIniInfo& entry) {
    const std::string section = numbered("BOARD_", entry.BoardIndex);
    bool ok = true;
    for (int j = 0; j < linesOf(entry.LineCount); ++j) {
        if (entry.Baudrate[j] != -1) {
            ok = writeInteger(section, numbered("Baudrate_", j), entry.Baudrate[j]) && ok;
        }
        if (entry.LongFrame[j] != -1) {
            ok = writeInteger(section, numbered("LongFrame_", j), entry.LongFrame[j]) && ok;
        }
    }
    return ok;
}

std::string stationSectionName(int32_t boardNo, int32_t lineNo, int32_t address) {
    return "CTR_" + std::to_string(boardNo) + "_" + std::to_string(lineNo) + "_" +
           std::to_string(address);
}

}  // namespace kalvo::configfiles
