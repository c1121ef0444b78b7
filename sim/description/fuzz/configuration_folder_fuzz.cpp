// A configuration folder as the device host reads it: the input is split at
// its first NUL byte into Kalvo.ini and ModelTbl.ini. The boards, stations,
// units and model texts are read; any bytes either give a network or say
// why not, and never crash or take long (a huge "UnitCount" included).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "sim/description/network_description.h"

namespace {

std::string gDir;

void removeDir() {
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
}

void write(const std::string& path, std::string_view text) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/kalvo-folder-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    gDir = dir;
    std::atexit(removeDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kalvo::sim;
    if (gDir.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t nul = text.find('\0');
    write(gDir + "/Kalvo.ini", text.substr(0, nul));
    write(gDir + "/ModelTbl.ini", nul == std::string_view::npos ? "" : text.substr(nul + 1));
    std::string error;
    std::vector<BoardSpec> boards = boardsOfConfigurationFolder(gDir, &error);
    if (!error.empty()) return 0;
    NetworkDescription spec = loadConfigurationFolder(gDir, boards, &error);
    if (error.empty()) {
        // A network read from a folder is one the host's own file form holds.
        std::string formatted = formatNetworkText(spec);
        std::string again;
        parseNetworkText(formatted, &again);
        if (!again.empty()) {
            std::fprintf(stderr, "folder fuzz: its network file does not read: %s\n%s",
                         again.c_str(), formatted.c_str());
            std::abort();
        }
    }
    return 0;
}
