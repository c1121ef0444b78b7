// Where a simulated network comes from: a configuration folder (the
// configuration tool's Kalvo.ini with ModelTbl.ini), so that exactly the
// configured stations answer, or the host's own network file.
//
// Configuration folder
// --------------------
// Kalvo.ini's board sections "Board_1".."Board_<n>" name the board library
// by "Kind". The API library gives each board the library instance number
// k = number of earlier boards of the same Kind, and the board library opens
// the device whose board ID word is k. So board n maps to the simulated
// board of the matching kind (Pcimaster64 -> "tolva", Dualmaster ->
// "kvmdrv", Cardmaster -> "cardmaster") whose ID word is k, or, when no
// board carries that ID, to the k-th board of that kind. A Kind without a
// simulated board (or without a matching simulated board) is an error.
//
// Stations come from the tool's station sections "CTR_<board>_1_<address>":
// MstFlg 1 starts a station, MstFlg 0 continues the station before it (one
// more address), MstFlg 2 is an empty address. The module codes "Unit_0".."Unit_3"
// are looked up in ModelTbl.ini (by model text and "Code_%d" number, as the
// tool does) and shown as "CODE(TYPE)", unknown codes as written, unused
// modules not at all. Units come from every section named "<FAMILY>_<n>"
// (n 1..1024) of the families DIO, ADA, AXSA and SIO; ENC, ENCA and RFID
// sections give stations only (the simulation has no unit behaviour for
// them). A unit whose base address no station covers gets a station of its
// own, as many addresses long as its offsets reach (4 words an address), so
// a hand-written Kalvo.ini without station sections works too.
//
// Mail echo stations, which the configuration tool does not know, may be
// listed in an optional section that no library reads:
//   [Simulation]
//   Echo_1 = 5, 7      ; board number 1: stations 5 and 7 echo every mail
// An echo address without a station gets one ("echo").
//
// Network file
// ------------
// A line-oriented text; '#' or ';' starts a comment, blank lines are
// ignored, words are separated by blanks:
//   [board 0]                        the simulated board by index (0-based)
//   station 5 echo                   address, then options:
//   station 3 model=DIO16 addresses=2   model=TEXT (shown in lists),
//                                       addresses=N (1..32), echo
//   unit DIO_1 station=3 offsets=0,1 kind=DIO
//                                    FAMILY_N (DIO, ADA, AXSA, SIO; N 1..1024),
//                                    station= the base address, which a
//                                    station listed before must cover;
//                                    offsets= word offsets 0..15; kind= optional;
//                                    hold: outputs stay when the
//                                    communication watchdog fires;
//                                    left=WORD: the board is as an earlier
//                                    host left it, its line running with
//                                    this output word (see network.h)
// Parsing is strict: anything else is an error naming the line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/board_set.h"
#include "sim/network/network.h"

namespace kalvo::sim {

// The simulated kind that serves a board library ("Pcimaster64" -> "tolva"),
// matched without regard to case; empty for a library without one.
std::string simulatedKindOfLibrary(std::string_view library);

// The board set a configuration folder needs: one board per board section,
// of the section's kind, with the library instance number as ID word.
// Nothing, with the reason in *error, when Kalvo.ini is missing or names a
// kind that cannot be simulated.
std::vector<BoardSpec> boardsOfConfigurationFolder(const std::string& dir, std::string* error);

// The network of a configuration folder on the given simulated boards.
// modelTable: ModelTbl.ini to use; empty for the one beside Kalvo.ini (a
// missing model table only leaves the model texts as written). On error
// *error holds the reason and the result is empty.
NetworkDescription loadConfigurationFolder(const std::string& dir,
                                           const std::vector<BoardSpec>& boards, std::string* error,
                                           const std::string& modelTable = {});

// The network file's text form (see above); errors name "line N".
NetworkDescription parseNetworkText(std::string_view text, std::string* error);
// One "station ..." or "unit ..." line on its own: its syntax and ranges,
// without the checks that need the rest of the board (overlaps, a station
// for the unit). Used for stations and units added while the line runs.
bool parseStationLine(std::string_view line, StationDescription* station, std::string* error);
bool parseUnitLine(std::string_view line, UnitDescription* unit, std::string* error);

// The file at path; errors name "path:N".
NetworkDescription loadNetworkFile(const std::string& path, std::string* error);
// The file text of a description; parseNetworkText reads it back the same.
std::string formatNetworkText(const NetworkDescription& spec);

// A folder (with Kalvo.ini) or a network file, chosen by what path is.
NetworkDescription loadNetworkDescription(const std::string& path,
                                          const std::vector<BoardSpec>& boards, std::string* error);

}  // namespace kalvo::sim
