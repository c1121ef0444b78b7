// The configuration tool's records of the ini sections it writes and reads
// back. Field names follow the keys; the defaults are the tool's read
// defaults, so a default-constructed record is what reading an absent
// section gives.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kalvo::configfiles {

// Lines kept per board in the tool's records (the model uses line 1 only).
inline constexpr int kRecLines = 2;
// Modules per station, each with a "Unit_%d" and a "Code_%d" key.
inline constexpr int kStationModules = 4;

// One "BOARD_%d" section of Kalvo.ini. Element i of each array is line i + 1.
struct TKVIniBoardRec {
    std::string Kind = "MRMST01";
    int32_t LineMax = 1;
    std::array<int32_t, kRecLines> StaAdd{0, 0};
    std::array<int32_t, kRecLines> StaSize{32, 32};
    std::array<int32_t, kRecLines> BusSize{4, 4};
    std::array<int32_t, kRecLines> Baudrate{-1, -1};   // Mbit/s: 3, 6, 12; -1 not set
    std::array<int32_t, kRecLines> LongFrame{-1, -1};  // 0 or 1; -1 not set
};

// One unit section ("DIO_3", "ADA_1", ...) of Kalvo.ini.
struct TKVIniStlRec {
    int32_t Board = -1;  // 1-based; -1 ends the tool's scan of a unit type
    int32_t Line = 0;    // 1-based
    int32_t Base = 0;    // station address 0-31
    std::string Offset;  // comma-separated slot indexes, "0,1,2"
    std::string Kind;    // written only when not empty
};

// One "CTR_%d_%d_%d" station section of Kalvo.ini: the tool's own record of
// every station address.
struct TKVSIniCtrRec {
    int32_t MstFlg = 2;  // 1 head, 0 continuation address, 2 empty address
    std::array<std::string, kStationModules> Unit;  // model code of module 1-4
    std::array<std::string, kStationModules> Code;  // its code number, decimal
};

// One board's entry in its board library's own ini, collected while saving.
struct TKVDllIniInfo {
    std::string LibName;
    int32_t BoardIndex = 0;  // library instance number: section "BOARD_%d"
    int32_t LineCount = 0;
    std::array<int32_t, kRecLines> Baudrate{-1, -1};  // element j is "Baudrate_<j>"
    std::array<int32_t, kRecLines> LongFrame{-1, -1};
};

}  // namespace kalvo::configfiles
