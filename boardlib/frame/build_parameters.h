// What differs between the three builds of the board library: names, the
// device behind it, the board numbers it serves, the bus width into the board
// window and the word size of its device client. Everything else (the calls,
// codes, log texts, window layout and protocols) is one source.
//
// A build selects its set by name: KALVO_BOARDLIB_BUILD_DUALMASTER,
// KALVO_BOARDLIB_BUILD_PCIMASTER64 or KALVO_BOARDLIB_BUILD_CARDMASTER.
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
    .wordSize = 32,
    .boardName = "PCI-DLM-02",
    .dllName = "Dualmaster.dll",
    .shortName = "Dualmaster",
    .iniName = "Dualmaster.ini",
    .logBase = "DualmasterLog",
    .logIni = "DualmasterLog.ini",
    .logMap = "DualmasterLog.Map",
    .startBanner = "------------------- Dualmaster.dll Service Start -------------------",
    .stopBanner = "------------------- Dualmaster.dll Service Stop -------------------",
    .objectPrefix = "KVMBrd",
    .deviceBase = "\\\\.\\KVMDRV",
    .scanInstances = true,
    .boardCount = 4,
    .busWidth = 4,
    .access64 = false,
    .defaultLogLevel = 0,
};

inline constexpr BuildParameters kPcimaster64{
    .wordSize = 64,
    .boardName = "PCI-Kalvo-MST-01",
    .dllName = "Pcimaster64.dll",
    .shortName = "Pcimaster64",
    .iniName = "Pcimaster64.ini",
    .logBase = "Pcimaster64Log",
    .logIni = "Pcimaster64Log.ini",
    .logMap = "Pcimaster64Log.Map",
    .startBanner = "------------------- Pcimaster64.dll Service Start -------------------",
    .stopBanner = "------------------- Pcimaster64.dll Service Stop -------------------",
    .objectPrefix = "Kalvo1Brd",
    .deviceBase = "\\\\.\\tolva",
    .scanInstances = true,
    .boardCount = 4,
    .busWidth = 4,
    .access64 = true,
    .defaultLogLevel = 0,
};

inline constexpr BuildParameters kCardmaster{
    .wordSize = 32,
    .boardName = "PCC-Kalvo-MST",
    .dllName = "Cardmaster.dll",
    .shortName = "Cardmaster",
    .iniName = "Cardmaster.ini",
    .logBase = "CardmasterLog",
    .logIni = "CardmasterLog.ini",
    .logMap = "CardmasterLog.Map",
    .startBanner = "------------------- Cardmaster.dll Service Start -------------------",
    .stopBanner = "------------------- Cardmaster.dll Service Stop -------------------",
    .objectPrefix = "CardmasterBrd",
    .deviceBase = "\\\\.\\Cardmaster",
    .scanInstances = false,
    .boardCount = 2,
    .busWidth = 2,
    .access64 = false,
    .defaultLogLevel = 0,
};

#if defined(KALVO_BOARDLIB_BUILD_DUALMASTER)
inline constexpr const BuildParameters& kBuild = kDualmaster;
#elif defined(KALVO_BOARDLIB_BUILD_PCIMASTER64)
inline constexpr const BuildParameters& kBuild = kPcimaster64;
#elif defined(KALVO_BOARDLIB_BUILD_CARDMASTER)
inline constexpr const BuildParameters& kBuild = kCardmaster;
#else
#error "define one of KALVO_BOARDLIB_BUILD_DUALMASTER, _PCIMASTER64 or _CARDMASTER"
#endif

// Every build drives one line per board; the per-line records keep room for two.
inline constexpr int32_t kMaxLine = 1;
inline constexpr int32_t kLineSlots = 2;
inline constexpr int32_t kMaxBoards = 4;
inline constexpr const char* kVersion = "1.3.0.0";

}  // namespace kalvo::boardlib
