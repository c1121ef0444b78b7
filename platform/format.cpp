#include "platform/format.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

namespace kalvo::platform {
namespace {

// Output into a fixed buffer: everything past size - 1 bytes is dropped, the
// NUL is added at the end.
class Sink {
  public:
    Sink(char* buffer, size_t size) : buf_(buffer), room_(size - 1) {}
    void put(char c) {
        if (len_ < room_) buf_[len_++] = c;
    }
    void put(const char* s, size_t n) {
        size_t take = n < room_ - len_ ? n : room_ - len_;
        std::memcpy(buf_ + len_, s, take);
        len_ += take;
    }
    void fill(char c, size_t n) {
        size_t take = n < room_ - len_ ? n : room_ - len_;
        std::memset(buf_ + len_, c, take);
        len_ += take;
    }
    int finish() {
        buf_[len_] = '\0';
        return static_cast<int>(len_);
    }

  private:
    char* buf_;
    size_t room_;
    size_t len_ = 0;
};

struct FieldFormat {
    bool left = false, zero = false, plus = false, space = false, alt = false;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
};

// Width and precision beyond any buffer only cost time; this bound keeps a
// hostile "%999999999d" cheap while never changing a real result.
constexpr size_t kMaxField = 1u << 20;

size_t clampField(long long v) {
    if (v < 0) return 0;
    return v > static_cast<long long>(kMaxField) ? kMaxField : static_cast<size_t>(v);
}

void pad(Sink& out, char c, size_t used, size_t width) {
    if (width > used) out.fill(c, width - used);
}

// One integer conversion: sign or prefix, precision zeros, digits, width.
void putInteger(Sink& out, const FieldFormat& field, uint64_t magnitude, bool negative,
                unsigned base, bool upper, bool isSigned) {
    const char* digitsSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[24];
    size_t nd = 0;
    if (!(field.hasPrecision && field.precision == 0 && magnitude == 0)) {
        do {
            digits[nd++] = digitsSet[magnitude % base];
            magnitude /= base;
        } while (magnitude != 0);
    }
    // The octal '#' form always leads with a 0, so a zero value with precision
    // 0 still prints "0" (as C does).
    if (!isSigned && field.alt && base == 8 && nd == 0) digits[nd++] = '0';
    char prefix[2];
    size_t np = 0;
    if (isSigned) {
        if (negative) {
            prefix[np++] = '-';
        } else if (field.plus) {
            prefix[np++] = '+';
        } else if (field.space) {
            prefix[np++] = ' ';
        }
    } else if (field.alt && nd > 0 && !(nd == 1 && digits[0] == '0')) {
        if (base == 16) {
            prefix[np++] = '0';
            prefix[np++] = upper ? 'X' : 'x';
        } else if (base == 8) {
            prefix[np++] = '0';
        }
    }
    size_t zeros = (field.hasPrecision && field.precision > nd) ? field.precision - nd : 0;
    if (base == 8 && np == 1 && prefix[0] == '0' && zeros > 0) np = 0;  // already leads with 0
    size_t body = np + zeros + nd;
    if (field.left) {
        out.put(prefix, np);
        out.fill('0', zeros);
        while (nd > 0) out.put(digits[--nd]);
        pad(out, ' ', body, field.width);
    } else if (field.zero && !field.hasPrecision) {
        out.put(prefix, np);
        pad(out, '0', body, field.width);
        out.fill('0', zeros);
        while (nd > 0) out.put(digits[--nd]);
    } else {
        pad(out, ' ', body, field.width);
        out.put(prefix, np);
        out.fill('0', zeros);
        while (nd > 0) out.put(digits[--nd]);
    }
}

void putText(Sink& out, const FieldFormat& field, const char* s, size_t n) {
    if (!field.left) pad(out, ' ', n, field.width);
    out.put(s, n);
    if (field.left) pad(out, ' ', n, field.width);
}

enum class Size { Char, Short, Int, Wide64, SizeT };

}  // namespace

int formatV(char* buffer, size_t size, const char* format, va_list args) noexcept {
    if (buffer == nullptr || size == 0) return 0;
    Sink out(buffer, size);
    if (format == nullptr) return out.finish();

    va_list ap;
    va_copy(ap, args);
    const char* p = format;
    while (*p != '\0') {
        if (*p != '%') {
            const char* run = p;
            while (*p != '\0' && *p != '%') ++p;
            out.put(run, static_cast<size_t>(p - run));
            continue;
        }
        const char* start = p++;
        FieldFormat field;
        for (;; ++p) {
            if (*p == '-') {
                field.left = true;
            } else if (*p == '0') {
                field.zero = true;
            } else if (*p == '+') {
                field.plus = true;
            } else if (*p == ' ') {
                field.space = true;
            } else if (*p == '#') {
                field.alt = true;
            } else {
                break;
            }
        }
        if (*p == '*') {
            int w = va_arg(ap, int);
            if (w < 0) {
                field.left = true;
                field.width = clampField(-static_cast<long long>(w));
            } else {
                field.width = clampField(w);
            }
            ++p;
        } else {
            long long w = 0;
            while (*p >= '0' && *p <= '9') {
                if (w < static_cast<long long>(kMaxField)) w = w * 10 + (*p - '0');
                ++p;
            }
            field.width = clampField(w);
        }
        if (*p == '.') {
            ++p;
            field.hasPrecision = true;
            if (*p == '*') {
                int pr = va_arg(ap, int);
                // A negative precision counts as none.
                field.hasPrecision = pr >= 0;
                field.precision = clampField(pr);
                ++p;
            } else {
                long long pr = 0;
                while (*p >= '0' && *p <= '9') {
                    if (pr < static_cast<long long>(kMaxField)) pr = pr * 10 + (*p - '0');
                    ++p;
                }
                field.precision = clampField(pr);
            }
        }
        // Size prefixes. 'l' is 32 bits as on an LLP64 system; 64 bits take
        // "ll" or "I64".
        Size sz = Size::Int;
        bool wideText = false;
        if (p[0] == 'h' && p[1] == 'h') {
            sz = Size::Char;
            p += 2;
        } else if (p[0] == 'h') {
            sz = Size::Short;
            ++p;
        } else if (p[0] == 'l' && p[1] == 'l') {
            sz = Size::Wide64;
            p += 2;
        } else if (p[0] == 'l' || p[0] == 'w') {
            wideText = true;  // only for %lc / %ls
            ++p;
        } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            sz = Size::Wide64;
            p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            p += 3;
        } else if (p[0] == 'z' || p[0] == 'I') {
            sz = Size::SizeT;
            ++p;
        } else if (p[0] == 'j') {
            sz = Size::Wide64;
            ++p;
        }

        char conv = *p;
        if (conv == '\0') {
            // A lone '%' at the end is printed as it stands.
            out.put(start, static_cast<size_t>(p - start));
            break;
        }
        ++p;
        switch (conv) {
            case 'd':
            case 'i': {
                int64_t v;
                if (sz == Size::Wide64) {
                    v = va_arg(ap, long long);
                } else if (sz == Size::SizeT) {
                    v = static_cast<int64_t>(va_arg(ap, ptrdiff_t));
                } else {
                    int32_t i = va_arg(ap, int);
                    if (sz == Size::Short) i = static_cast<int16_t>(i);
                    if (sz == Size::Char) i = static_cast<signed char>(i);
                    v = i;
                }
                uint64_t mag = v < 0 ? 0u - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
                putInteger(out, field, mag, v < 0, 10, false, true);
                break;
            }
            case 'u':
            case 'x':
            case 'X':
            case 'o': {
                uint64_t v;
                if (sz == Size::Wide64) {
                    v = va_arg(ap, unsigned long long);
                } else if (sz == Size::SizeT) {
                    v = va_arg(ap, size_t);
                } else {
                    uint32_t u = va_arg(ap, unsigned int);
                    if (sz == Size::Short) u = static_cast<uint16_t>(u);
                    if (sz == Size::Char) u = static_cast<uint8_t>(u);
                    v = u;
                }
                unsigned base = conv == 'u' ? 10 : conv == 'o' ? 8 : 16;
                putInteger(out, field, v, false, base, conv == 'X', false);
                break;
            }
            case 'p': {
                // A pointer prints as all its hex digits, upper case, no prefix.
                FieldFormat ps = field;
                ps.hasPrecision = true;
                ps.precision = 2 * sizeof(void*);
                ps.alt = false;
                auto v = reinterpret_cast<uintptr_t>(va_arg(ap, void*));
                putInteger(out, ps, v, false, 16, true, false);
                break;
            }
            case 'c':
            case 'C': {
                int c = va_arg(ap, int);  // wchar_t and char both arrive as int
                char ch = static_cast<char>(c);
                if ((wideText || conv == 'C') && (c < 0 || c > 0x7F)) ch = '?';
                putText(out, field, &ch, 1);
                break;
            }
            case 's':
            case 'S': {
                if (wideText || conv == 'S') {
                    // Wide text narrows byte by byte; characters outside ASCII
                    // become '?'.
                    const wchar_t* ws = va_arg(ap, const wchar_t*);
                    if (ws == nullptr) {
                        putText(out, field, "(null)",
                                field.hasPrecision && field.precision < 6 ? field.precision : 6);
                        break;
                    }
                    size_t n = 0;
                    while ((!field.hasPrecision || n < field.precision) && ws[n] != L'\0') ++n;
                    if (!field.left) pad(out, ' ', n, field.width);
                    for (size_t i = 0; i < n; ++i) {
                        out.put((ws[i] >= 0 && ws[i] <= 0x7F) ? static_cast<char>(ws[i]) : '?');
                    }
                    if (field.left) pad(out, ' ', n, field.width);
                    break;
                }
                const char* s = va_arg(ap, const char*);
                if (s == nullptr) s = "(null)";
                // With a precision the text need not be terminated within it.
                size_t n = field.hasPrecision ? strnlen(s, field.precision) : std::strlen(s);
                putText(out, field, s, n);
                break;
            }
            case '%':
                out.put('%');
                break;
            default:
                // An unknown conversion consumes no argument and prints its
                // character, as the Windows formatter does.
                out.put(conv);
                break;
        }
    }
    va_end(ap);
    return out.finish();
}

int format(char* buffer, size_t size, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    int n = formatV(buffer, size, format, args);
    va_end(args);
    return n;
}

}  // namespace kalvo::platform
