// kalvo get and kalvo set: one unit opened, read or written, closed, as an
// application does it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/commands.h"
#include "cli/folder_config.h"
#include "cli/kalvo_library.h"
#include "kalvo/kalvo_errors.h"

namespace kalvo::cli {
namespace {

struct Target {
    std::string family;
    int32_t number = 0;
    std::string name;    // "DIO_1"
    int32_t index = -1;  // bit, channel or job; -1 when none given
    std::string word;    // in, out, status, receive, send
};

bool parseNumber(const std::string& text, long min, long max, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (*end || errno || v < min || v > max) return false;
    *value = v;
    return true;
}

bool parseTarget(const UnitRequest& request, Target* target) {
    std::string name = request.unit;
    std::string index;
    const size_t dot = name.find('.');
    if (dot != std::string::npos) {
        index = name.substr(dot + 1);
        name.resize(dot);
    }
    if (!parseUnitName(name, &target->family, &target->number)) {
        std::fprintf(stderr,
                     "kalvo: \"%s\" is not a unit; give FAMILY_N with a family of DIO, ADA, "
                     "AXSA or SIO and N from 1 to 1024 (e.g. DIO_1, DIO_1.5, ADA_2.3)\n",
                     request.unit.c_str());
        return false;
    }
    target->name = target->family + "_" + std::to_string(target->number);
    const std::string& channel = request.channel;
    long n = 0;
    if (!channel.empty() && parseNumber(channel, 0, 1024, &n)) {
        if (!index.empty()) {
            std::fprintf(stderr, "kalvo: %s gives its channel twice (\"%s\" and \"%s\")\n",
                         request.unit.c_str(), index.c_str(), channel.c_str());
            return false;
        }
        index = channel;
    } else {
        target->word = channel;
    }
    if (!index.empty()) {
        if (!parseNumber(index, 0, 1024, &n)) {
            std::fprintf(stderr, "kalvo: \"%s\" in %s is not a bit, channel or job number\n",
                         index.c_str(), request.unit.c_str());
            return false;
        }
        target->index = static_cast<int32_t>(n);
    }
    return true;
}

// The failure of a call, with the code's name and meaning; the exit status.
int failed(const Target& t, const char* call, int32_t ret) {
    const char* name = kalvo_api_error_name(ret);
    std::fprintf(stderr, "kalvo: %s: %s gives %s (%d): %s\n", t.name.c_str(), call,
                 name ? name : "an unknown code", ret, kalvo_api_error_text(ret));
    return kExitFailed;
}

int badWord(const Target& t, const char* allowed) {
    std::fprintf(stderr, "kalvo: %s: \"%s\" is not understood here; %s\n", t.name.c_str(),
                 t.word.c_str(), allowed);
    return kExitUsage;
}

// Opens the unit for the duration of one command.
class OpenUnit {
  public:
    OpenUnit(KalvoLibrary& library, const Target& t) : library_(library), t_(t) {
        ret_ = library.open(t.family, t.number);
    }
    ~OpenUnit() {
        if (ret_ == 0) library_.close(t_.family, t_.number);
    }
    int32_t result() const { return ret_; }

