// The formatter. Two checks on each input:
// - conversions built from the input (flags, width, precision, size and the
//   conversions wsprintf shares with C) print what the C library's snprintf
//   prints, cut to the buffer as it is;
// - the input itself as a format text, with null arguments enough for every
//   conversion it can hold, never reads or writes outside the buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/format.h"

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint8_t next() { return pos < size ? data[pos++] : 0; }
    bool done() const { return pos >= size; }
};

[[noreturn]] void mismatch(const std::string& format, const char* ours, const char* c) {
    std::fprintf(stderr, "format fuzz: \"%s\" gives \"%s\", C gives \"%s\"\n", format.c_str(), ours,
                 c);
    std::abort();
}

// One conversion with one argument, against snprintf.
template <typename T>
void compare(const std::string& format, size_t size, T value) {
    char ours[600], c[600];
    std::memset(ours, 0x55, sizeof ours);
    int n = kalvo::platform::format(ours, size, format.c_str(), value);
    std::snprintf(c, sizeof c, format.c_str(), value);
    std::string expected(c);
    if (size == 0) {
        if (n != 0 || ours[0] != 0x55) mismatch(format, "(wrote into a zero-size buffer)", c);
        return;
    }
    if (expected.size() > size - 1) expected.resize(size - 1);
    if (static_cast<size_t>(n) != expected.size() || std::strcmp(ours, expected.c_str()) != 0)
        mismatch(format, ours, expected.c_str());
    if (ours[size] != 0x55) mismatch(format, ours, "(wrote past the buffer)");
}

void differential(Reader& in) {
    static const char kConversions[] = "diuxXocs%";
    static const char* const kTexts[] = {"", "a", "text", "a longer text of some size"};
    while (!in.done()) {
        uint8_t flags = in.next(), shape = in.next(), conv = in.next(), sizeByte = in.next();
        char c = kConversions[conv % (sizeof kConversions - 1)];
        bool integer = std::strchr("diuxXo", c) != nullptr;
        std::string format = "<%";
        if (c == '%') {
            compare("<%%>", size_t(flags % 8), 0);  // C gives "%%" no flags
            continue;
        }
        if (flags & 1) format += '-';
        if ((flags & 2) && c != 's' && c != 'c') format += '0';  // C: undefined there
        if ((flags & 4) && integer) format += '+';
        if ((flags & 8) && integer) format += ' ';
        if ((flags & 16) && std::strchr("xXo", c)) format += '#';  // C: defined only there
        if (shape & 1) format += std::to_string((shape >> 1) % 40);
        if ((in.next() & 1) && c != 'c') format += "." + std::to_string(shape % 37);
        bool wide = integer && (sizeByte & 3) == 1;
        if (wide) format += "ll";
        if (integer && (sizeByte & 3) == 2) format += 'h';
        format += c;
        format += '>';
        size_t size = (sizeByte >> 2) % 64 == 0 ? 0 : sizeByte >> 2;
        uint64_t raw = 0;
        for (int i = 0; i < 8; ++i) raw = raw << 8 | in.next();
        if (c == 's') {
            compare(format, size, kTexts[raw % 4]);
        } else if (c == 'c') {
            compare(format, size, static_cast<int>(' ' + raw % 95));
        } else if (wide) {
            if (c == 'd' || c == 'i')
                compare(format, size, static_cast<long long>(raw));
            else
                compare(format, size, static_cast<unsigned long long>(raw));
        } else if (c == 'd' || c == 'i') {
            compare(format, size, static_cast<int>(static_cast<uint32_t>(raw)));
        } else {
            compare(format, size, static_cast<unsigned>(raw));
        }
    }
}

// The input as a format: at most 16 conversions, each taking at most three
// arguments (a '*' width, a '*' precision and the value), all null.
void asFormat(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t percents = 0;
    for (char ch : text) percents += ch == '%';
    if (percents > 16) return;
    char out[256];
    std::memset(out, 0x55, sizeof out);
    void* z = nullptr;
#define KALVO_Z8 z, z, z, z, z, z, z, z
    int n = kalvo::platform::format(out, 200, text.c_str(), KALVO_Z8, KALVO_Z8, KALVO_Z8, KALVO_Z8,
                                    KALVO_Z8, KALVO_Z8);
#undef KALVO_Z8
    // A "%c" of a null argument stores a NUL inside the text, as in C.
    if (n < 0 || n > 199 || out[n] != '\0' || out[200] != 0x55) {
        std::fprintf(stderr, "format fuzz: result %d for a buffer of 200\n", n);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    differential(in);
    asFormat(data, size);
    return 0;
}
