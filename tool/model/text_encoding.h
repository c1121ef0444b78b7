// Text encoding of the configuration files: the tool writes UTF-8; folders
// written by the earlier Windows generation hold Shift-JIS (code page 932)
// texts, which are recognised by not being valid UTF-8 and converted.
#pragma once

#include <string>
#include <string_view>

namespace kalvo::tool {

bool isValidUtf8(std::string_view text);

// CP932 bytes to UTF-8 (glibc iconv). Bytes that do not convert become "?",
// so a damaged file still loads. False only when no converter exists.
bool cp932ToUtf8(std::string_view text, std::string* out);

// A whole file as UTF-8. *converted tells whether it was read as CP932.
enum class TextRead { ok, missing, failed };
TextRead readTextFileUtf8(const std::string& path, std::string* out, bool* converted);

}  // namespace kalvo::tool
