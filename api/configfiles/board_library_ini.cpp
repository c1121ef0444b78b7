#include "api/configfiles/board_library_ini.h"

#include "platform/profile.h"

namespace kalvo::configfiles {

std::string boardLibraryIniFileName(std::string_view libraryName) {
    std::string bare(libraryName);
    bare += ".ini";
    std::string full = kalvo::platform::fullPathName(bare);
    return full.empty() ? bare : full;
}

int32_t readBoardBaudCode(const std::string& file, int32_t board) {
    // Only line 0: every board library build drives one line.
    return kalvo::platform::profileGetInt(file, "BOARD_" + std::to_string(board), "Baudrate_0", -1);
}

}  // namespace kalvo::configfiles
