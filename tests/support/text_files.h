// Small files through which a test and its child programs tell each other
// what happened: written whole under another name and renamed, so that a
// reader polling for one never sees half of it.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kalvo::testing {

inline void writeText(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    std::ofstream(temporary) << text;
    std::filesystem::rename(temporary, path);
}

// Empty when the file is not there.
inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace kalvo::testing
