// How an application uses a serial channel: open the unit, configure the
// channel once (line settings and buffer sizes; this also starts the
// library's receive thread for the channel), then send with KV_SIO_PutData
// and receive with KV_SIO_GetData, each with a time limit, and close.
#include "sample_units.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "kalvo/kalvo.h"

namespace {

constexpr int32_t kUnit = 1;
constexpr int32_t kChannel = 1;
constexpr int32_t kTimeoutMs = 2000;

// The line settings are the unit's own codes; the library ORs them and
// passes the low six bits on. 0 leaves the unit at its defaults.
constexpr int32_t kBaud = 0, kBits = 0, kParity = 0, kStopBits = 0;

// The text as C would write it, so a reader sees \r and \n.
std::string shown(const uint8_t* bytes, int32_t count) {
    std::string text = "\"";
    for (int32_t i = 0; i < count; ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c >= 0x20 && c < 0x7F) {
            text += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", bytes[i]);
            text += hex;
        }
    }
    return text + "\"";
}

}  // namespace

int runSioSample(const SampleOptions&) {
    std::printf("SIO_%d, channel %d: a line of text out and back through the unit\n", kUnit,
                kChannel);
    int32_t ret = KV_SIO_Open(kUnit);
    if (ret != 0) {
        std::printf("  KV_SIO_Open = %d: SIO_%d did not open (section [SIO_%d] of Kalvo.ini?)\n",
                    ret, kUnit, kUnit);
        return 1;
    }
    // Receive and send rings of 4096 bytes (the smallest; 0 asks for that).
    ret = KV_SIO_Config(kUnit, kChannel, kBaud, kBits, kParity, kStopBits, 0, 0);
    bool ok = ret == 0;
    if (!ok) std::printf("  KV_SIO_Config = %d\n", ret);

    const char* line = "Hello from kalvo-sample through SIO_1\r\n";
    const auto* out = reinterpret_cast<const uint8_t*>(line);
    const auto length = static_cast<int32_t>(std::strlen(line));
    int32_t sent = 0;
    if (ok) {
        // Six bytes go per handshake with the unit; the call returns when
        // the unit has taken them all, or at the time limit (0x11).
        ret = KV_SIO_PutData(kUnit, kChannel, out, length, &sent, kTimeoutMs);
        std::printf("  sent     %s  %d of %d bytes, KV_SIO_PutData = %d\n",
                    shown(out, sent).c_str(), sent, length, ret);
        ok = ret == 0 && sent == length;
    }
    if (ok) {
        // Waits until `length` bytes have arrived, or the time limit; what
        // did arrive is delivered either way.
        uint8_t back[64] = {};
        int32_t received = 0;
        ret = KV_SIO_GetData(kUnit, kChannel, back, length, &received, kTimeoutMs);
        std::printf("  received %s  %d of %d bytes, KV_SIO_GetData = %d\n",
                    shown(back, received).c_str(), received, length, ret);
        ok = ret == 0 && received == length && std::memcmp(back, out, length) == 0;
    }
    int32_t waiting = 0;
    KV_SIO_CheckBuffer(kUnit, kChannel, &waiting);
    std::printf("  %s; %d bytes left in the receive buffer\n",
                ok ? "the line came back whole" : "the line did NOT come back", waiting);
    KV_SIO_Close(kUnit);
    return ok ? 0 : 1;
}
