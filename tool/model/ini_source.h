// Opening the tool's ini files through the ini class with their text as
// UTF-8: a file that is not valid UTF-8 is taken as CP932 and converted.
#pragma once

#include <string>

#include "api/configfiles/kalvo_ini_class.h"

namespace kalvo::tool {

enum class IniOpen { ok, missing, failed };

// *status: missing when there is no file, failed when it could not be read.
// *converted: the file was CP932. The object writes back to path.
configfiles::TKalvoIniClass openIniUtf8(const std::string& path, IniOpen* status, bool* converted);

// A strict whole number (blanks around it allowed): false for "", "12x",
// "1.5" and numbers beyond 32 bits.
bool wholeNumber(std::string_view text, int32_t* value);

}  // namespace kalvo::tool
