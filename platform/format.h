// wsprintf-style formatting into fixed buffers.
//
// Windows code is LLP64: "%d", "%ld", "%x", "%lx", "%u" and "%lu" all take a
// 32-bit value, so a log text written for Windows prints correctly here from
// int32_t / uint32_t arguments. "%lld", "%llx", "%I64d", "%I64x" take 64 bits;
// "%p" a pointer; "%s" a C string ("(null)" for null); "%c" a character;
// "%%". Flags '-', '0', '+', ' ', '#', width and precision (also '*') as in C.
// No floating point (wsprintf has none). Output is cut to fit the buffer and
// always NUL-terminated; the result is the number of bytes stored without the
// NUL.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/export.h"

namespace kalvo::platform {

KALVO_PLATFORM_API int formatV(char* buffer, size_t size, const char* format,
                               va_list args) noexcept;
KALVO_PLATFORM_API int format(char* buffer, size_t size, const char* format, ...) noexcept;

template <size_t N>
int formatTo(char (&buffer)[N], const char* fmt, auto... args) noexcept {
    return format(buffer, N, fmt, args...);
}

}  // namespace kalvo::platform
