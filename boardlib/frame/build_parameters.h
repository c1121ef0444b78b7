// What differs between the three builds of the board library: names, the
// device behind it, the board numbers it serves, the bus width into the board
// window and the word size of its device client. Everything else (the calls,
// codes, log texts, window layout and protocols) is one source.
//
// A build selects its set with KALVO_BOARDLIB_VARIANT: 1 Dualmaster, 2
// Pcimaster64, 3 Cardmaster.
#pragma once

#include <cstdint>

namespace kalvo::boardlib {

struct BuildParameters {
    int wordSize;           // 32: 12-byte map block, views below 4 GiB; 64: 24-byte block
    const char* boardName;  // KV_boardname
    const char* dllName;    // KV_dllname
    const char* shortName;  // first value of every call's log line
    const char* iniName;    // the library's own ini
    const char* logBase;    // log base name, log ini, slot map
    const char* logIni;
    const char* logMap;
    const char* startBanner;
    const char* stopBanner;
    const char* objectPrefix;  // named objects and internal log lines; board number appended
    const char* deviceBase;    // device path; instance number appended
    bool scanInstances;        // choose the instance by board ID word, else instance = board
    int32_t boardCount;        // board numbers 0 .. boardCount - 1
    int32_t busWidth;          // bytes per bus access into the window
    bool access64;             // 8-byte window accesses in one access, else two, low word first
    uint32_t defaultLogLevel;
};

inline constexpr BuildParameters kDualmaster{
    32,
    "PCI-DLM-02",
    "Dualmaster.dll",
    "Dualmaster",
    "Dualmaster.ini",
    "DualmasterLog",
    "DualmasterLog.ini",
    "DualmasterLog.Map",
    "------------------- Dualmaster.dll Service Start -------------------",
    "------------------- Dualmaster.dll Service Stop -------------------",
    "KVMBrd",
    "\\\\.\\KVMDRV",
    true,
    4,
    4,
    false,
    0,
};

inline constexpr BuildParameters kPcimaster64{
    64,
    "PCI-Kalvo-MST-01",
    "Pcimaster64.dll",
    "Pcimaster64",
    "Pcimaster64.ini",
    "Pcimaster64Log",
    "Pcimaster64Log.ini",
    "Pcimaster64Log.Map",
    "------------------- Pcimaster64.dll Service Start -------------------",
    "------------------- Pcimaster64.dll Service Stop -------------------",
    "Kalvo1Brd",
    "\\\\.\\tolva",
    true,
    4,
    4,
    true,
    0,
};

inline constexpr BuildParameters kCardmaster{
    32,
    "PCC-Kalvo-MST",
    "Cardmaster.dll",
    "Cardmaster",
    "Cardmaster.ini",
    "CardmasterLog",
    "CardmasterLog.ini",
    "CardmasterLog.Map",
    "------------------- Cardmaster.dll Service Start -------------------",
    "------------------- Cardmaster.dll Service Stop -------------------",
    "CardmasterBrd",
    "\\\\.\\Cardmaster",
    false,
    2,
    2,
    false,
    0,
};

#if KALVO_BOARDLIB_VARIANT == 1
inline constexpr const BuildParameters& kBuild = kDualmaster;
#elif KALVO_BOARDLIB_VARIANT == 2
inline constexpr const BuildParameters& kBuild = kPcimaster64;
#elif KALVO_BOARDLIB_VARIANT == 3
inline constexpr const BuildParameters& kBuild = kCardmaster;
#else
#error "KALVO_BOARDLIB_VARIANT must be 1 (Dualmaster), 2 (Pcimaster64) or 3 (Cardmaster)"
#endif

// Every build drives one line per board; the per-line records keep room for two.
inline constexpr int32_t kMaxLine = 1;
inline constexpr int32_t kLineSlots = 2;
inline constexpr int32_t kMaxBoards = 4;
inline constexpr const char* kVersion = "1.3.0.0";

}  // namespace kalvo::boardlib
