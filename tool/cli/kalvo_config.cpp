// kalvo-config: the configuration tool's command-line companion, so that an
// integrator can build, change and check a configuration folder from a
// script.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "tool/cli/config_commands.h"

namespace {

// ModelTbl.ini of the folder, else the one installed beside the program.
std::string modelTableFor(const std::string& folder) {
    std::error_code ec;
    std::filesystem::path inFolder = std::filesystem::path(folder) / "ModelTbl.ini";
    if (std::filesystem::exists(inFolder, ec)) return inFolder.string();
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return inFolder.string();
    return (self.parent_path() / "ModelTbl.ini").string();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kalvo::tool::cli;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string folder = ".";
    size_t i = 0;
    while (i < args.size()) {
        if (args[i] == "-C" && i + 1 < args.size()) {
            folder = args[i + 1];
            i += 2;
        } else if (args[i].rfind("-C", 0) == 0 && args[i].size() > 2) {
            folder = args[i].substr(2);
            ++i;
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::cout << usage();
            return kExitOk;
        } else {
            break;
        }
    }
    if (i >= args.size()) {
        std::cerr << "kalvo-config: no command given\n" << usage();
        return kExitUsage;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::cerr << "kalvo-config: the configuration folder " << folder
                  << " does not exist; create it or give another with -C\n";
        return kExitFailed;
    }
    Context ctx{folder, modelTableFor(folder), &std::cout, &std::cerr};
    return runCommand(ctx, args[i],
                      std::vector<std::string>(args.begin() + long(i) + 1, args.end()));
}
