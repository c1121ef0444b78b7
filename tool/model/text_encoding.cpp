#include "tool/model/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "platform/file_io.h"

namespace kalvo::tool {

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        uint32_t min = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

bool cp932ToUtf8(std::string_view text, std::string* out) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out->clear();
    out->reserve(text.size() * 3 / 2 + 16);
    char buffer[4096];
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0) {
        char* o = buffer;
        size_t oLeft = sizeof buffer;
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out->append(buffer, size_t(o - buffer));
        if (r == size_t(-1) && errno != E2BIG) {
            // An invalid or cut-off sequence: one byte becomes "?".
            out->push_back('?');
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return true;
}

TextRead readTextFileUtf8(const std::string& path, std::string* out, bool* converted) {
    *converted = false;
    std::string raw;
    switch (platform::readWholeFile(path, raw)) {
        case platform::ReadResult::missing:
            return TextRead::missing;
        case platform::ReadResult::failed:
            return TextRead::failed;
        case platform::ReadResult::ok:
            break;
    }
    if (isValidUtf8(raw)) {
        *out = std::move(raw);
        return TextRead::ok;
    }
    if (!cp932ToUtf8(raw, out)) return TextRead::failed;
    *converted = true;
    return TextRead::ok;
}

}  // namespace kalvo::tool
