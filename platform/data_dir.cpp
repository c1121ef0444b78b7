#include "platform/data_dir.h"

#include <system_error>

namespace kalvo::platform {

std::filesystem::path installedDataPath(std::string_view name) {
    std::error_code ec;
    // The program itself, not the current directory: a program is often
    // started from inside a configuration folder.
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    std::filesystem::path bin = ec ? std::filesystem::path(".") : self.parent_path();
    return (bin / ".." / "share" / "kalvo" / name).lexically_normal();
}

}  // namespace kalvo::platform
