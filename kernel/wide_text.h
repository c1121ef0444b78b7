// Conversions between the kernel's counted UTF-16 strings and the host's
// UTF-8 text, and the case folding that object names compare with.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kernel/wdm.h"

namespace kalvo::kernel {

// The characters of a counted string; empty for a null or malformed one
// (odd length, length beyond the maximum, no buffer).
std::u16string_view view(const UNICODE_STRING* string) noexcept;
// UTF-8 to UTF-16; nullopt for malformed UTF-8.
std::optional<std::u16string> fromUtf8(std::string_view text);
std::string toUtf8(std::u16string_view text);
// Upper-cases ASCII and Latin-1 letters, as object names compare.
char16_t upcase(char16_t c) noexcept;
std::u16string upcase(std::u16string_view text);
bool equalNoCase(std::u16string_view a, std::u16string_view b) noexcept;
// The NUL-terminated wide text at p, at most maxChars long.
std::u16string_view terminated(const WCHAR* p, size_t maxChars) noexcept;

}  // namespace kalvo::kernel
