// TKalvoIniClass: the configuration tool's in-memory profile file. It reads
// its file whole when it is opened, is changed in memory by the readers and
// writers of the section kinds of Kalvo.ini (and the board library ini's line
// settings), and writes the file whole by an explicit updateFile(). Names
// match without regard to case and values follow the private-profile rules,
// so what the tool writes is what the libraries read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "api/configfiles/ini_records.h"
#include "platform/profile.h"

namespace kalvo::configfiles {

class TKalvoIniClass {
  public:
    // Opens fileName: its content is read when the file exists; a missing
    // file gives an empty object.
    explicit TKalvoIniClass(std::string fileName);
    // An empty object on fileName; whatever the file holds is replaced by
    // the next updateFile().
    static TKalvoIniClass createEmpty(std::string fileName);

    const std::string& fileName() const { return fileName_; }
    // The file exists but could not be read. updateFile() then refuses to
    // write, since it would drop the sections it never saw.
    bool readFailed() const { return readFailed_; }
    // Writes the whole object to the file (replacing it at once). False, with
    // errno set, when nothing was written.
    bool updateFile();

    // Section "KALVO": "ConfigTool" (1 = written by the tool; default 0) and
    // "Board" (board count; default 1).
    int32_t readToolMark() const;
    bool writeToolMark(int32_t value);
    int32_t readBoardCount() const;
    bool writeBoardCount(int32_t count);

    // Section "BOARD_%d" with the 1-based board number. Reading takes the
    // tool's own names of the line values ("StaAdd_%d", "StaSize_%d",
    // "BusSize_%d"); writing writes "Kind", "LineMax" and for lines
    // 1..LineMax (at most 2) "StationAddr_%d" and "StationSize_%d", and
    // "Baudrate_%d" / "LongFrame_%d" when not -1. The bus size is not written.
    TKVIniBoardRec readBoard(int32_t boardNo) const;
    bool writeBoard(int32_t boardNo, const TKVIniBoardRec& rec);

    // A unit section named by the caller ("DIO_1"): "Board", "Line", "Base",
    // "Offset", and "Kind" only when not empty.
    TKVIniStlRec readUnit(std::string_view section) const;
    bool writeUnit(std::string_view section, const TKVIniStlRec& rec);

    // Section "CTR_%d_%d_%d" (board number, line number, station address):
    // "MstFlg", "Unit_0".."Unit_3", "Code_0".."Code_3".
    TKVSIniCtrRec readStation(int32_t boardNo, int32_t lineNo, int32_t address) const;
    bool writeStation(int32_t boardNo, int32_t lineNo, int32_t address, const TKVSIniCtrRec& rec);

    // A board library ini: section "BOARD_%d" with the entry's BoardIndex,
    // "Baudrate_%d" and "LongFrame_%d" with the 0-based line index for lines
    // below LineCount, each only when not -1. Other keys stay as they are.
    bool writeLineSettings(const TKVDllIniInfo& entry);

    // Single keys. A missing key gives the default; an integer value is its
    // leading decimal number (sign allowed), the default when there is none.
    // A write whose names or value would not read back as written (a line
    // break or NUL anywhere, ']' in a section name, '=' in a key name, a key
    // starting with '[' or ';') is refused and returns false.
    int32_t readInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    bool writeInteger(std::string_view section, std::string_view key, int32_t value);
    bool writeString(std::string_view section, std::string_view key, std::string_view value);

    const kalvo::platform::IniDocument& document() const { return document_; }

  private:
    TKalvoIniClass() = default;

    std::string fileName_;
    kalvo::platform::IniDocument document_;
    bool readFailed_ = false;
};

// "CTR_<board>_<line>_<address>".
std::string stationSectionName(int32_t boardNo, int32_t lineNo, int32_t address);

}  // namespace kalvo::configfiles
