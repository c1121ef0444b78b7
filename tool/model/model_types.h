// The configuration tool's network model: its fixed dimensions, the records
// of boards, stations, logical-ID slots and models, and the three constant
// tables (board kinds, unit types, station types) that give it its words.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kalvo::tool {

inline constexpr int kBoardSlots = 4;
inline constexpr int kLines = 1;                 // lines per board in the network
inline constexpr int kSettingLines = 2;          // lines kept in a board's settings
inline constexpr int kAddresses = 32;            // station addresses per line
inline constexpr int kModules = 4;               // modules per station
inline constexpr int kSlots = 16;                // logical-ID slots per station
inline constexpr int kSlotRecords = kSlots + 1;  // plus a terminating, always empty slot
inline constexpr int kIdsPerAddress = 4;         // logical IDs per station address
inline constexpr int kUnitTypes = 9;
inline constexpr int kStationTypes = 7;
inline constexpr int kBoardKinds = 5;

// Text of model-list entry 0 and of a module place without a module.
inline constexpr std::string_view kUnusedText = "\xE6\x9C\xAA\xE4\xBD\xBF\xE7\x94\xA8";  // 未使用
// Label of a logical ID shared by an input and an output analogue unit.
inline constexpr std::string_view kInputModel = "QMSA40*";
inline constexpr std::string_view kOutputModel = "QMSA04*";
inline constexpr std::string_view kSharedLabel = "QMSA40* + QMSA04*";
// A module that ends a station's module list.
inline constexpr std::string_view kLastModule = "QMSC20*";

// One row of the board-kind table.
struct TBoardRec {
    std::string_view LibName;  // board library: "Kind" of the board section, "<LibName>.ini"
    std::string_view Caption;
    int32_t LineSettings = 0;  // 1: baud rate and long frame are chosen and written
    int32_t Reserved = 0;
    int32_t LineMax = 0;  // 0 marks the "not used" row
};
const std::array<TBoardRec, kBoardKinds>& boardKinds();

// Unit types: 0 "NEW", 1 "DIO", 2 "ADA", 3 "AXSA", 4 "ENC", 5 "ENCA", 6 "SIO",
// 7 "RFID", 8 "SUB".
const std::array<std::string_view, kUnitTypes>& unitTypeNames();
// Row of a unit-type name (case-sensitive), -1 for none.
int unitTypeIndex(std::string_view name);

enum StationType : int32_t {
    kStaNew = 0,
    kStaMst = 1,
    kStaAxs2 = 2,
    kStaAxs4 = 3,
    kStaRfid2 = 4,
    kStaRfid3 = 5,
    kStaSub = 6,
};
// "NEW", "MST", "AXS2", "AXS4", "RFID2", "RFID3", "SUB".
const std::array<std::string_view, kStationTypes>& stationTypeNames();
// Addresses a station of the type occupies (NEW and SUB: 0); 0 for an
// unknown type.
int32_t stationAddressCount(int32_t staType);
// Row of a station-type name (case-insensitive), -1 for none.
int stationTypeIndex(std::string_view name);

// One model of ModelTbl.ini.
struct TUnitTypeInfoRec {
    std::string Model = "--";
    std::string Name = "--";
    std::string Type = "NON";
    int32_t Code = 0;  // unit code byte of KalvoConfig.dat, "Code_%d" of Kalvo.ini
    int32_t Id = 0;    // IDs of the unit
    int32_t Ch = 0;    // channels per ID
    int32_t Board = 0;
    std::string Series;
};

// One entry of the model list.
struct TStlInfoRec {
    std::string Name;        // unit-type name; "NEW" for entry 0
    std::string ModelCode;   // model text; 未使用 for entry 0
    int32_t SlotCount = 0;   // logical-ID slots of one unit in a station layout
    int32_t RowCount = 0;    // rows of one unit in the station dialog
    int32_t ModelIndex = 0;  // position in its unit type's list
    TUnitTypeInfoRec Info;
};

// One logical-ID slot of a station.
struct TKVStlRec {
    int32_t Unit = 0;  // model-list index; 0 = empty
    TStlInfoRec Info;
    TStlInfoRec Info2;  // the entry named by the slot's dialog label
    int32_t Seq = 0;    // unit number within its unit type (DIO_3: 3)
    int32_t SlotNo = -1;
};

// One station address of a line.
struct TStaAddRec {
    int32_t StaType = kStaNew;
    int32_t StaAddr = -1;  // the station's head address; own address when empty
    bool Head = true;      // first address of a station, or an empty address
    int32_t AddrCount = 0;
    std::array<int32_t, kModules> Module{};  // model-list indexes; 0 = none
    std::array<TKVStlRec, kSlotRecords> Slot;
};

struct TLineSetRec {
    int32_t Baudrate = 0;   // Mbit/s 3, 6, 12; 0 when not set
    int32_t LongFrame = 0;  // 0 or 1; -1 when nothing is chosen
};

// Settings of one board slot.
struct TBoardSetRec {
    int32_t BoardNo = 0;  // 1-4 counted over the used slots; 0 = not used
    int32_t Kind = 0;     // board-kind row
    int32_t LineCount = 0;
    std::array<TLineSetRec, kSettingLines> Line{};
};

using BoardSettings = std::array<TBoardSetRec, kBoardSlots>;
using LineRecords = std::array<TStaAddRec, kAddresses>;
// Board slot, line, address.
using Network = std::array<std::array<LineRecords, kLines>, kBoardSlots>;

}  // namespace kalvo::tool
