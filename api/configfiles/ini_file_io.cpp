#include "api/configfiles/ini_file_io.h"

namespace kalvo::configfiles {

std::string projectFilePath(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    size_t end = folder.find_last_not_of("/\\");
    std::string path(end == std::string_view::npos ? std::string_view()
                                                   : folder.substr(0, end + 1));
    path += '/';
    path += name;
    return path;
}

}  // namespace kalvo::configfiles
