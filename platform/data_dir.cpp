#include "platform/data_dir.h"

#include <system_error>

namespace kalvo::platform {

std::filesystem::path programFolder() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

std::filesystem::path installedDataPath(std::string_view name) {
    const std::filesystem::path bin = programFolder();
    const std::filesystem::path prefix = bin.empty() ? std::filesystem::path(".") : bin / "..";
    return (prefix / "share" / "kalvo" / name).lexically_normal();
}

}  // namespace kalvo::platform
