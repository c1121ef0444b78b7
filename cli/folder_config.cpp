#include "cli/folder_config.h"

#include <strings.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kalvo::cli {
namespace {

const char* const kFamilies[] = {"DIO", "ADA", "AXSA", "SIO"};

}  // namespace

bool parseUnitName(const std::string& name, std::string* family, int32_t* number) {
    const size_t underscore = name.find('_');
    if (underscore == std::string::npos) return false;
    const std::string head = name.substr(0, underscore);
    const std::string tail = name.substr(underscore + 1);
    if (tail.empty() || tail.size() > 4 ||
        tail.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int32_t n = std::stoi(tail);
    if (n < 1 || n > kMaxUnit) return false;
    for (const char* f : kFamilies) {
        if (strcasecmp(f, head.c_str()) == 0) {
            *family = f;
            *number = n;
            return true;
        }
    }
    return false;
}

std::vector<int32_t> offsetsOf(const configfiles::KalvoUnitSection& placement) {
    std::vector<int32_t> list;
    for (int32_t i = 0; i < placement.offsets.count && i < configfiles::kMaxOffsets; ++i) {
        if (placement.offsets.offsets[i] < 0) break;
        list.push_back(placement.offsets.offsets[i]);
    }
    return list;
}

FolderConfig readFolder(const std::string& folder) {
    FolderConfig config;
    std::error_code ec;
    config.folder = std::filesystem::absolute(folder, ec).lexically_normal().string();
    if (config.folder.size() > 1 && config.folder.back() == '/') config.folder.pop_back();
    config.iniPath = config.folder + "/Kalvo.ini";
    config.iniExists = std::filesystem::exists(config.iniPath, ec);
    if (!config.iniExists) return config;
    if (std::filesystem::is_directory(config.iniPath, ec)) {
        config.iniProblem = "it is a folder, not a file";
        return config;
    }
    // Section names as they stand in the file; the keys are read through
    // the same profile reader the library uses.
    std::ifstream in(config.iniPath, std::ios::binary);
    if (!in) {
        config.iniProblem = std::strerror(errno);
        return config;
    }
    config.iniReadable = true;
    config.boardCount = configfiles::readBoardCount(config.iniPath);
    for (int32_t b = 1; b <= std::min(config.boardCount, kMaxBoards); ++b)
        config.boards.push_back({b, configfiles::readBoardSection(config.iniPath, b)});

    std::string line;
    while (std::getline(in, line)) {
        const size_t open = line.find_first_not_of(" \t");
        if (open == std::string::npos || line[open] != '[') continue;
        const size_t close = line.find(']', open);
        if (close == std::string::npos) continue;
        const std::string name = line.substr(open + 1, close - open - 1);
        UnitEntry unit;
        if (!parseUnitName(name, &unit.family, &unit.number)) continue;
        unit.section = unit.family + "_" + std::to_string(unit.number);
        unit.placement = configfiles::readUnitSection(config.iniPath, name);
        config.units.push_back(unit);
    }
    return config;
}

}  // namespace kalvo::cli
