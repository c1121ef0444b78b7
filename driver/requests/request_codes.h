// Device control codes of the board devices ("\\.\tolva<n>", "\\.\KVMDRV<n>",
// "\\.\Cardmaster<n>"). All three devices serve the same request set, so the
// board library and every driver share these numbers.
#pragma once

#include <cstdint>

namespace kalvo::requests {

// The device type that the driver also gives its device objects.
inline constexpr uint32_t FILE_DEVICE_TOLVA = 0x9902;
// Named apart from the kernel header's CTL_CODE / METHOD_BUFFERED macros, so
// both headers can be included in any order.
inline constexpr uint32_t kMethodBuffered = 0;
inline constexpr uint32_t kFileAnyAccess = 0;

// The Windows device control code layout: type in bits 16-31, required
// access in bits 14-15, function in bits 2-13, transfer method in bits 0-1.
constexpr uint32_t ctlCode(uint32_t deviceType, uint32_t function, uint32_t method,
                           uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
constexpr uint32_t deviceTypeOf(uint32_t code) {
    return code >> 16;
}
constexpr uint32_t accessOf(uint32_t code) {
    return (code >> 14) & 3;
}
constexpr uint32_t functionOf(uint32_t code) {
    return (code >> 2) & 0xFFF;
}
constexpr uint32_t methodOf(uint32_t code) {
    return code & 3;
}

constexpr uint32_t tolvaCode(uint32_t function) {
    return ctlCode(FILE_DEVICE_TOLVA, function, kMethodBuffered, kFileAnyAccess);
}

inline constexpr uint32_t IOCTL_TOLVA_RESET = tolvaCode(0x800);
inline constexpr uint32_t IOCTL_TOLVA_CONNECT = tolvaCode(0x801);
inline constexpr uint32_t IOCTL_TOLVA_DISCONNECT = tolvaCode(0x802);
inline constexpr uint32_t IOCTL_TOLVA_MAP_MEMORY = tolvaCode(0x803);
inline constexpr uint32_t IOCTL_TOLVA_MAIL = tolvaCode(0x804);
inline constexpr uint32_t IOCTL_TOLVA_STATUS = tolvaCode(0x805);
inline constexpr uint32_t IOCTL_TOLVA_NAME = tolvaCode(0x806);
inline constexpr uint32_t IOCTL_TOLVA_OPT2 = tolvaCode(0x807);
inline constexpr uint32_t IOCTL_TOLVA_OPT3 = tolvaCode(0x808);
inline constexpr uint32_t IOCTL_TOLVA_CONNECT_LF = tolvaCode(0x809);
inline constexpr uint32_t IOCTL_TOLVA_CONNECT_GMM = tolvaCode(0x80a);

static_assert(IOCTL_TOLVA_RESET == 0x99022000);
static_assert(IOCTL_TOLVA_CONNECT_GMM == 0x99022028);

// The request's own name for logs and the host tool; null for a code that
// is not one of the eleven.
constexpr const char* requestName(uint32_t code) {
    switch (code) {
        case IOCTL_TOLVA_RESET:
            return "IOCTL_TOLVA_RESET";
        case IOCTL_TOLVA_CONNECT:
            return "IOCTL_TOLVA_CONNECT";
        case IOCTL_TOLVA_DISCONNECT:
            return "IOCTL_TOLVA_DISCONNECT";
        case IOCTL_TOLVA_MAP_MEMORY:
            return "IOCTL_TOLVA_MAP_MEMORY";
        case IOCTL_TOLVA_MAIL:
            return "IOCTL_TOLVA_MAIL";
        case IOCTL_TOLVA_STATUS:
            return "IOCTL_TOLVA_STATUS";
        case IOCTL_TOLVA_NAME:
            return "IOCTL_TOLVA_NAME";
        case IOCTL_TOLVA_OPT2:
            return "IOCTL_TOLVA_OPT2";
        case IOCTL_TOLVA_OPT3:
            return "IOCTL_TOLVA_OPT3";
        case IOCTL_TOLVA_CONNECT_LF:
            return "IOCTL_TOLVA_CONNECT_LF";
        case IOCTL_TOLVA_CONNECT_GMM:
            return "IOCTL_TOLVA_CONNECT_GMM";
        default:
            return nullptr;
    }
}

// The three connect requests differ only in the mode the device keeps.
enum class ConnectMode : int32_t { Normal = 0, LongFrame = 1, Gmm = 2 };

constexpr bool isConnectRequest(uint32_t code) {
    return code == IOCTL_TOLVA_CONNECT || code == IOCTL_TOLVA_CONNECT_LF ||
           code == IOCTL_TOLVA_CONNECT_GMM;
}
// Only meaningful for a connect request.
constexpr ConnectMode connectModeOf(uint32_t code) {
    return code == IOCTL_TOLVA_CONNECT_LF    ? ConnectMode::LongFrame
           : code == IOCTL_TOLVA_CONNECT_GMM ? ConnectMode::Gmm
                                             : ConnectMode::Normal;
}

// Line states as the status block reports them; each names the step that
// the connect sequence takes next.
struct LineState {
    static constexpr int32_t Idle = 0;             // not connected, or a GMM connect finished
    static constexpr int32_t Accepted = 1;         // next: clear the chip areas
    static constexpr int32_t Prepare = 2;          // next: write the preparation values
    static constexpr int32_t SetUp = 1000;         // next: command register to set-up
    static constexpr int32_t Station = 1001;       // next: station address, size and mode
    static constexpr int32_t ClearCommand = 1002;  // next: clear the command register
    static constexpr int32_t Start = 1003;         // next: the start command
    static constexpr int32_t Running = 1004;       // supervising the running bit
};

}  // namespace kalvo::requests