  private:
    KalvoLibrary& library_;
    const Target& t_;
    int32_t ret_;
};

std::string shown(const uint8_t* bytes, int32_t count) {
    std::string text;
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
    return text;
}

int sioReceive(KalvoLibrary& lib, const Target& t, int timeoutMs) {
    const int32_t channel = t.index < 0 ? 1 : t.index;
    int32_t ret = lib.KV_SIO_Config(t.number, channel, 0, 0, 0, 0, 0, 0);
    if (ret != 0) return failed(t, "KV_SIO_Config", ret);
    std::fprintf(stderr, "kalvo: %s channel %d: receiving for %d ms\n", t.name.c_str(), channel,
                 timeoutMs);
    std::string text;
    uint8_t byte = 0;
    int32_t received = 0;
    // The first byte within the time given; the rest of the message while it
    // keeps coming (a block of six bytes takes about 2 ms on the line).
    ret = lib.KV_SIO_GetData(t.number, channel, &byte, 1, &received, timeoutMs ? timeoutMs : 1);
    while (ret == 0 && received == 1) {
        text += shown(&byte, 1);
        ret = lib.KV_SIO_GetData(t.number, channel, &byte, 1, &received, 200);
    }
    if (ret != 0 && ret != KALVO_ERR_TIMEOUT) return failed(t, "KV_SIO_GetData", ret);
    if (text.empty()) {
        std::fprintf(stderr, "kalvo: %s channel %d: nothing arrived in %d ms\n", t.name.c_str(),
                     channel, timeoutMs);
        return kExitFailed;
    }
    std::printf("%s\n", text.c_str());
    return kExitOk;
}

}  // namespace

int runGet(const UnitRequest& request) {
    Target t;
    if (!parseTarget(request, &t)) return kExitUsage;
    KalvoLibrary lib;
    std::string why;
    if (!lib.load(&why)) {
        std::fprintf(stderr, "kalvo: %s\n", why.c_str());
        return kExitFailed;
    }
    OpenUnit unit(lib, t);
    if (unit.result() != 0) return failed(t, ("KV_" + t.family + "_Open").c_str(), unit.result());
    int32_t ret = 0;
    if (t.family == "DIO") {
        if (!t.word.empty() && t.word != "in" && t.word != "out")
            return badWord(t, "give in (the input word, the default) or out (the output word)");
        const bool out = t.word == "out";
        if (t.index >= 0) {
            int32_t bit = 0;
            ret = out ? lib.KV_DIO_InODataBit(t.number, t.index, &bit)
                      : lib.KV_DIO_InDataBit(t.number, t.index, &bit);
            if (ret != 0) return failed(t, out ? "KV_DIO_InODataBit" : "KV_DIO_InDataBit", ret);
            std::printf("%d\n", bit);
        } else {
            uint16_t word = 0;
            ret = out ? lib.KV_DIO_InOData(t.number, &word) : lib.KV_DIO_InData(t.number, &word);
            if (ret != 0) return failed(t, out ? "KV_DIO_InOData" : "KV_DIO_InData", ret);
            std::printf("0x%04X\n", word);
        }
        return kExitOk;
    }
    if (t.family == "ADA") {
        if (!t.word.empty() && t.word != "in" && t.word != "out")
            return badWord(t, "give in (the input value, the default) or out (the output value)");
        const bool out = t.word == "out";
        int32_t value = 0;
        ret = out ? lib.KV_ADA_InOValue(t.number, t.index < 0 ? 1 : t.index, &value)
                  : lib.KV_ADA_InValue(t.number, t.index < 0 ? 1 : t.index, &value);
        if (ret != 0) return failed(t, out ? "KV_ADA_InOValue" : "KV_ADA_InValue", ret);
        std::printf("%d\n", value);
        return kExitOk;
    }
    if (t.family == "AXSA") {
        if (!t.word.empty() && t.word != "status")
            return badWord(t, "an axis unit gives its status: kalvo get AXSA_1 status");
        uint16_t status = 0;
        int32_t data = 0;
        ret = lib.KV_AXSA_GetStatus(t.number, t.index < 0 ? 1 : t.index, &status, &data);
        if (ret != 0) return failed(t, "KV_AXSA_GetStatus", ret);
        std::printf("status 0x%04X data %d\n", status, data);
        return kExitOk;
    }
    if (t.word != "receive") return badWord(t, "a serial unit reads with: kalvo get SIO_1 receive");
    return sioReceive(lib, t, request.timeoutMs);
}

int runSet(const UnitRequest& request) {
    Target t;
    if (!parseTarget(request, &t)) return kExitUsage;
    long value = 0;
    const bool sio = t.family == "SIO";
    if (t.family == "AXSA") {
        std::fprintf(stderr,
                     "kalvo: %s: axis units take commands, not values; kalvo reads their status "
                     "(kalvo get %s status)\n",
                     t.name.c_str(), t.name.c_str());
        return kExitUsage;
    }
    if (sio && t.word != "send")
        return badWord(t, "a serial unit sends with: kalvo set SIO_1 send TEXT");
    if (!sio && !t.word.empty()) return badWord(t, "give a bit or channel number, then the value");
    if (!sio) {
        const long max = t.family == "DIO" ? (t.index >= 0 ? 1 : 0xFFFF) : 4095;
        if (!parseNumber(request.value, 0, max, &value)) {
            std::fprintf(stderr, "kalvo: %s: the value \"%s\" is not a number from 0 to %ld\n",
                         t.name.c_str(), request.value.c_str(), max);
            return kExitUsage;
        }
    }
    KalvoLibrary lib;
    std::string why;
    if (!lib.load(&why)) {
        std::fprintf(stderr, "kalvo: %s\n", why.c_str());
        return kExitFailed;
    }
    OpenUnit unit(lib, t);
    if (unit.result() != 0) return failed(t, ("KV_" + t.family + "_Open").c_str(), unit.result());
    int32_t ret = 0;
    if (t.family == "DIO") {
        ret = t.index >= 0 ? lib.KV_DIO_OutDataBit(t.number, t.index, static_cast<int32_t>(value))
                           : lib.KV_DIO_OutData(t.number, static_cast<int32_t>(value));
        return ret == 0 ? kExitOk
                        : failed(t, t.index >= 0 ? "KV_DIO_OutDataBit" : "KV_DIO_OutData", ret);
    }
    if (t.family == "ADA") {
        ret = lib.KV_ADA_OutValue(t.number, t.index < 0 ? 1 : t.index, static_cast<int32_t>(value));
        return ret == 0 ? kExitOk : failed(t, "KV_ADA_OutValue", ret);
    }
    const int32_t channel = t.index < 0 ? 1 : t.index;
    ret = lib.KV_SIO_Config(t.number, channel, 0, 0, 0, 0, 0, 0);
    if (ret != 0) return failed(t, "KV_SIO_Config", ret);
    int32_t sent = 0;
    ret = lib.KV_SIO_PutData(t.number, channel,
                             reinterpret_cast<const uint8_t*>(request.value.data()),
                             static_cast<int32_t>(request.value.size()), &sent, request.timeoutMs);
    if (ret != 0) return failed(t, "KV_SIO_PutData", ret);
    return kExitOk;
}

}  // namespace kalvo::cli
