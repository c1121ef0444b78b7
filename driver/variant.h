// The parameter set of one driver build. The same source serves three
// board kinds: the PCI master board ("Tolva"), and the two boards whose own
// drivers this project stands in for (the dual board behind "KVMDRV<n>" and
// the PC-card board behind "Cardmaster<n>"). They differ only in the names
// they register and in which map request block forms they accept.
#pragma once

namespace tolva {

enum class MapBlockForms {
    // A driver built for a 32-bit system: only the 12-byte block.
    ThirtyTwoBitOnly,
    // A driver built for a 64-bit system: the 24-byte block from 64-bit
    // callers, the 12-byte block from 32-bit callers.
    ByCallerWordSize,
};

struct DriverVariant {
    const char16_t* deviceBaseName;  // "\Device\<name><n>" and "\DosDevices\<name><n>"
    MapBlockForms mapForms;
};

// A build selects its set by name: KALVO_DRIVER_BUILD_TOLVA,
// KALVO_DRIVER_BUILD_KVMDRV or KALVO_DRIVER_BUILD_CARDMASTER.
#if defined(KALVO_DRIVER_BUILD_TOLVA)
inline constexpr DriverVariant kVariant{.deviceBaseName = u"Tolva",
                                        .mapForms = MapBlockForms::ByCallerWordSize};
#elif defined(KALVO_DRIVER_BUILD_KVMDRV)
inline constexpr DriverVariant kVariant{.deviceBaseName = u"KVMDRV",
                                        .mapForms = MapBlockForms::ThirtyTwoBitOnly};
#elif defined(KALVO_DRIVER_BUILD_CARDMASTER)
inline constexpr DriverVariant kVariant{.deviceBaseName = u"Cardmaster",
                                        .mapForms = MapBlockForms::ByCallerWordSize};
#else
#error "define one of KALVO_DRIVER_BUILD_TOLVA, _KVMDRV or _CARDMASTER"
#endif

// Instance numbers 0..9: a board takes the first one whose names are free.
inline constexpr int kMaxInstances = 10;

}  // namespace tolva
